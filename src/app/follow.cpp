#include "follow.h"

#include <string>

#include "dial_behaviours.h"

namespace {
int pairedNumber(const CCPairBytes& p) {
    return std::get<0>(p).load();
}

void followButton(Followed& f, Button& b, int number, int val, Panel& panel, Generator& gen) {
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

void followDial(Followed& f, Dial& d, int val, Generator& gen) {
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

// Remembers (number, val) as c's own last pair when it comes from c's controller.
Followed& received(Follow& f, Control& c, const CCPairBytes& paired, int number, int val) {
    Followed& mine = f.of(c);
    if (pairedNumber(paired) == number) {
        mine.number = number;
        mine.value = val;
        mine.fresh = true;
    }
    return mine;
}

void stepControl(Follow& f, Control* active, int number, int val, Panel& panel, Generator& gen) {
    if (auto* b = dynamic_cast<Button*>(active)) {
        followButton(received(f, *b, b->ccPair, number, val), *b, number, val, panel, gen);
    } else if (auto* d = dynamic_cast<Dial*>(active); d && pairedNumber(d->ccPair) == number) {
        followDial(received(f, *d, d->ccPair, number, val), *d, val, gen);
    }
}
} // namespace

Followed& Follow::of(Control& c) {
    for (Followed& slot : controls) {
        if (slot.control == &c) return slot;
        if (!slot.control) {
            slot.control = &c;
            return slot;
        }
    }
    return controls.back();
}

void followNewPair(Follow& f, int number, int val, Panel& panel, Generator& gen) {
    if (number == f.lastNumber && val == f.lastValue) return;
    f.lastNumber = number;
    f.lastValue = val;
    followPair(f, number, val, panel, gen);
}

void followPublished(Follow& f, const CCPair& incomingCC, Panel& panel, Generator& gen) {
    followNewPair(f, std::get<0>(incomingCC), std::get<1>(incomingCC), panel, gen);
}

void followNextFrame(Follow& f) {
    for (Followed& slot : f.controls)
        slot.fresh = false;
}

void followFrame(Follow& f, Panel& panel, Generator& gen) {
    for (Followed& slot : f.controls) {
        if (!slot.control) break;
        if (slot.fresh || slot.number < 0) continue;
        stepControl(f, slot.control, slot.number, slot.value, panel, gen);
    }
}

void followPair(Follow& f, int number, int val, Panel& panel, Generator& gen) {
    Control* active = MidiCC::ctrlList.getCtrlActive(
        {static_cast<unsigned char>(number), static_cast<unsigned char>(val)});
    stepControl(f, active, number, val, panel, gen);
}
