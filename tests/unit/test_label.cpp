#include <unistd.h>

#include "canvas.h"
#include "widgets/label.h"

namespace {

const SDL_Color BACKDROP = {90, 0, 140, 255}; // what the canvas is cleared to
const SDL_Color DARK = {16, 16, 16, 255};
const SDL_Color WHITE = {255, 255, 255, 255};

bool near(SDL_Color c, int r, int g, int b, int tol = 2) {
    return std::abs(c.r - r) <= tol && std::abs(c.g - g) <= tol && std::abs(c.b - b) <= tol;
}

// One channel of `over` blended at alpha a onto an opaque `under`.
int blend(int over, int under, int a) {
    return under + (over - under) * a / 255;
}

bool inside(const SDL_Rect& r, int x, int y) {
    return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

// A label at (x, y) laid out and ready to render.
void place(Label& l, int x, int y, const char* text = "CC") {
    l.x = x;
    l.y = y;
    l.text = text;
    l.draw();
}

// First pixel of `box` (grabbed as px) that shows the plain background, no text.
SDL_Point backgroundPixel(const std::vector<SDL_Color>& px, const SDL_Rect& box) {
    for (size_t i = 0; i < px.size(); ++i)
        if (sameRGB(px[i], DARK))
            return {box.x + static_cast<int>(i) % box.w, box.y + static_cast<int>(i) / box.w};
    ADD_FAILURE() << "no background pixel in the label";
    return {box.x, box.y};
}

} // namespace

// Clears the canvas to the backdrop (clear() belongs to the fixture).
#define CLEAR() clear(BACKDROP.r, BACKDROP.g, BACKDROP.b)

TEST_F(Canvas, LabelFreshFillsExactlyItsBoxOpaque) {
    CLEAR();
    Label l(25, 13);
    place(l, 10, 20);
    l.render();
    const SDL_Rect box = {10, 20, 25, 13};
    // Scan a margin around the box: inside is background or text, outside is untouched.
    const SDL_Rect scan = {5, 15, 36, 24};
    auto px = grab(scan);
    int dark = 0, text = 0;
    for (int y = scan.y; y < scan.y + scan.h; ++y)
        for (int x = scan.x; x < scan.x + scan.w; ++x) {
            SDL_Color c = px[(y - scan.y) * scan.w + (x - scan.x)];
            if (inside(box, x, y)) {
                ASSERT_TRUE(sameRGB(c, DARK) || sameRGB(c, WHITE))
                    << "(" << x << "," << y << ") " << str(c);
                ASSERT_EQ(255, c.a);
                (sameRGB(c, DARK) ? dark : text)++;
            } else {
                ASSERT_TRUE(sameRGB(c, BACKDROP)) << "(" << x << "," << y << ") " << str(c);
            }
        }
    EXPECT_GT(dark, 0);
    EXPECT_GT(text, 0);
}

TEST_F(Canvas, LabelShortTextIsStretchedOverTheWholeBox) {
    CLEAR();
    Label l(80, 40);
    place(l, 4, 10, "CC");
    l.render();
    const SDL_Rect box = {4, 10, 80, 40};
    auto px = grab(box);
    auto textIn = [&](int x0, int x1, int y0, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                n += sameRGB(px[y * box.w + x], WHITE);
        return n;
    };
    // At 12 points "CC" is far smaller than the box, so only stretching reaches every part.
    EXPECT_GT(textIn(0, 20, 0, 40), 0) << "left quarter";
    EXPECT_GT(textIn(60, 80, 0, 40), 0) << "right quarter";
    EXPECT_GT(textIn(0, 80, 0, 20), 0) << "top half";
    EXPECT_GT(textIn(0, 80, 20, 40), 0) << "bottom half";
}

TEST_F(Canvas, LabelSelectedOutlineRunsOneBeyondTheFill) {
    CLEAR();
    const SDL_Color yellow = {250, 200, 0, 255};
    Label plain(25, 13), framed(25, 13);
    plain.textColor = framed.textColor = yellow;
    place(plain, 10, 20);
    plain.render();
    // Without the flag the far column and row stay untouched.
    for (int y = 20; y <= 33; ++y)
        ASSERT_TRUE(sameRGB(at(35, y), BACKDROP)) << y << " " << str(at(35, y));
    for (int x = 10; x <= 35; ++x)
        ASSERT_TRUE(sameRGB(at(x, 33), BACKDROP)) << x << " " << str(at(x, 33));

    CLEAR();
    framed.selected = true;
    place(framed, 10, 20);
    framed.render();
    for (int y = 20; y <= 33; ++y) {
        EXPECT_TRUE(sameRGB(at(35, y), yellow)) << "right line at " << y << " " << str(at(35, y));
        EXPECT_TRUE(sameRGB(at(36, y), BACKDROP)) << y;
        EXPECT_TRUE(sameRGB(at(9, y), BACKDROP)) << y;
    }
    for (int x = 10; x <= 35; ++x) {
        EXPECT_TRUE(sameRGB(at(x, 33), yellow)) << "bottom line at " << x << " " << str(at(x, 33));
        EXPECT_TRUE(sameRGB(at(x, 34), BACKDROP)) << x;
        EXPECT_TRUE(sameRGB(at(x, 19), BACKDROP)) << x;
    }
    // The left and top lines lie on the fill's own first column and row; the text may
    // cover them, but never with the background colour.
    for (int y = 20; y <= 33; ++y)
        EXPECT_FALSE(sameRGB(at(10, y), DARK)) << "left line at " << y;
    for (int x = 10; x <= 35; ++x)
        EXPECT_FALSE(sameRGB(at(x, 20), DARK)) << "top line at " << x;
}

TEST_F(Canvas, LabelFreshHighlightFillsAtAlpha100) {
    CLEAR();
    Label l(25, 13);
    place(l, 10, 20);
    l.render();
    const SDL_Point bg = backgroundPixel(grab({10, 20, 25, 13}), {10, 20, 25, 13});

    CLEAR();
    l.highlighted = true;
    l.render();
    const int v = blend(255, 16, 100);
    EXPECT_TRUE(near(at(bg.x, bg.y), v, v, v)) << str(at(bg.x, bg.y)) << " want " << v;
    // Every pixel of the box is either text or the same fill.
    for (SDL_Color c : grab({10, 20, 25, 13}))
        ASSERT_TRUE(sameRGB(c, WHITE) || near(c, v, v, v)) << str(c);
    EXPECT_EQ(100, l.fillAlpha); // a steady fill does not toggle
}

TEST_F(Canvas, LabelBlinkShowsFor14HidesFor13ThenShowsAgain) {
    CLEAR();
    Label l(25, 13);
    place(l, 10, 20);
    l.render();
    const SDL_Point bg = backgroundPixel(grab({10, 20, 25, 13}), {10, 20, 25, 13});
    l.blinking = true;
    for (int n = 1; n <= 40; ++n) {
        const int want = n == 1 ? 100 : (n <= 14 || n >= 28) ? 80 : 0;
        CLEAR();
        l.render();
        Uint8 r, g, b, a;
        SDL_GetRenderDrawColor(renderer, &r, &g, &b, &a);
        EXPECT_EQ(want, a) << "fill alpha of render " << n;
        const int v = blend(255, 16, want);
        EXPECT_TRUE(near(at(bg.x, bg.y), v, v, v))
            << "render " << n << " " << str(at(bg.x, bg.y)) << " want " << v;
        EXPECT_EQ(n, l.blinkCounter);
    }
    // Stopping freezes the blink where it is; a later highlight reuses that alpha.
    const Uint8 left = l.fillAlpha;
    EXPECT_EQ(0, left);
    l.blinking = false;
    l.highlighted = true;
    CLEAR();
    l.render();
    EXPECT_EQ(left, l.fillAlpha);
    EXPECT_EQ(40, l.blinkCounter);
    EXPECT_TRUE(sameRGB(at(bg.x, bg.y), DARK)) << str(at(bg.x, bg.y));
}

TEST_F(Canvas, LabelDrawColourIsTheLastOneUsed) {
    CLEAR();
    struct Case {
        const char* name;
        bool highlighted, blinking, selected;
        SDL_Color want;
    };
    const Case cases[] = {
        {"plain", false, false, false, {10, 20, 30, 240}},
        {"highlighted", true, false, false, {200, 100, 50, 100}},
        {"blinking", false, true, false, {200, 100, 50, 100}},
        {"selected", false, false, true, {200, 100, 50, 180}},
        {"all three", true, true, true, {200, 100, 50, 180}},
    };
    for (const Case& c : cases) {
        Label l(25, 13);
        l.textColor = {200, 100, 50, 7};
        l.bgColor = {10, 20, 30, 9};
        l.textAlpha = 180;
        l.bgAlpha = 240;
        l.highlighted = c.highlighted;
        l.blinking = c.blinking;
        l.selected = c.selected;
        place(l, 10, 20);
        clear(0, 0, 0);
        l.render();
        SDL_Color got;
        SDL_GetRenderDrawColor(renderer, &got.r, &got.g, &got.b, &got.a);
        EXPECT_TRUE(sameRGB(got, c.want) && got.a == c.want.a)
            << c.name << ": " << str(got) << " want " << str(c.want);
        SDL_BlendMode mode;
        SDL_GetRenderDrawBlendMode(renderer, &mode);
        EXPECT_EQ(SDL_BLENDMODE_BLEND, mode) << c.name;
    }
}

TEST_F(Canvas, LabelGeometryChangesOnlyWithDraw) {
    CLEAR();
    Label l(25, 13);
    place(l, 10, 20);
    l.x = 50;
    l.render();
    EXPECT_FALSE(sameRGB(at(12, 25), BACKDROP)) << "still painted at the old place";
    for (SDL_Color c : grab({50, 20, 26, 14}))
        ASSERT_TRUE(sameRGB(c, BACKDROP)) << str(c);

    CLEAR();
    l.draw();
    l.render();
    EXPECT_TRUE(sameRGB(at(12, 25), BACKDROP)) << str(at(12, 25));
    EXPECT_FALSE(sameRGB(at(52, 25), BACKDROP));
}

using CanvasDeathTest = Canvas;

TEST_F(CanvasDeathTest, LabelEmptyTextEndsWithRenderingError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Label l(25, 13);
    l.x = 10;
    l.y = 20;
    l.text = "";
    l.draw();
    EXPECT_EXIT(
        {
            // The diagnostic goes to stdout; the death test only sees stderr.
            fflush(stdout);
            dup2(2, 1);
            l.render();
        },
        ::testing::ExitedWithCode(1), "Rendering error:.+");
}
