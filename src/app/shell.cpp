#include "shell.h"

#include <ctime>

static long long monotonicMicros() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

void quitSequence(Shell& s) {
    MidiCC::stop();
    s.running = false;
}

void switchMode(Shell& s) {
    if (MidiCC::toSettingCC)
        MidiCC::enterLearn();
    else
        MidiCC::enterFollow(s.incomingCC);
}

SDL_Point mousePosition() {
    SDL_Point p;
    SDL_GetMouseState(&p.x, &p.y);
    return p;
}

static void keyDown(Shell& s, SDL_Keycode key) {
    Panel& p = s.panel;
    if (key == SDLK_q) {
        quitSequence(s);
    } else if (key == SDLK_r) {
        if (!s.rKeyDown) { // auto-repeat while held must not trigger again
            p.valueButton.downKey(s.gen.sendControlChange);
            s.rKeyDown = true;
        }
    } else if (key == SDLK_c) {
        p.colorButton.downKey();
    } else if (key == SDLK_d) {
        MidiCC::deleteControllersCC();
        p.learnDialog.label->text = "CC - ";
    } else if (key == SDLK_m) {
        switchMode(s);
    }
}

void dispatch(Shell& s, const SDL_Event& e) {
    Panel& p = s.panel;
    switch (e.type) {
    case SDL_QUIT:
        quitSequence(s);
        break;
    case SDL_MOUSEMOTION: {
        int y = mousePosition().y;
        for (Dial* d : p.dials) {
            if (y < s.prevY)
                d->dragUp();
            else if (y > s.prevY)
                d->dragDown();
        }
        s.prevY = y;
        break;
    }
    case SDL_KEYDOWN:
        keyDown(s, e.key.keysym.sym);
        break;
    case SDL_KEYUP:
        if (e.key.keysym.sym == SDLK_r && s.rKeyDown) {
            p.valueButton.upKey();
            s.rKeyDown = false;
        }
        break;
    case SDL_MOUSEBUTTONDOWN: {
        SDL_Point at = mousePosition();
        p.valueButton.downClick(at, s.gen.sendControlChange);
        for (Dial* d : p.dials)
            d->downClick(at);
        break;
    }
    case SDL_MOUSEBUTTONUP: {
        SDL_Point at = mousePosition();
        p.valueButton.upClick(at);
        for (Dial* d : p.dials)
            d->upClick(at);
        break;
    }
    }
}

void renderFrame(Shell& s) {
    SDL_SetRenderDrawColor(renderer, 16, 16, 16, 255);
    SDL_RenderClear(renderer);
    s.panel.render();
    SDL_RenderPresent(renderer);
}

Uint32 frameSleep(Uint32 workMs) {
    return workMs < FRAME_MS ? FRAME_MS : 0;
}

void runFrame(Shell& s, const Clock& clock) {
    s.frameStart = clock.ticks();
    long long top = s.frameLog ? monotonicMicros() : 0;
    SDL_Event e;
    while (SDL_PollEvent(&e))
        dispatch(s, e);
    renderFrame(s);
    if (MidiCC::toSettingCC) followStep(s.follow, s.incomingCC, s.panel, s.gen);
    if (s.frameLog) {
        long long end = monotonicMicros();
        fprintf(s.frameLog, "%lld %lld\n", end, end - top);
        fflush(s.frameLog);
    }
    if (Uint32 sleep = frameSleep(clock.ticks() - s.frameStart)) clock.delay(sleep);
}
