#include "follow.h"

#include <string>

#include "dial_behaviours.h"

namespace {
int pairedNumber(const CCPairBytes& p) {
    return std::get<0>(p).load();
}

void followButton(Follow& f, Button& b, int number, int val, Panel& panel, Generator& gen) {
    bool isValue = &b == &panel.valueButton;
    if (pairedNumber(b.ccPair) == number && val != f.previous && !f.ccPressed) {
        if (isValue)
            b.downKey(gen.sendControlChange);
        else
            b.downKey();
        f.ccPressed = true;
        f.previous = static_cast<unsigned char>(val);
    } else if ((f.previous != val || val == 0) && f.ccPressed) {
        b.upKey();
        f.ccPressed = false;
    } else if (!isValue && f.ccPressed) {
        b.upKey();
    }
}

void followDial(Follow& f, Dial& d, int val, Generator& gen) {
    if (val == f.previous) {
        if (++f.waitUntilDisplay == CAPTION_FRAMES) d.label->text = d.savedName;
    } else {
        std::string shown;
        if (d.maxDial || d.minDial) {
            d.value = (d.maxDial == &d && val >= d.minDial->value) ? val : d.minDial->value;
            d.value = (d.minDial == &d && val <= d.maxDial->value) ? val : d.maxDial->value;
            shown = std::to_string(d.value);
        } else if (d.savedName == "CH") {
            d.value = val;
            gen.channel = d.value;
            shown = std::to_string(d.value);
        } else if (d.savedName == "CC") {
            d.value = val;
            gen.ccNumber = d.value;
            shown = std::to_string(d.value);
        } else {
            int k = val / 12;
            d.value = inertia_value(k);
            shown = std::to_string(k);
        }
        d.label->text = shown;
        d.angle = static_cast<float>(d.angleToMidi());
        f.waitUntilDisplay = 0;
    }
    f.previous = static_cast<unsigned char>(val);
}
} // namespace

void followNewPair(Follow& f, int number, int val, Panel& panel, Generator& gen) {
    if (number == f.lastNumber && val == f.lastValue) return;
    f.lastNumber = number;
    f.lastValue = val;
    f.fresh = true;
    followPair(f, number, val, panel, gen);
}

void followFrame(Follow& f, const CCPair& incomingCC, Panel& panel, Generator& gen) {
    int number = std::get<0>(incomingCC);
    int val = std::get<1>(incomingCC);
    bool fresh = f.fresh;
    f.fresh = false;
    if (number != f.lastNumber || val != f.lastValue) {
        f.lastNumber = number;
        f.lastValue = val;
    } else if (fresh) {
        return;
    }
    followPair(f, number, val, panel, gen);
}

void followPair(Follow& f, int number, int val, Panel& panel, Generator& gen) {
    Control* active = MidiCC::ctrlList.getCtrlActive(
        {static_cast<unsigned char>(number), static_cast<unsigned char>(val)});
    if (auto* b = dynamic_cast<Button*>(active))
        followButton(f, *b, number, val, panel, gen);
    else if (auto* d = dynamic_cast<Dial*>(active); d && pairedNumber(d->ccPair) == number)
        followDial(f, *d, val, gen);
}
