// The benchmark's yardstick: the same window as zu, set up the same way, that only
// clears and presents at zu's pace, with the same two MIDI clients open (output
// port 0, input port 1). What zu costs beyond this is its own.
#include <SDL.h>
#include <rtmidi/RtMidi.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

namespace {
long long monotonicMicros() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}
// The default API, else each compiled one, as zu does; null when none works.
template <class T, class... Args> std::unique_ptr<T> openMidi(const char* client, Args... args) {
    std::vector<RtMidi::Api> apis{RtMidi::UNSPECIFIED};
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    apis.insert(apis.end(), compiled.begin(), compiled.end());
    for (RtMidi::Api api : apis) {
        try {
            return std::make_unique<T>(api, client, args...);
        } catch (const RtMidiError&) {
        }
    }
    return nullptr;
}
} // namespace

int main(int, char**) {
    auto midiOut = openMidi<RtMidiOut>("RtMidi Output Client");
    auto midiIn = openMidi<RtMidiIn>("RtMidi Input Client", 100u);
    try {
        if (midiOut) midiOut->openPort(0, "RtMidi Output");
        if (midiIn) midiIn->openPort(1, "RtMidi Input");
    } catch (const RtMidiError& e) {
        printf("baseline: %s\n", e.what());
    }

    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        printf("baseline: SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_Window* window =
        SDL_CreateWindow("zu-baseline", 20, 20, 88, 280, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!window) {
        printf("baseline: no window: %s\n", SDL_GetError());
        return 1;
    }
    // zu makes a context of its own before the renderer's; so does the yardstick.
    SDL_GLContext context = SDL_GL_CreateContext(window);
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
    if (!renderer) {
        printf("baseline: no renderer: %s\n", SDL_GetError());
        return 1;
    }

    const char* logPath = getenv("ZU_FRAME_LOG");
    FILE* log = logPath ? fopen(logPath, "w") : nullptr;
    bool running = true;
    while (running) {
        Uint32 frameStart = SDL_GetTicks();
        long long top = monotonicMicros();
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
            if (e.type == SDL_QUIT || (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_q))
                running = false;
        }
        SDL_SetRenderDrawColor(renderer, 16, 16, 16, 255);
        SDL_RenderClear(renderer);
        SDL_RenderPresent(renderer);
        if (log) {
            long long end = monotonicMicros();
            fprintf(log, "%lld %lld\n", end, end - top);
            fflush(log);
        }
        if (SDL_GetTicks() - frameStart < 60) SDL_Delay(60);
    }

    if (log) fclose(log);
    SDL_DestroyRenderer(renderer);
    if (context) SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
