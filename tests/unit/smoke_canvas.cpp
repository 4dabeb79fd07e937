#include "canvas.h"
#include "widgets/label.h"

TEST_F(Canvas, FreshLabelPaintsOpaqueBackground) {
    Label l(25, 13);
    l.x = 10;
    l.y = 20;
    l.text = "CC";
    l.draw();
    l.render();
    // Just outside the rectangle is untouched; the background corner pixel is opaque dark.
    EXPECT_TRUE(sameRGB(at(9, 20), {0, 0, 0, 255})) << str(at(9, 20));
    EXPECT_TRUE(sameRGB(at(35, 20), {0, 0, 0, 255})) << str(at(35, 20));
}
