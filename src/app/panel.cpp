#include "panel.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "../midi/midi_cc.h"
#include "dial_behaviours.h"

namespace {
int px(double v) {
    return static_cast<int>(v);
}

void placeLabel(Label& l, int x, int y, SDL_Color color, Uint8 alpha, const char* text) {
    l.x = x;
    l.y = y;
    l.textColor = color;
    l.textAlpha = alpha;
    l.text = text;
    l.draw();
}

void setupDial(Dial& d, const char* name) {
    d.name = name;
    d.draw();
    MidiCC::ctrlList.registerCtrl(&d);
}

void install(Dial& d, const Dial::Handler& click, const Dial::Handler& release,
             const Dial::Handler& down, const Dial::Handler& up) {
    d.onClick(click);
    d.onRelease(release);
    d.onDragDown(down);
    d.onDragUp(up);
}

const SDL_Color WHITE_NO_ALPHA = {255, 255, 255, 0};
} // namespace

Panel::Panel(Generator& gen, int W, int H)
    : dialCH(5, 2, 35, 35), dialCC(48, 2, 35, 35), dialMAX(px((W - 35) * 0.5), 72, 35, 35),
      dialMIN(px((W - 35) * 0.5), 124, 35, 35), dialINRT(px((W - 35) * 0.5), 176, 35, 35),
      colorButton(W - 10, 2, 10, 28), ccLogoLabel(25, 13), nameLogoLabel(25, 13), brandLabel(42, 9),
      versionLabel(32, 9), valLabel(35, 15),
      learnDialog(px(W * 0.5 - W * 0.8 * 0.5), px(H * 0.65), px(W * 0.8), px(W * 0.8 * 0.3)),
      valueButton(px((W - W * 0.65) * 0.5), H - 52, px(W * 0.65), 40), dials{&dialCH, &dialCC,
                                                                             &dialMAX, &dialMIN,
                                                                             &dialINRT} {
    setupDial(dialCH, "CH");
    setupDial(dialCC, "CC");
    dialMAX.value = 127;
    dialMAX.angle = static_cast<float>(dialMAX.angleToMidi());
    setupDial(dialMAX, "MAX");
    setupDial(dialMIN, "MIN");
    ctrlList.addCtrl(&dialMIN);
    dialMIN.maxDial = &dialMAX;
    dialMIN.minDial = &dialMIN;
    dialMAX.maxDial = &dialMAX;
    dialMAX.minDial = &dialMIN;
    setupDial(dialINRT, "INRT");

    colorButton.text = "|";
    colorButton.draw();

    placeLabel(ccLogoLabel, W - 26, px((H - 20) * 0.5), WHITE_NO_ALPHA, 140, "CC");
    placeLabel(nameLogoLabel, W - 26, px((H - 20) * 0.5 + 12), WHITE_NO_ALPHA, 140, "zu");
    placeLabel(brandLabel, W - brandLabel.w - 2, H - brandLabel.h - 2, WHITE_NO_ALPHA, 110,
               "tarnel");
    placeLabel(versionLabel, 2, H - versionLabel.h - 2, WHITE_NO_ALPHA, 110, "v0.1");
    placeLabel(valLabel, px((W - 35) * 0.5), 55, {255, 255, 255, 255}, 255, "val");

    learnDialog.text = "CC - ";
    learnDialog.textColor = {0, 0, 0, 255};
    learnDialog.bgColor = TXT_COLOR;
    learnDialog.bgAlpha = 210;
    learnDialog.draw();
    learnDialog.hide();
    MidiCC::dlgCC = &learnDialog;

    valueButton.textColor = WHITE_NO_ALPHA;
    valueButton.text = "0";
    valueButton.draw();
    MidiCC::ctrlList.registerCtrl(&valueButton);

    generateValue = [&gen, this](Button& b) {
        int inertia = inertia_level(dialINRT.value);
        gen.currentValue =
            random_inertia_interval(inertia, dialMAX.value, dialMIN.value, gen.currentValue);
        b.label->text = std::to_string(gen.currentValue);
        b.label->bgColor = b.label->textColor;
        b.label->textColor = BG_COLOR;
    };
    valueButton.onClick(generateValue);

    showValue = ::showValue;
    showInertia = ::showInertia;
    showName = ::showName;
    channelStepDown = [&gen](Dial& d) { stepValue(d, -1, 0, 127), gen.channel = d.value; };
    channelStepUp = [&gen](Dial& d) { stepValue(d, +1, 0, 127), gen.channel = d.value; };
    ccNumberStepDown = [&gen](Dial& d) { stepValue(d, -1, 0, 127), gen.ccNumber = d.value; };
    ccNumberStepUp = [&gen](Dial& d) { stepValue(d, +1, 0, 127), gen.ccNumber = d.value; };
    maxStepDown = [this](Dial& d) { stepValue(d, -1, dialMIN.value, 127); };
    maxStepUp = [](Dial& d) { stepValue(d, +1, 0, 127); };
    minStepDown = [](Dial& d) { stepValue(d, -1, 0, 127); };
    minStepUp = [this](Dial& d) { stepValue(d, +1, 0, dialMAX.value); };
    inertiaStepDown = [](Dial& d) { stepInertia(d, -1); };
    inertiaStepUp = [](Dial& d) { stepInertia(d, +1); };
    install(dialCH, showValue, showName, channelStepDown, channelStepUp);
    install(dialCC, showValue, showName, ccNumberStepDown, ccNumberStepUp);
    install(dialMAX, showValue, showName, maxStepDown, maxStepUp);
    install(dialMIN, showValue, showName, minStepDown, minStepUp);
    install(dialINRT, showInertia, showName, inertiaStepDown, inertiaStepUp);

    randomizeColors = [this](Button&) {
        Uint8 r = rand() % 255;
        Uint8 g = rand() % 255;
        Uint8 b = rand() % 255;
        SDL_Color c = {r, g, b, 255};
        ctrlList.changeTxtColor(c);
        valueButton.textColor = c;
        valueButton.hoverColor = c;
        learnDialog.label->bgColor = {r, g, b, learnDialog.bgAlpha};
        for (Dial* d : dials)
            d->label->textColor = c;
        for (Label* l : {&ccLogoLabel, &nameLogoLabel, &valLabel, &brandLabel, &versionLabel})
            l->textColor = c;
    };
    colorButton.onClick(randomizeColors);

    ctrlList.add(&valueButton);
}

Panel::~Panel() {
    auto drop = [this](std::vector<Control*>& v) {
        for (Control* c : {(Control*)&dialCH, (Control*)&dialCC, (Control*)&dialMAX,
                           (Control*)&dialMIN, (Control*)&dialINRT, (Control*)&valueButton})
            v.erase(std::remove(v.begin(), v.end(), c), v.end());
    };
    drop(MidiCC::ctrlList.ctrls);
    drop(MidiCC::ctrlList.selectedCtrls);
    drop(ctrlList.controls);
    auto& buttons = ctrlList.buttons;
    buttons.erase(std::remove(buttons.begin(), buttons.end(), &valueButton), buttons.end());
    MidiCC::ctrlList.activeCtrl = nullptr;
    if (MidiCC::dlgCC == &learnDialog) MidiCC::dlgCC = nullptr;
}

void Panel::render() {
    valueButton.render();
    for (Label* l : {&ccLogoLabel, &nameLogoLabel, &brandLabel, &versionLabel, &valLabel})
        l->render();
    for (Dial* d : dials)
        d->render();
    learnDialog.render();
}
