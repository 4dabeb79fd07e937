// An off-screen canvas for widget tests: SDL's software renderer on a surface,
// with the real font and knob picture. No window is opened.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "widgets/control.h"

class Canvas : public ::testing::Test {
  protected:
    static constexpr int W = 88, H = 280;
    SDL_Surface* surface = nullptr;

    void SetUp() override {
        ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
        ASSERT_EQ(0, TTF_Init()) << TTF_GetError();
        // Widgets read dial.bmp from the working directory.
        ASSERT_EQ(0, chdir(ZU_ASSETS));
        surface = SDL_CreateRGBSurfaceWithFormat(0, W, H, 32, SDL_PIXELFORMAT_RGBA8888);
        ASSERT_NE(nullptr, surface);
        renderer = SDL_CreateSoftwareRenderer(surface);
        ASSERT_NE(nullptr, renderer);
        font = TTF_OpenFont(FONT_FILE, 18);
        ASSERT_NE(nullptr, font) << TTF_GetError();
        clear(0, 0, 0);
    }

    void TearDown() override {
        if (font)
            TTF_CloseFont(font);
        if (renderer)
            SDL_DestroyRenderer(renderer);
        if (surface)
            SDL_FreeSurface(surface);
        font = nullptr;
        renderer = nullptr;
        surface = nullptr;
        TTF_Quit();
        SDL_Quit();
    }

    void clear(Uint8 r, Uint8 g, Uint8 b) {
        SDL_SetRenderDrawBlendMode(renderer, SDL_BLENDMODE_NONE);
        SDL_SetRenderDrawColor(renderer, r, g, b, 255);
        SDL_RenderClear(renderer);
    }

    // The colour at (x, y) as painted so far.
    SDL_Color at(int x, int y) {
        SDL_RenderFlush(renderer);
        Uint32 p = static_cast<Uint32*>(surface->pixels)[y * (surface->pitch / 4) + x];
        SDL_Color c;
        SDL_GetRGBA(p, surface->format, &c.r, &c.g, &c.b, &c.a);
        return c;
    }

    // The colours inside r, row by row, read in one go.
    std::vector<SDL_Color> grab(const SDL_Rect& r) {
        std::vector<SDL_Color> out;
        SDL_RenderFlush(renderer);
        const Uint32* px = static_cast<Uint32*>(surface->pixels);
        for (int y = r.y; y < r.y + r.h; ++y)
            for (int x = r.x; x < r.x + r.w; ++x) {
                SDL_Color c;
                SDL_GetRGBA(px[y * (surface->pitch / 4) + x], surface->format, &c.r, &c.g, &c.b,
                            &c.a);
                out.push_back(c);
            }
        return out;
    }

    static std::string str(SDL_Color c) {
        return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," +
               std::to_string(c.b) + "," + std::to_string(c.a) + ")";
    }
};

inline bool sameRGB(SDL_Color a, SDL_Color b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
