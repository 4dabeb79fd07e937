// Registry of the on-screen controls that can be paired with hardware controllers.
#pragma once

#include <tuple>
#include <vector>

#include "../widgets/control.h"

class Label;

// The learn fields of a Dial or a Button, reached through a Control pointer.
struct Mappable {
    std::atomic<int>* mode = nullptr;
    CCPairBytes* ccPair = nullptr;
    Label* label = nullptr;
};

// Fills m for a Dial (tested first) or a Button; false for anything else.
bool asMappable(Control* c, Mappable& m);

class CtrlMidiCCList {
  public:
    std::vector<Control*> ctrls;
    std::vector<Control*> selectedCtrls;
    Control* activeCtrl = nullptr;

    // Appends c; no checks.
    void registerCtrl(Control* c) { ctrls.push_back(c); }
    // The last registered control paired with the key's first byte, else the previous match.
    Control* getCtrlActive(const std::tuple<unsigned char, unsigned char>& key);
    // Every control to learn mode, highlighted.
    void setCCOn();
    // Every control to normal mode, neither highlighted nor selected.
    void setCCOff();
    // How many controls are selected.
    int numberCtrlsToSetCC();
    // Brings selectedCtrls in line with the selection flags and returns it.
    std::vector<Control*>& setSelectedCtrls();
    // Unpairs the selected controls, in learn mode only.
    void deleteCtrlsCC();

  private:
    template <class F> void forEach(F f) {
        Mappable m;
        for (Control* c : ctrls)
            if (asMappable(c, m)) f(c, m);
    }
};
