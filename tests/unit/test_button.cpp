#include <string>
#include <vector>

#include "canvas.h"
#include "widgets/button.h"

namespace {

const SDL_Color BACKDROP = {90, 0, 140, 255};
const SDL_Color DARK = {16, 16, 16, 255};
const SDL_Color WHITE = {255, 255, 255, 255};

// The button's area: x 10..70, y 50..90 with both far edges clickable.
constexpr int BX = 10, BY = 50, BW = 60, BH = 40;

// What the panel's click handler does to the look: text and background swap.
void invert(Button& b) {
    b.label->bgColor = b.label->textColor;
    b.label->textColor = BG_COLOR;
}

int count(const std::vector<SDL_Color>& px, SDL_Color c) {
    int n = 0;
    for (SDL_Color p : px)
        n += sameRGB(p, c);
    return n;
}

} // namespace

TEST_F(Canvas, ButtonPressInsideRunsHandlerThenActionOnce) {
    Button b(BX, BY, BW, BH);
    b.draw();
    b.label->textAlpha = 90;
    std::vector<std::string> log;
    b.onClick([&](Button& self) {
        EXPECT_EQ(&b, &self);
        // The text is raised to full opacity before the handler runs.
        EXPECT_EQ(255, self.label->textAlpha);
        log.push_back("handler");
    });
    b.downClick({BX + 5, BY + 5}, [&] { log.push_back("action"); });
    EXPECT_EQ((std::vector<std::string>{"handler", "action"}), log);
}

TEST_F(Canvas, ButtonHitTestIncludesTheFarEdges) {
    Button b(BX, BY, BW, BH);
    b.draw();
    int handled = 0, acted = 0;
    b.onClick([&](Button&) { ++handled; });
    auto press = [&](int x, int y) {
        handled = acted = 0;
        b.downClick({x, y}, [&] { ++acted; });
        EXPECT_EQ(handled, acted);
        return handled == 1;
    };
    EXPECT_TRUE(press(BX, BY));
    EXPECT_TRUE(press(BX + BW, BY + BH));
    EXPECT_TRUE(press(BX + BW, BY));
    EXPECT_FALSE(press(BX + BW + 1, BY));
    EXPECT_FALSE(press(BX, BY + BH + 1));
    EXPECT_FALSE(press(BX - 1, BY));
    EXPECT_FALSE(press(BX, BY - 1));
    // Releases use the same test.
    invert(b);
    b.upClick({BX + BW + 1, BY + BH});
    EXPECT_TRUE(sameRGB(b.label->bgColor, WHITE));
    b.upClick({BX + BW, BY + BH});
    EXPECT_TRUE(sameRGB(b.label->bgColor, BG_COLOR));
}

TEST_F(Canvas, ButtonLearnPressTogglesOutlineWithoutFiring) {
    clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
    Button b(BX, BY, BW, BH);
    b.draw();
    int handled = 0, acted = 0;
    b.onClick([&](Button&) { ++handled; });
    const SDL_Color textBefore = b.label->textColor;
    b.mode = 0;

    b.downClick({BX + 1, BY + 1}, [&] { ++acted; });
    EXPECT_TRUE(b.label->selected);
    b.render();
    EXPECT_TRUE(sameRGB(at(BX + BW, BY + BH / 2), WHITE)) << "outline on";

    b.downClick({BX + BW, BY + BH}, [&] { ++acted; });
    EXPECT_FALSE(b.label->selected);
    clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
    b.render();
    EXPECT_TRUE(sameRGB(at(BX + BW, BY + BH / 2), BACKDROP)) << "outline off";

    EXPECT_EQ(0, handled);
    EXPECT_EQ(0, acted);
    EXPECT_TRUE(sameRGB(textBefore, b.label->textColor));

    // Neither learn nor normal: a press does nothing at all.
    b.mode = 2;
    b.downClick({BX + 1, BY + 1}, [&] { ++acted; });
    EXPECT_FALSE(b.label->selected);
    EXPECT_EQ(0, handled);
    EXPECT_EQ(0, acted);
}

TEST_F(Canvas, ButtonPressedLookLastsUntilAReleaseInsideOrKeyUp) {
    Button b(BX, BY, BW, BH);
    b.text = "42";
    b.draw();
    b.onClick(invert);
    const SDL_Rect box = {BX, BY, BW, BH};
    auto look = [&]() {
        clear(0, 0, 0);
        b.render();
        return grab(box);
    };
    const auto normal = look();
    const int background = count(normal, DARK);
    ASSERT_GT(background, 0);
    ASSERT_GT(count(normal, WHITE), 0);

    b.downClick({BX + 3, BY + 3}, [] {});
    const auto pressed = look();
    EXPECT_EQ(background, count(pressed, WHITE)) << "background turns white";
    EXPECT_EQ(count(normal, WHITE), count(pressed, DARK)) << "text turns dark";

    b.upClick({BX + BW + 1, BY});
    EXPECT_EQ(background, count(look(), WHITE)) << "release outside keeps the pressed look";

    b.upClick({BX + BW / 2, BY + BH});
    EXPECT_EQ(background, count(look(), DARK)) << "release inside restores";
    EXPECT_EQ(255, b.label->textAlpha);

    b.downKey();
    EXPECT_EQ(background, count(look(), WHITE));
    b.upKey();
    EXPECT_EQ(background, count(look(), DARK)) << "key release restores";
    EXPECT_TRUE(sameRGB(b.label->bgColor, BG_COLOR));
}

TEST_F(Canvas, ButtonReleaseBringsBackItsOwnTextColour) {
    Button b(BX, BY, BW, BH);
    b.textColor = {0, 200, 0, 255};
    b.text = "42";
    b.draw();
    SDL_Color red = {220, 0, 0, 10};
    b.changeTxtColor(red);
    EXPECT_TRUE(sameRGB(b.label->textColor, red));
    EXPECT_TRUE(sameRGB(b.label->hoverColor, red));
    EXPECT_EQ(255, b.label->hoverColor.a);
    EXPECT_TRUE(sameRGB(b.textColor, {0, 200, 0, 255})) << "own colour left alone";

    const SDL_Rect box = {BX, BY, BW, BH};
    b.render();
    EXPECT_GT(count(grab(box), {220, 0, 0, 255}), 0);
    EXPECT_EQ(0, count(grab(box), {0, 200, 0, 255}));

    b.upClick({BX + 1, BY + 1});
    EXPECT_TRUE(sameRGB(b.label->textColor, {0, 200, 0, 255})) << str(b.label->textColor);
    clear(0, 0, 0);
    b.render();
    EXPECT_GT(count(grab(box), {0, 200, 0, 255}), 0);
    EXPECT_EQ(0, count(grab(box), {220, 0, 0, 255}));
}

TEST_F(Canvas, ButtonKeyPressFiresInLearnModeToo) {
    Button b(BX, BY, BW, BH);
    b.draw();
    std::vector<std::string> log;
    b.onClick([&](Button&) { log.push_back("handler"); });
    b.mode = 0;
    b.downKey();
    EXPECT_EQ(std::vector<std::string>{"handler"}, log);
    log.clear();
    b.downKey([&] { log.push_back("action"); });
    EXPECT_EQ((std::vector<std::string>{"handler", "action"}), log);
    EXPECT_FALSE(b.label->selected) << "a key press never selects";
}

TEST_F(Canvas, ButtonPressBeforeHandlerIsHarmless) {
    Button b(BX, BY, BW, BH);
    b.draw();
    EXPECT_NO_THROW(b.downClick({BX + 1, BY + 1}, [] {}));
    EXPECT_NO_THROW(b.downKey());
    EXPECT_NO_THROW(b.downKey([] {}));
    EXPECT_NO_THROW(b.upKey());
    EXPECT_FALSE(b.label->selected);
    EXPECT_TRUE(sameRGB(b.label->bgColor, BG_COLOR));
    EXPECT_TRUE(sameRGB(b.label->textColor, TXT_COLOR));
}

TEST_F(Canvas, ButtonDrawHandsItsLookToTheLabel) {
    clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
    Button b(BX, BY, BW, BH);
    b.text = "7";
    b.bgColor = {0, 0, 200, 0};
    b.textColor = {250, 250, 0, 0};
    // Before draw() the label still has its own defaults.
    b.render();
    EXPECT_EQ(0, count(grab({BX, BY, BW, BH}), {0, 0, 200, 255}));
    b.draw();
    EXPECT_EQ("7", b.label->text.str());
    b.render();
    const auto px = grab({BX, BY, BW, BH});
    EXPECT_GT(count(px, {0, 0, 200, 255}), 0);
    EXPECT_GT(count(px, {250, 250, 0, 255}), 0);
    EXPECT_EQ(static_cast<int>(px.size()),
              count(px, {0, 0, 200, 255}) + count(px, {250, 250, 0, 255}));
    // The learn flags travel too (a dialog leaves highlighted behind).
    b.selected = true;
    b.highlighted = true;
    b.draw();
    EXPECT_TRUE(b.label->selected);
    EXPECT_TRUE(b.label->highlighted);
}
