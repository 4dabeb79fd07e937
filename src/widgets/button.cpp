#include "button.h"

Button::Button(int x, int y, int w, int h) : label(std::make_unique<Label>()) {
    label->x = x;
    label->y = y;
    label->w = w;
    label->h = h;
}

void Button::draw() {
    label->text = text;
    copyLook(*this, *label, true);
    label->draw();
}

// A press before the handler is installed does nothing at all: no look, no send.
bool Button::fire() {
    if (!clickHandler) return false;
    label->textAlpha = 255;
    requestPaint();
    clickHandler(*this);
    return true;
}

void Button::downKey() {
    fire();
}

void Button::downKey(const std::function<void()>& action) {
    if (fire() && action) action();
}

void Button::upKey() {
    label->bgColor = BG_COLOR;
    label->textColor = textColor;
    label->textAlpha = 255;
    requestPaint();
}

void Button::downClick(const SDL_Point& p, const std::function<void()>& action) {
    if (!hitTest(p, label->x, label->y, label->w, label->h)) return;
    if (mode == 1)
        downKey(action);
    else if (mode == 0)
        label->selected = !label->selected;
}

void Button::upClick(const SDL_Point& p) {
    if (hitTest(p, label->x, label->y, label->w, label->h)) upKey();
}

void Button::changeTxtColor(SDL_Color& c) {
    label->textColor = c;
    label->hoverColor = c;
    label->hoverColor.a = 255;
}

ControlsList ctrlList;

void ControlsList::changeTxtColor(SDL_Color c) {
    for (Button* b : buttons)
        b->changeTxtColor(c);
}
