// Feeds arbitrary incoming MIDI through learn, listen and the follow step and
// checks that everything zu would send is a valid Control Change.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/follow.h"
#include "app/generator.h"
#include "app/panel.h"
#include "midi/midi_cc.h"

namespace {
std::vector<unsigned char> lastSent;
int sends = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

void checkSent(const std::vector<unsigned char>& m) {
    check(m.size() == 3, "three bytes");
    check(m[0] >= 176 && m[0] <= 191, "status is a Control Change");
    check(m[1] <= 127 && m[2] <= 127, "data bytes");
}

void checkDials(Panel& p) {
    for (Dial* d : p.dials) {
        check(d->value >= 0 && d->value <= 127, "dial value in 0..127");
        check(d->angle >= 0 && d->angle <= 270, "knob angle in 0..270");
    }
    check(p.dialMIN.value <= p.dialMAX.value, "MIN <= MAX");
}
} // namespace

// Input: a list of records [op][len][len bytes]. The op picks what the bytes do:
// select a control for learning, take them as a learn message, take them as a
// listen message (followed at once when new) followed by one follow frame, or trigger.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Generator gen;
    gen.ccMessage = {128, 0, 0};
    gen.sendControlChange = [&gen] {
        fill_control_change(gen.ccMessage, gen.channel, gen.ccNumber, gen.currentValue);
        checkSent(gen.ccMessage);
        ++sends;
    };
    Panel panel(gen, 88, 280);
    Follow follow;
    CCPair incoming{-1, 0};
    int learnNumber = -1, number = 0, value = 0;
    Control* mappable[] = {&panel.dialCH,  &panel.dialCC,   &panel.dialMAX,
                           &panel.dialMIN, &panel.dialINRT, &panel.valueButton};
    // A new pair is followed the moment the listen task publishes it, as the frame loop does.
    MidiCC::pairChanged = [&](int n, int v) { followNewPair(follow, n, v, panel, gen); };

    size_t i = 0;
    while (i + 2 <= size) {
        uint8_t op = data[i], len = data[i + 1] % 8;
        i += 2;
        std::vector<unsigned char> msg(data + i, data + std::min(size, i + len));
        i += msg.size();
        switch (op % 4) {
        case 0: { // learn mode: select or deselect a control
            MidiCC::ctrlList.setCCOn();
            Mappable m;
            if (asMappable(mappable[op / 4 % 6], m)) m.label->selected = !m.label->selected;
            break;
        }
        case 1:
            MidiCC::learnTake(msg, learnNumber);
            break;
        case 2:
            MidiCC::ctrlList.setCCOff();
            MidiCC::listenTake(msg, number, value, incoming);
            followNextFrame(follow);
            followFrame(follow, panel, gen);
            break;
        case 3:
            panel.valueButton.downKey(gen.sendControlChange);
            panel.valueButton.upKey();
            break;
        }
        checkDials(panel);
    }
    MidiCC::pairChanged = nullptr;
    MidiCC::ctrlList.setCCOff();
    MidiCC::ctrlList.selectedCtrls.clear();
    return 0;
}
