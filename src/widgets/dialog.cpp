#include "dialog.h"

Dialog::Dialog(int x, int y, int w, int h) : label(std::make_unique<Label>()) {
    label->x = x;
    label->y = y;
    label->w = w;
    label->h = h;
}

void Dialog::draw() {
    label->text = text;
    copyLook(*this, *label, false);
    label->draw();
}

void Dialog::render() {
    if (visible) label->render();
}
