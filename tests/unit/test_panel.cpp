// The panel as built for the 88 x 280 window: places, start values, wiring and picture.
#include <cstdlib>
#include <vector>

#include "panel_fixture.h"

namespace {

bool sameRect(const SDL_Rect& a, const SDL_Rect& b) {
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

std::string rectStr(const SDL_Rect& r) {
    return "(" + std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.w) + "," +
           std::to_string(r.h) + ")";
}

// The rectangle a label was placed on and the one draw() computed must both be r.
void expectPlaced(const Label& l, SDL_Rect r, const char* what) {
    SDL_Rect placed{l.x, l.y, l.w, l.h};
    EXPECT_TRUE(sameRect(placed, r)) << what << " placed at " << rectStr(placed);
    EXPECT_TRUE(sameRect(l.rect, r)) << what << " drawn at " << rectStr(l.rect);
}

bool inside(const SDL_Rect& r, int x, int y) {
    return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

bool near(Uint8 v, int want) {
    return std::abs(v - want) <= 2;
}

TEST_F(PanelTest, EveryWidgetSitsWhereTheLayoutPutsIt) {
    Panel& p = *panel;
    EXPECT_TRUE(sameRect(p.dialCH.rect, {5, 2, 35, 35})) << rectStr(p.dialCH.rect);
    EXPECT_TRUE(sameRect(p.dialCC.rect, {48, 2, 35, 35})) << rectStr(p.dialCC.rect);
    EXPECT_TRUE(sameRect(p.dialMAX.rect, {26, 72, 35, 35})) << rectStr(p.dialMAX.rect);
    EXPECT_TRUE(sameRect(p.dialMIN.rect, {26, 124, 35, 35})) << rectStr(p.dialMIN.rect);
    EXPECT_TRUE(sameRect(p.dialINRT.rect, {26, 176, 35, 35})) << rectStr(p.dialINRT.rect);
    expectPlaced(*p.colorButton.label, {78, 2, 10, 28}, "colorButton");
    expectPlaced(p.ccLogoLabel, {62, 130, 25, 13}, "ccLogoLabel");
    expectPlaced(p.nameLogoLabel, {62, 142, 25, 13}, "nameLogoLabel");
    expectPlaced(p.brandLabel, {44, 269, 42, 9}, "brandLabel");
    expectPlaced(p.versionLabel, {2, 269, 32, 9}, "versionLabel");
    expectPlaced(p.valLabel, {26, 55, 35, 15}, "valLabel");
    expectPlaced(*p.learnDialog.label, {8, 182, 70, 21}, "learnDialog");
    expectPlaced(*p.valueButton.label, {15, 228, 57, 40}, "valueButton");
}

TEST_F(PanelTest, StartValuesTextsAndLinks) {
    Panel& p = *panel;
    const char* names[5] = {"CH", "CC", "MAX", "MIN", "INRT"};
    for (int i = 0; i < 5; ++i) {
        Dial& d = *p.dials[i];
        bool isMax = &d == &p.dialMAX;
        EXPECT_EQ(isMax ? 127 : 0, d.value) << names[i];
        EXPECT_EQ(isMax ? 270.0f : 0.0f, d.angle) << names[i];
        EXPECT_EQ(names[i], d.savedName);
        EXPECT_EQ(names[i], d.label->text.str());
        EXPECT_EQ(1, d.mode.load());
        EXPECT_EQ(CC_NONE, pairOf(d));
    }
    EXPECT_EQ("0", p.valueButton.label->text.str());
    EXPECT_EQ(CC_NONE, pairOf(p.valueButton));
    EXPECT_EQ("|", p.colorButton.label->text.str());
    EXPECT_EQ("CC", p.ccLogoLabel.text.str());
    EXPECT_EQ("zu", p.nameLogoLabel.text.str());
    EXPECT_EQ("tarnel", p.brandLabel.text.str());
    EXPECT_EQ("v0.1", p.versionLabel.text.str());
    EXPECT_EQ("val", p.valLabel.text.str());
    EXPECT_EQ(140, p.ccLogoLabel.textAlpha);
    EXPECT_EQ(140, p.nameLogoLabel.textAlpha);
    EXPECT_EQ(110, p.brandLabel.textAlpha);
    EXPECT_EQ(110, p.versionLabel.textAlpha);
    EXPECT_EQ(255, p.valLabel.textAlpha);

    EXPECT_FALSE(p.learnDialog.visible);
    EXPECT_EQ("CC - ", p.learnDialog.label->text.str());
    EXPECT_TRUE(sameRGB(p.learnDialog.label->textColor, {0, 0, 0, 255}));
    EXPECT_TRUE(sameRGB(p.learnDialog.label->bgColor, TXT_COLOR));
    EXPECT_EQ(210, p.learnDialog.label->bgAlpha);
    EXPECT_EQ(&p.learnDialog, MidiCC::dlgCC);

    // MAX and MIN point at each other (and themselves); the rest have no links.
    EXPECT_EQ(&p.dialMAX, p.dialMIN.maxDial);
    EXPECT_EQ(&p.dialMIN, p.dialMIN.minDial);
    EXPECT_EQ(&p.dialMAX, p.dialMAX.maxDial);
    EXPECT_EQ(&p.dialMIN, p.dialMAX.minDial);
    for (Dial* d : {&p.dialCH, &p.dialCC, &p.dialINRT}) {
        EXPECT_EQ(nullptr, d->maxDial) << d->savedName;
        EXPECT_EQ(nullptr, d->minDial) << d->savedName;
    }

    std::vector<Control*> order{&p.dialCH,  &p.dialCC,   &p.dialMAX,
                                &p.dialMIN, &p.dialINRT, &p.valueButton};
    EXPECT_EQ(order, MidiCC::ctrlList.ctrls);
    EXPECT_EQ(std::vector<Button*>{&p.valueButton}, ctrlList.buttons);
    EXPECT_EQ(std::vector<Control*>{&p.dialMIN}, ctrlList.controls);
}

TEST_F(PanelTest, DestroyingThePanelLeavesNoPointersBehind) {
    panel.reset();
    shell.reset();
    EXPECT_TRUE(MidiCC::ctrlList.ctrls.empty());
    EXPECT_TRUE(ctrlList.buttons.empty());
    EXPECT_TRUE(ctrlList.controls.empty());
    EXPECT_EQ(nullptr, MidiCC::dlgCC);
    EXPECT_EQ(nullptr, MidiCC::ctrlList.activeCtrl);
}

TEST_F(PanelTest, StartPicture) {
    Panel& p = *panel;
    clear(16, 16, 16);
    p.render();

    const SDL_Rect valueBox{15, 228, 57, 40};
    const SDL_Rect logos[2] = {{62, 130, 25, 13}, {62, 142, 25, 13}};
    const SDL_Rect corners[2] = {{2, 269, 32, 9}, {44, 269, 42, 9}};
    std::vector<SDL_Rect> painted{valueBox,   logos[0],   logos[1],
                                  corners[0], corners[1], {26, 55, 35, 15}};
    for (Dial* d : p.dials) {
        painted.push_back(d->rect);
        painted.push_back(d->label->rect);
    }

    // Nothing outside the widgets: neither the hidden dialog nor the "|" button.
    int stray = 0;
    SDL_Point first{-1, -1};
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            bool covered = false;
            for (const SDL_Rect& r : painted)
                covered = covered || inside(r, x, y);
            if (!covered && !sameRGB(at(x, y), {16, 16, 16, 255}) && stray++ == 0) first = {x, y};
        }
    EXPECT_EQ(0, stray) << "first stray pixel at " << first.x << "," << first.y;
    // The "|" area holds at most the edge of the CC knob, never text.
    for (int y = 2; y < 30; ++y)
        for (int x = 78; x < 88; ++x)
            ASSERT_LT(at(x, y).r, 200) << x << "," << y;

    // The value button: white "0" on the background, the ring's hole in the middle.
    int white = 0;
    for (int y = valueBox.y; y < valueBox.y + valueBox.h; ++y)
        for (int x = valueBox.x; x < valueBox.x + valueBox.w; ++x) {
            SDL_Color c = at(x, y);
            bool bg = sameRGB(c, {16, 16, 16, 255}), text = sameRGB(c, {255, 255, 255, 255});
            ASSERT_TRUE(bg || text) << x << "," << y << " " << str(c);
            white += text;
        }
    EXPECT_GT(white, 300);
    EXPECT_TRUE(sameRGB(at(43, 248), {16, 16, 16, 255})) << str(at(43, 248));
    EXPECT_TRUE(sameRGB(at(43, 236), {255, 255, 255, 255})) << str(at(43, 236));

    // Translucent texts: white at alpha 140 (logos) and 110 (corners) over (16, 16, 16).
    auto blended = [](int alpha) { return 16 + (255 - 16) * alpha / 255; };
    auto checkTranslucent = [&](const SDL_Rect& r, int alpha) {
        int text = 0;
        for (int y = r.y; y < r.y + r.h; ++y)
            for (int x = r.x; x < r.x + r.w; ++x) {
                SDL_Color c = at(x, y);
                if (sameRGB(c, {16, 16, 16, 255})) continue;
                ASSERT_TRUE(near(c.r, blended(alpha)) && c.r == c.g && c.g == c.b)
                    << x << "," << y << " " << str(c) << " alpha " << alpha;
                ++text;
            }
        EXPECT_GT(text, 10) << rectStr(r);
    };
    for (const SDL_Rect& r : logos)
        checkTranslucent(r, 140);
    for (const SDL_Rect& r : corners)
        checkTranslucent(r, 110);

    // Captions in opaque white, knobs painted from the picture.
    for (Dial* d : p.dials) {
        int text = 0, knob = 0;
        const SDL_Rect& c = d->label->rect;
        for (int y = c.y; y < c.y + c.h; ++y)
            for (int x = c.x; x < c.x + c.w; ++x)
                text += sameRGB(at(x, y), {255, 255, 255, 255});
        for (int y = d->rect.y; y < d->rect.y + d->rect.h; ++y)
            for (int x = d->rect.x; x < d->rect.x + d->rect.w; ++x)
                knob += !sameRGB(at(x, y), {16, 16, 16, 255});
        EXPECT_GT(text, 10) << d->savedName;
        EXPECT_GT(knob, 300) << d->savedName;
    }
}

} // namespace
