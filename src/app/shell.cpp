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

void wakeOnMidi(Shell& s) {
    Uint32 type = SDL_RegisterEvents(1);
    if (type == static_cast<Uint32>(-1)) return;
    s.midiEvent = type;
    // Both bytes travel in the event, so pairs that follow each other within one
    // frame each get their step.
    MidiCC::pairChanged = [type, &s](int number, int value) {
        SDL_Event e{};
        e.type = type;
        e.user.code = (number & 0xFF) << 8 | (value & 0xFF);
        if (SDL_PushEvent(&e) != 1) s.wakeLost = true;
    };
}

// Window events come for many reasons (some systems report each present as one):
// only those that reveal or spoil the picture ask for a paint.
static bool needsPaint(const SDL_Event& e) {
    if (e.type != SDL_WINDOWEVENT) return true;
    switch (e.window.event) {
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_RESIZED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        return true;
    default:
        return false;
    }
}

void handleEvent(Shell& s, const SDL_Event& e) {
    if (s.midiEvent != 0 && e.type == s.midiEvent) {
        if (!MidiCC::toSettingCC) return; // learn mode follows nothing
        int number = e.user.code >> 8 & 0xFF, value = e.user.code & 0xFF;
        followNewPair(s.follow, number, value, s.panel, s.gen);
        if (s.frameLog) fprintf(s.frameLog, "midi %lld %d %d\n", monotonicMicros(), number, value);
    } else {
        dispatch(s, e);
        if (needsPaint(e)) requestPaint();
        if (s.frameLog) fprintf(s.frameLog, "event %lld %u\n", monotonicMicros(), e.type);
    }
}

void renderFrame(Shell& s) {
    SDL_SetRenderDrawColor(renderer, 16, 16, 16, 255);
    SDL_RenderClear(renderer);
    s.panel.render();
    SDL_RenderPresent(renderer);
}

bool paintIfChanged(Shell& s) {
    if (takePaintRequest()) {
        renderFrame(s);
        return true;
    }
    Dial::requirePicture();
    return false;
}

Uint32 frameSleep(Uint32 workMs) {
    return workMs < FRAME_MS ? FRAME_MS : 0;
}

// The deadline decides, not the wait's result: SDL returns 0 on timeout and on error alike.
void waitOut(Shell& s, const Clock& clock, Uint32 ms) {
    Uint32 start = clock.ticks();
    SDL_Event e;
    while (s.running) {
        Uint32 gone = clock.ticks() - start;
        if (gone >= ms) break;
        if (!clock.waitEvent(&e, ms - gone)) continue;
        handleEvent(s, e);
    }
    if (s.frameLog) fflush(s.frameLog);
}

void runFrame(Shell& s, const Clock& clock) {
    s.frameStart = clock.ticks();
    long long top = s.frameLog ? monotonicMicros() : 0;
    // Pairs stepped while the last frame waited were that frame's: this frame's own
    // step follows them at once (a released pad is pressed again now, not a frame later).
    followNextFrame(s.follow);
    SDL_Event e;
    while (SDL_PollEvent(&e))
        handleEvent(s, e);
    if (MidiCC::toSettingCC) {
        // With events every pair comes in order; sampling could step one out of turn,
        // so it is only for when no event brings the pairs (or SDL's queue was full).
        if (s.midiEvent == 0 || s.wakeLost.exchange(false))
            followPublished(s.follow, s.incomingCC, s.panel, s.gen);
        followFrame(s.follow, s.panel, s.gen);
    }
    bool painted = paintIfChanged(s);
    if (s.frameLog) {
        long long end = monotonicMicros();
        fprintf(s.frameLog, "%lld %lld %d\n", end, end - top, painted ? 1 : 0);
        fflush(s.frameLog);
    }
    waitOut(s, clock, frameSleep(clock.ticks() - s.frameStart));
}
