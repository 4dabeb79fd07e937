// The learn task flips the shared learn fields and the learn box's text while the
// main thread keeps painting; every frame must still show a text that was written.
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "canvas.h"
#include "widgets/button.h"
#include "widgets/dial.h"
#include "widgets/dialog.h"

namespace {

const SDL_Color BACKDROP = {90, 0, 140, 255};

std::string key(const std::vector<SDL_Color>& px) {
    std::string k;
    for (SDL_Color c : px)
        k += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
    return k;
}

std::string ccText(int i) {
    return "CC" + std::to_string(i % 128);
}

} // namespace

TEST_F(Canvas, WidgetThreadsLearnFieldsFlipWhileRendering) {
    constexpr int MIN_WRITES = 5000, MIN_FRAMES = 200;
    Button button(15, 228, 57, 40);
    button.text = "64";
    button.draw();
    Dial dial(5, 2, 35, 35);
    dial.name = "CC";
    dial.draw();
    Dialog dialog(8, 182, 70, 21);
    dialog.textColor = {0, 0, 0, 255};
    dialog.bgColor = TXT_COLOR;
    dialog.bgAlpha = 210;
    dialog.text = "CC - ";
    dialog.draw();
    int clicks = 0;
    button.onClick([&](Button&) { ++clicks; });
    dial.onClick([&](Dial&) { ++clicks; });

    // The box without its outline, which lies on its first column and row.
    const SDL_Rect inner = {9, 183, 69, 20};
    auto paint = [&] {
        clear(BACKDROP.r, BACKDROP.g, BACKDROP.b);
        button.render();
        dial.render();
        dialog.render();
        return grab(inner);
    };
    const std::string hidden = key(std::vector<SDL_Color>(inner.w * inner.h, BACKDROP));
    // Every picture the box may show: each text written, with and without its fill.
    std::set<std::string> known;
    for (bool fill : {false, true}) {
        dialog.label->highlighted = fill;
        for (int n = -1; n < 128; ++n) {
            dialog.label->text = n < 0 ? std::string("CC - ") : ccText(n);
            known.insert(key(paint()));
        }
    }
    dialog.label->highlighted = false;
    dialog.label->text = "CC - ";
    ASSERT_EQ(0u, known.count(hidden));

    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    std::thread learnTask([&] {
        for (int i = 0; i < MIN_WRITES || !stop; ++i) {
            const bool on = i & 1;
            button.mode = on ? 0 : 1;
            dial.mode = on ? 1 : 0;
            std::get<0>(button.ccPair) = static_cast<unsigned char>(i % 128);
            std::get<1>(button.ccPair) = 0;
            std::get<0>(dial.ccPair) = static_cast<unsigned char>((i + 7) % 128);
            std::get<1>(dial.ccPair) = 0;
            button.label->selected = on;
            button.label->highlighted = i & 2;
            dial.label->selected = !on;
            dial.label->highlighted = i & 4;
            dialog.label->selected = i & 2;
            dialog.label->highlighted = i & 8;
            if (i % 3 == 0)
                dialog.hide();
            else
                dialog.show();
            dialog.label->text = ccText(i);
            writes = i + 1;
            if (i % 32 == 0) std::this_thread::yield();
        }
    });

    int frames = 0, shown = 0, blank = 0;
    std::set<std::string> seen;
    // Painting goes on until the learn task has done its share, however the two are scheduled.
    for (; frames < MIN_FRAMES || writes < MIN_WRITES; ++frames) {
        const std::string picture = key(paint());
        if (picture == hidden) {
            ++blank;
        } else {
            ++shown;
            seen.insert(picture);
            if (!known.count(picture)) {
                ADD_FAILURE() << "frame " << frames << " shows a text that was never written";
                break;
            }
        }
        // The main thread's own uses of the shared fields: presses read the learn mode.
        button.downClick({20, 240}, [] {});
        dial.downClick({20, 20});
        dial.upClick({20, 20});
    }
    stop = true;
    learnTask.join();

    EXPECT_GT(shown, 0);
    RecordProperty("frames", frames);
    RecordProperty("blank", blank);
    RecordProperty("pictures", static_cast<int>(seen.size()));
    RecordProperty("clicks", clicks);
}
