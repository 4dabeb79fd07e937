#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "canvas.h"
#include "empty_dir.h"
#include "widgets/dial.h"

namespace {

const SDL_Color BACKDROP = {90, 0, 140, 255};

// Counts of each gesture handler's calls.
struct Calls {
    int click = 0, release = 0, up = 0, down = 0;
};

void wire(Dial& d, Calls& c) {
    d.onClick([&c](Dial&) { ++c.click; });
    d.onRelease([&c](Dial&) { ++c.release; });
    d.onDragUp([&c](Dial&) { ++c.up; });
    d.onDragDown([&c](Dial&) { ++c.down; });
}

bool similar(SDL_Color a, SDL_Color b, int tol) {
    return std::abs(a.r - b.r) <= tol && std::abs(a.g - b.g) <= tol && std::abs(a.b - b.b) <= tol;
}

} // namespace

TEST_F(Canvas, DialCaptionSitsCentredOnePixelUnderTheKnob) {
    clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
    Dial d(10, 20, 35, 35);
    EXPECT_EQ(14, d.label->x);
    EXPECT_EQ(56, d.label->y);
    EXPECT_EQ(26, d.label->w);
    EXPECT_EQ(12, d.label->h);
    d.name = "CH";
    d.draw();
    EXPECT_EQ("CH", d.savedName);
    EXPECT_EQ("CH", d.label->text.str());
    d.render();
    // The caption paints exactly 26 x 12 at (14, 56); the gap row above it stays empty.
    for (int x = 14; x < 40; ++x) {
        EXPECT_TRUE(sameRGB(at(x, 55), BACKDROP)) << x;
        EXPECT_FALSE(sameRGB(at(x, 56), BACKDROP)) << x;
        EXPECT_FALSE(sameRGB(at(x, 67), BACKDROP)) << x;
        EXPECT_TRUE(sameRGB(at(x, 68), BACKDROP)) << x;
    }
    for (int y = 56; y < 68; ++y) {
        EXPECT_TRUE(sameRGB(at(13, y), BACKDROP)) << y;
        EXPECT_TRUE(sameRGB(at(40, y), BACKDROP)) << y;
    }

    // Fractions are cut toward zero: 30 wide gives a 22 wide caption 3 pixels in.
    Dial odd(0, 0, 30, 30);
    EXPECT_EQ(3, odd.label->x);
    EXPECT_EQ(31, odd.label->y);
    EXPECT_EQ(22, odd.label->w);
}

TEST_F(Canvas, DialHitTestIncludesTheFarEdges) {
    Dial d(10, 20, 35, 35);
    d.draw();
    Calls c;
    wire(d, c);
    auto grabs = [&](int x, int y) {
        d.pressed = false;
        c.click = 0;
        d.downClick({x, y});
        EXPECT_EQ(d.pressed ? 1 : 0, c.click);
        return d.pressed.load();
    };
    EXPECT_TRUE(grabs(10, 20));
    EXPECT_TRUE(grabs(45, 55));
    EXPECT_FALSE(grabs(46, 55));
    EXPECT_FALSE(grabs(45, 56));
    EXPECT_FALSE(grabs(9, 20));
    EXPECT_FALSE(grabs(10, 19));
}

TEST_F(Canvas, DialLearnPressTogglesCaptionOutlineAndStillGrabs) {
    clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
    Dial d(10, 20, 35, 35);
    d.name = "CC";
    d.textColor = {0, 255, 0, 255};
    d.draw();
    Calls c;
    wire(d, c);
    d.mode = 0;

    d.downClick({20, 30});
    EXPECT_TRUE(d.label->selected);
    EXPECT_TRUE(d.pressed);
    d.render();
    // The caption's outline runs through its column x + w = 40.
    for (int y = 56; y <= 68; ++y)
        EXPECT_TRUE(sameRGB(at(40, y), {0, 255, 0, 255})) << y << " " << str(at(40, y));

    // Grabbed in learn mode, so dragging still turns it.
    d.dragUp();
    d.dragDown();
    d.dragDown();
    EXPECT_EQ(1, c.up);
    EXPECT_EQ(2, c.down);
    EXPECT_EQ(0, c.click);

    d.upClick({20, 30});
    d.downClick({20, 30});
    EXPECT_FALSE(d.label->selected);
    clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
    d.render();
    EXPECT_TRUE(sameRGB(at(40, 60), BACKDROP)) << str(at(40, 60));
    EXPECT_EQ(0, c.click);
}

TEST_F(Canvas, DialDragsOnlyWhileGrabbedAndLetsGoAnywhere) {
    Dial d(10, 20, 35, 35);
    d.draw();
    Calls c;
    wire(d, c);

    d.dragUp();
    d.dragDown();
    EXPECT_EQ(0, c.up + c.down) << "not grabbed";

    // A release far from every dial still fires, grabbed or not.
    d.upClick({-300, 900});
    EXPECT_EQ(1, c.release);

    d.downClick({44, 54});
    EXPECT_EQ(1, c.click);
    d.dragUp();
    d.dragDown();
    EXPECT_EQ(1, c.up);
    EXPECT_EQ(1, c.down);

    d.upClick({87, 279});
    EXPECT_EQ(2, c.release);
    EXPECT_FALSE(d.pressed);
    d.dragUp();
    d.dragDown();
    EXPECT_EQ(1, c.up);
    EXPECT_EQ(1, c.down);

    // A press outside does not grab.
    d.downClick({80, 20});
    d.dragUp();
    EXPECT_EQ(1, c.up);
    EXPECT_EQ(1, c.click);
}

TEST_F(Canvas, DialGesturesBeforeHandlersAreHarmless) {
    Dial d(10, 20, 35, 35);
    d.draw();
    EXPECT_NO_THROW(d.downClick({20, 30}));
    EXPECT_TRUE(d.pressed);
    EXPECT_NO_THROW(d.dragUp());
    EXPECT_NO_THROW(d.dragDown());
    EXPECT_NO_THROW(d.upClick({20, 30}));
    EXPECT_FALSE(d.pressed);
}

TEST_F(Canvas, DialAngleFollowsValueWithoutClamping) {
    Dial d(10, 20, 35, 35);
    const int values[] = {0, 1, 63, 64, 126, 127, 128};
    const int angles[] = {0, 2, 133, 136, 267, 270, 272};
    for (int i = 0; i < 7; ++i) {
        d.value = values[i];
        EXPECT_EQ(angles[i], d.angleToMidi()) << "value " << values[i];
    }
}

TEST_F(Canvas, DialKnobAt90IsThePictureTurnedAQuarterClockwise) {
    // 64 x 64 is the picture's own size, so only the rotation resamples it.
    constexpr int N = 64, X = 12, Y = 10;
    SDL_Surface* loaded = SDL_LoadBMP("dial.bmp");
    ASSERT_NE(nullptr, loaded) << SDL_GetError();
    SDL_Surface* stored = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGBA8888, 0);
    SDL_FreeSurface(loaded);
    ASSERT_NE(nullptr, stored);
    ASSERT_EQ(N, stored->w);
    ASSERT_EQ(N, stored->h);
    std::vector<SDL_Color> picture;
    for (int j = 0; j < N; ++j)
        for (int i = 0; i < N; ++i) {
            SDL_Color c;
            SDL_GetRGBA(static_cast<Uint32*>(stored->pixels)[j * (stored->pitch / 4) + i],
                        stored->format, &c.r, &c.g, &c.b, &c.a);
            picture.push_back(c);
        }
    SDL_FreeSurface(stored);

    Dial d(X, Y, N, N);
    d.draw();
    d.render();
    const auto upright = grab({X, Y, N, N});
    clear(0, 0, 0);
    d.angle = 90;
    d.render();
    const auto turned = grab({X, Y, N, N});

    // Pixels of `shown` that disagree with the picture moved by `move`.
    auto misses = [&](const std::vector<SDL_Color>& from, const std::vector<SDL_Color>& shown,
                      auto move) {
        int n = 0;
        for (int j = 0; j < N; ++j)
            for (int i = 0; i < N; ++i) {
                SDL_Point p = move(i, j);
                n += !similar(from[j * N + i], shown[p.y * N + p.x], 40);
            }
        return n;
    };
    auto stay = [](int i, int j) { return SDL_Point{i, j}; };
    // Clockwise on screen takes the pixel (i, j) to (N - 1 - j, i).
    auto clockwise = [](int i, int j) { return SDL_Point{N - 1 - j, i}; };
    auto counter = [](int i, int j) { return SDL_Point{j, N - 1 - i}; };

    EXPECT_LT(misses(picture, upright, stay), N * N / 50) << "angle 0 is the picture as stored";
    // The pointer makes the picture differ from itself turned; without that nothing is shown.
    const int changed = misses(upright, turned, stay);
    ASSERT_GT(changed, 100);
    EXPECT_LT(misses(upright, turned, clockwise), changed / 10);
    EXPECT_GT(misses(upright, turned, counter), changed / 2) << "turned the wrong way";
}

using CanvasDeathTest = Canvas;

TEST_F(CanvasDeathTest, DialWithoutPictureEndsWithRenderingError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Dial d(10, 20, 35, 35);
    d.draw();
    EXPECT_EXIT(
        {
            fflush(stdout);
            dup2(2, 1);
            if (!enterEmptyDir()) _exit(3);
            d.render();
        },
        ::testing::ExitedWithCode(1), "Rendering error:.+\n");
}
