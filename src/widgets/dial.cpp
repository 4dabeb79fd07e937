#include "dial.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

Dial::Dial(int x, int y, int w, int h) : rect{x, y, w, h}, label(std::make_unique<Label>()) {
    label->x = static_cast<int>(x + (w - 0.75 * w) * 0.5);
    label->y = y + h + 1;
    label->w = static_cast<int>(0.75 * w);
    label->h = 12;
}

void Dial::draw() {
    savedName = name;
    label->text = name;
    copyLook(*this, *label, true);
    label->draw();
}

namespace {
// What tells one version of dial.bmp from another, on every system.
struct FileStamp {
    std::filesystem::file_time_type written{};
    std::uintmax_t size = 0;
    bool operator==(const FileStamp& o) const { return written == o.written && size == o.size; }
};

bool stamp(const char* path, FileStamp& s) {
    std::error_code failed;
    s.written = std::filesystem::last_write_time(path, failed);
    if (!failed) s.size = std::filesystem::file_size(path, failed);
    return !failed;
}
} // namespace

// The decoded knob picture is kept while dial.bmp stays the same file; a file that
// disappears or changes is read again, so a missing picture still fails the frame.
static SDL_Surface* knobPicture() {
    static SDL_Surface* cached = nullptr;
    static FileStamp seen;
    FileStamp now;
    bool same = stamp("dial.bmp", now) && cached && now == seen;
    if (same) return cached;
    SDL_Surface* fresh = SDL_LoadBMP_RW(SDL_RWFromFile("dial.bmp", "rb"), 1);
    if (fresh) {
        SDL_FreeSurface(cached);
        cached = fresh;
        seen = now;
    }
    return fresh;
}

void Dial::requirePicture() {
    if (!knobPicture()) failPainting();
}

void Dial::render() {
    label->render();
    SDL_Surface* surface = knobPicture();
    SDL_Texture* texture = surface ? SDL_CreateTextureFromSurface(renderer, surface) : nullptr;
    if (!texture) failPainting();
    SDL_RenderCopyEx(renderer, texture, nullptr, &rect, static_cast<double>(angle), nullptr,
                     SDL_FLIP_NONE);
    SDL_DestroyTexture(texture);
}

// A gesture that arrives before its handler is installed does nothing.
void Dial::call(const Handler& h) {
    if (h) h(*this);
}

void Dial::downClick(const SDL_Point& p) {
    if (!hitTest(p, rect.x, rect.y, rect.w, rect.h)) return;
    pressed = true;
    if (mode == 1)
        call(clickHandler);
    else if (mode == 0)
        label->selected = !label->selected;
}

void Dial::upClick(const SDL_Point&) {
    pressed = false;
    call(releaseHandler);
}

void Dial::dragUp() {
    if (pressed) call(dragUpHandler);
}

void Dial::dragDown() {
    if (pressed) call(dragDownHandler);
}

int Dial::angleToMidi() const {
    return static_cast<int>(value * (270.0 / 127.0));
}
