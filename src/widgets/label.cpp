#include "label.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

Label::Label() {
    if (font) TTF_SetFontSize(font, fontSize);
}

Label::Label(int w, int h) : Label() {
    this->w = w;
    this->h = h;
}

void Label::draw() {
    rect = {x, y, w, h};
    edges[0][0] = {x, y};
    edges[0][1] = {x, y + h};
    edges[1][0] = {x + w, y};
    edges[1][1] = {x + w, y + h};
    edges[2][0] = {x, y};
    edges[2][1] = {x + w, y};
    edges[3][0] = {x, y + h};
    edges[3][1] = {x + w, y + h};
}

void Label::render() {
    textColor.a = textAlpha;
    bgColor.a = bgAlpha;
    SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_BLEND);
    SDL_SetRenderDrawColor(renderer, bgColor.r, bgColor.g, bgColor.b, bgColor.a);
    SDL_RenderFillRect(renderer, &rect);

    const std::string shown = text.str();
    SDL_Surface* surface = TTF_RenderUTF8_Solid(font, shown.c_str(), textColor);
    SDL_Texture* texture = surface ? SDL_CreateTextureFromSurface(renderer, surface) : nullptr;

    if (highlighted) {
        SDL_SetRenderDrawColor(renderer, textColor.r, textColor.g, textColor.b, fillAlpha);
        SDL_RenderFillRect(renderer, &rect);
    }
    if (blinking) {
        SDL_SetRenderDrawColor(renderer, textColor.r, textColor.g, textColor.b, fillAlpha);
        SDL_RenderFillRect(renderer, &rect);
        if (blinkCounter % 13 == 0) fillAlpha = fillAlpha == 80 ? 0 : 80;
        // Restart a whole blink period rather than overflow.
        blinkCounter = blinkCounter == INT_MAX - INT_MAX % 26 ? 0 : blinkCounter + 1;
        requestPaint(); // the blink counts painted frames
    }
    if (selected) {
        SDL_SetRenderDrawColor(renderer, textColor.r, textColor.g, textColor.b, textAlpha);
        for (auto& e : edges)
            SDL_RenderDrawLine(renderer, e[0].x, e[0].y, e[1].x, e[1].y);
    }
    if (!texture) failPainting();
    SDL_RenderCopy(renderer, texture, nullptr, &rect);
    SDL_FreeSurface(surface);
    SDL_DestroyTexture(texture);
}

void copyLook(const Control& from, Label& to, bool withHighlight) {
    to.textColor = from.textColor;
    to.bgColor = from.bgColor;
    to.textAlpha = from.textAlpha;
    to.bgAlpha = from.bgAlpha;
    to.selected = from.selected.load();
    to.blinking = from.blinking;
    if (withHighlight) to.highlighted = from.highlighted.load();
}
