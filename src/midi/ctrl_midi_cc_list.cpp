#include "ctrl_midi_cc_list.h"

#include <algorithm>

#include "../widgets/button.h"
#include "../widgets/dial.h"

bool asMappable(Control* c, Mappable& m) {
    if (auto* d = dynamic_cast<Dial*>(c)) {
        m = {&d->mode, &d->ccPair, d->label.get()};
        return true;
    }
    if (auto* b = dynamic_cast<Button*>(c)) {
        m = {&b->mode, &b->ccPair, b->label.get()};
        return true;
    }
    return false;
}

static void unpair(CCPairBytes& p) {
    std::get<0>(p) = CC_NONE;
    std::get<1>(p) = 0;
}

Control* CtrlMidiCCList::getCtrlActive(const std::tuple<unsigned char, unsigned char>& key) {
    forEach([&](Control* c, Mappable& m) {
        if (std::get<0>(*m.ccPair) == std::get<0>(key)) activeCtrl = c;
    });
    return activeCtrl;
}

void CtrlMidiCCList::setCCOn() {
    forEach([](Control*, Mappable& m) {
        *m.mode = 0;
        m.label->highlighted = true;
    });
    requestPaint();
}

void CtrlMidiCCList::setCCOff() {
    forEach([](Control*, Mappable& m) {
        *m.mode = 1;
        m.label->highlighted = false;
        m.label->selected = false;
    });
    requestPaint();
}

int CtrlMidiCCList::numberCtrlsToSetCC() {
    int n = 0;
    forEach([&](Control*, Mappable& m) { n += m.label->selected ? 1 : 0; });
    return n;
}

std::vector<Control*>& CtrlMidiCCList::setSelectedCtrls() {
    forEach([&](Control* c, Mappable& m) {
        auto at = std::find(selectedCtrls.begin(), selectedCtrls.end(), c);
        bool listed = at != selectedCtrls.end();
        bool sel = m.label->selected;
        if (!listed && sel)
            selectedCtrls.push_back(c);
        else if (listed && !sel)
            selectedCtrls.erase(at);
    });
    return selectedCtrls;
}

void CtrlMidiCCList::deleteCtrlsCC() {
    forEach([](Control*, Mappable& m) {
        if (*m.mode == 0 && m.label->selected) unpair(*m.ccPair);
    });
}
