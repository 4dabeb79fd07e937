#include "control.h"

#include <cstdio>
#include <cstdlib>

SDL_Renderer* renderer = nullptr;
TTF_Font* font = nullptr;
const char* FONT_FILE = "8bitOperatorPlus8-Regular.ttf";
const SDL_Color TXT_COLOR = {255, 255, 255, 255};
const SDL_Color BG_COLOR = {16, 16, 16, 0};
const SDL_Color TXT_COLOR_HOVER = {255, 255, 255, 255};

static void exitOnPaintFailure(const std::string& line) {
    fputs(line.c_str(), stdout);
    fflush(stdout);
    exit(1);
}

void (*paintFailed)(const std::string& line) = exitOnPaintFailure;

void failPainting() {
    paintFailed(std::string("Rendering error:") + SDL_GetError() + "\n");
    exit(1); // a replacement that returned
}

// The first frame always paints.
static std::atomic<bool> paintRequested{true};

void requestPaint() {
    paintRequested = true;
}

bool takePaintRequest() {
    return paintRequested.exchange(false);
}

SharedText& SharedText::operator=(const std::string& s) {
    std::lock_guard<std::mutex> lock(m_);
    s_ = s;
    requestPaint();
    return *this;
}

std::string SharedText::str() const {
    std::lock_guard<std::mutex> lock(m_);
    return s_;
}

bool hitTest(const SDL_Point& p, int x, int y, int w, int h) {
    return x <= p.x && p.x <= x + w && y <= p.y && p.y <= y + h;
}
