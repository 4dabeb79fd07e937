// The fixed set of widgets in the window, their handlers and registrations.
#pragma once

#include "../widgets/button.h"
#include "../widgets/dial.h"
#include "../widgets/dialog.h"
#include "../widgets/label.h"
#include "generator.h"

// Built once with the window size read back; members are in creation order so
// they are destroyed in reverse. Never copied or moved: handlers and the registry
// hold pointers into it.
struct Panel {
    Dial dialCH, dialCC, dialMAX, dialMIN, dialINRT;
    Button colorButton;
    Label ccLogoLabel, nameLogoLabel, brandLabel, versionLabel, valLabel;
    Dialog learnDialog;
    Button valueButton;

    std::function<void(Button&)> generateValue;
    Dial::Handler showValue, showInertia, showName;
    Dial::Handler channelStepDown, channelStepUp, ccNumberStepDown, ccNumberStepUp;
    Dial::Handler maxStepDown, maxStepUp, minStepDown, minStepUp;
    Dial::Handler inertiaStepDown, inertiaStepUp;
    std::function<void(Button&)> randomizeColors;

    // Lays out and wires every widget for a W x H window; gen must outlive the panel.
    Panel(Generator& gen, int W, int H);
    // Takes the panel's widgets out of the registries that point at them.
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    // Paints every drawn widget in order; the learn dialog last.
    void render();
    // The five dials in event order.
    Dial* dials[5];
};
