// A message box that any thread may show or hide; painted by its label.
#pragma once

#include <memory>

#include "label.h"

class Dialog : public Control {
  public:
    std::unique_ptr<Label> label;
    std::string text = "CC -";
    std::atomic<bool> visible{true};

    // Creates the label on the given area; starts visible.
    Dialog(int x, int y, int w, int h);

    // Copies text, colours and flags (not highlighted) into the label.
    void draw() override;
    // Shows or hides it from any thread; either asks for a paint.
    void show() { visible = true, requestPaint(); }
    void hide() { visible = false, requestPaint(); }
    // Paints the label while visible.
    void render();
};
