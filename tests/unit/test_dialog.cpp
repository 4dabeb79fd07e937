#include <vector>

#include "canvas.h"
#include "widgets/dialog.h"

namespace {

const SDL_Color BACKDROP = {90, 0, 140, 255};
const SDL_Rect BOX = {8, 182, 70, 21};

// Set up like the learn box: black text on translucent white.
void configure(Control& c) {
    c.textColor = {0, 0, 0, 255};
    c.bgColor = TXT_COLOR;
    c.bgAlpha = 210;
}

bool all(const std::vector<SDL_Color>& px, SDL_Color c) {
    for (SDL_Color p : px)
        if (!sameRGB(p, c)) return false;
    return true;
}

} // namespace

TEST_F(Canvas, DialogHiddenPaintsNothingShownPaintsItsLastText) {
    const SDL_Rect around = {BOX.x - 1, BOX.y - 1, BOX.w + 3, BOX.h + 3};
    // What a plain label with the same look paints, for each text.
    auto reference = [&](const char* text) {
        Label l(BOX.w, BOX.h);
        configure(l);
        l.x = BOX.x;
        l.y = BOX.y;
        l.text = text;
        l.draw();
        clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
        l.render();
        return grab(around);
    };
    const auto dash = reference("CC - ");
    const auto received = reference("CC42");
    ASSERT_NE(dash.size(), 0u);

    Dialog d(BOX.x, BOX.y, BOX.w, BOX.h);
    configure(d);
    d.text = "CC - ";
    d.draw();
    auto paint = [&] {
        clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
        d.render();
        return grab(around);
    };
    auto same = [](const std::vector<SDL_Color>& a, const std::vector<SDL_Color>& b) {
        for (size_t i = 0; i < a.size(); ++i)
            if (!sameRGB(a[i], b[i])) return false;
        return a.size() == b.size();
    };
    EXPECT_TRUE(d.visible);
    EXPECT_TRUE(same(dash, paint())) << "a fresh dialog is painted";
    EXPECT_TRUE(same(dash, paint())) << "and again on the next frame";

    d.hide();
    EXPECT_TRUE(all(paint(), BACKDROP));
    d.label->text = "CC42";
    d.label->selected = true;
    EXPECT_TRUE(all(paint(), BACKDROP)) << "nothing while hidden, whatever the label holds";

    d.label->selected = false;
    d.show();
    const auto shown = paint();
    EXPECT_TRUE(same(received, shown)) << "the text it last had";
    EXPECT_FALSE(same(dash, shown));
}

TEST_F(Canvas, DialogShowAndHideTwiceChangeNothing) {
    Dialog d(BOX.x, BOX.y, BOX.w, BOX.h);
    configure(d);
    d.draw();
    auto paint = [&] {
        clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
        d.render();
        return grab(BOX);
    };
    const auto once = paint();
    ASSERT_FALSE(all(once, BACKDROP));
    auto painted = [&] {
        const auto now = paint();
        for (size_t i = 0; i < once.size(); ++i)
            if (!sameRGB(once[i], now[i])) return false;
        return true;
    };
    // Showing a visible dialog keeps it visible, however often.
    d.show();
    EXPECT_TRUE(d.visible);
    EXPECT_TRUE(painted());
    d.show();
    EXPECT_TRUE(d.visible);
    EXPECT_TRUE(painted());

    d.hide();
    EXPECT_FALSE(d.visible);
    EXPECT_TRUE(all(paint(), BACKDROP));
    d.hide();
    EXPECT_FALSE(d.visible);
    EXPECT_TRUE(all(paint(), BACKDROP));
    // One show undoes any number of hides.
    d.show();
    EXPECT_FALSE(all(paint(), BACKDROP));
}

TEST_F(Canvas, DialogDrawLeavesHighlightBehind) {
    Dialog d(BOX.x, BOX.y, BOX.w, BOX.h);
    configure(d);
    d.bgAlpha = 255;
    d.text = "CC - ";
    d.highlighted = true;
    d.selected = true;
    d.draw();
    EXPECT_FALSE(d.label->highlighted);
    EXPECT_TRUE(d.label->selected) << "the outline does travel";
    clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
    d.render();
    // No fill over the background: inside the outline only white and black remain.
    int white = 0;
    for (SDL_Color c : grab({BOX.x + 1, BOX.y + 1, BOX.w - 1, BOX.h - 1})) {
        ASSERT_TRUE(sameRGB(c, {255, 255, 255, 255}) || sameRGB(c, {0, 0, 0, 255})) << str(c);
        white += sameRGB(c, {255, 255, 255, 255});
    }
    EXPECT_GT(white, 0);
}
