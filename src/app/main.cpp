// zu: a random-inertia MIDI Control Change generator with MIDI learn.
#include <glad/gl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "../connection/midi_connection.h"
#include "display.h"
#include "platform.h"
#include "shell.h"

namespace {
using MidiClock = MidiConnection::Clock;
// How long start-up waits for the MIDI service before the window goes on without it.
constexpr std::chrono::seconds MIDI_START_LIMIT(3);

// Ends zu with status; a closing still waiting in a MIDI service that stopped answering
// must not meet libjack's own teardown at exit.
[[noreturn]] void closeAndExit(MidiConnection& midi, int status) {
    fflush(stdout);
    if (!midi.close()) _exit(status);
    exit(status);
}

// Ends zu with status, its window closed first.
[[noreturn]] void leave(MidiConnection& midi, int status) {
    SDL_Quit();
    closeAndExit(midi, status);
}

// The connection that a fatal painting error closes before zu ends.
MidiConnection* openMidi = nullptr;

// A widget that cannot paint ends zu, its MIDI ports closed first like at any end.
[[noreturn]] void paintingFailed(const std::string& line) {
    tellFatal("%s", line.c_str());
    // Not SDL_Quit: closing the display mid-scene can wait for ever on Mesa's render threads.
    closeAndExit(*openMidi, 1);
}

// Without a window or renderer nothing can be shown or drawn safely.
[[noreturn]] void cannotStart(MidiConnection& midi, const char* what) {
    tellFatal("\nzu cannot start: %s: %s\n", what, SDL_GetError());
    leave(midi, 1);
}

// A window that nobody can see leaves nothing to do.
[[noreturn]] void noDisplay(MidiConnection& midi) {
    printf("zu cannot start: there is no display to open its window on. Start zu from your "
           "desktop session (over ssh: ssh -X), or check DISPLAY.\n");
    leave(midi, 1);
}

// Whether the user asked to quit meanwhile: the frame loop takes the request.
bool quitAsked() {
    SDL_PumpEvents();
    if (SDL_HasEvent(SDL_QUIT)) return true;
    SDL_Event keys[32];
    int n = SDL_PeepEvents(keys, 32, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_KEYDOWN);
    for (int i = 0; i < n; ++i)
        if (keys[i].key.keysym.sym == SDLK_q) return true;
    return false;
}

// Waits for the MIDI ports until deadline, or until the user asks to quit.
void awaitMidi(MidiConnection& midi, MidiClock::time_point deadline) {
    while (!midi.started(std::min(deadline, MidiClock::now() + std::chrono::milliseconds(20)))) {
        if (quitAsked()) return;
        if (MidiClock::now() < deadline) continue;
        printf("zu's MIDI service is not answering: zu plays on without MIDI and connects when "
               "it answers.\n");
        fflush(stdout);
        return;
    }
}

void setGlAttributes() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
}
} // namespace

int main(int, char**) {
    startPlatform();
    srand(static_cast<unsigned>(time(nullptr)));
    // Never destroyed: a closing left waiting in a stalled MIDI service may still reach it.
    MidiConnection& midi = MidiConnection::make(MidiCC::inbox);
    openMidi = &midi;
    paintFailed = paintingFailed;

    Generator gen;
    CCPair incomingCC{-1, 0};
    gen.sendControlChange = [&gen, &midi] {
        fill_control_change(gen.ccMessage, gen.channel, gen.ccNumber, gen.currentValue);
        midi.send(gen.ccMessage);
    };

    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        printf("dolek could not be initialized: %s", SDL_GetError());
        cannotStart(midi, "no video");
    }
    if (windowUnseen(SDL_GetCurrentVideoDriver(), getenv("SDL_VIDEODRIVER"))) noDisplay(midi);
    setGlAttributes();
    SDL_Window* window =
        SDL_CreateWindow("zu", 20, 20, 88, 280, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!window) cannotStart(midi, "no window");
    SDL_GLContext context = SDL_GL_CreateContext(window);
    bool glLoaded = context && gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress));
    renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
    if (!renderer) cannotStart(midi, "no renderer");
    if (TTF_Init() == -1) {
        printf("Could not initailize font renderer, error: %s\n", SDL_GetError());
        fflush(stdout);
    }
    font = TTF_OpenFont(FONT_FILE, 18);
    if (!font) {
        tellFatal("Could not load font\n");
        leave(midi, 1);
    }
    int W = 0, H = 0;
    SDL_GetWindowSize(window, &W, &H);
    midi.start({"RtMidi Output Client", "RtMidi Output", 0},
               {"RtMidi Input Client", "RtMidi Input", 1});
    awaitMidi(midi, MidiClock::now() + MIDI_START_LIMIT);
    gen.ccMessage = {128, 0, 0};
    Panel panel(gen, W, H);
    if (glLoaded && SDL_GL_GetCurrentContext()) // a GL call needs a current context
        glViewport(0, 0, 88, 280);
    SDL_SetRenderDrawColor(renderer, 16, 16, 16, 255);
    SDL_RenderClear(renderer);

    Shell shell(gen, panel, incomingCC);
    wakeOnMidi(shell);
    Clock clock;
    // For the benchmark: ZU_FRAME_LOG names a file that gets every frame's timing.
    const char* logPath = getenv("ZU_FRAME_LOG");
    shell.frameLog = logPath ? fopen(logPath, "w") : nullptr;
    while (shell.running)
        runFrame(shell, clock);

    if (shell.frameLog) fclose(shell.frameLog);
    TTF_CloseFont(font);
    SDL_DestroyRenderer(renderer); // the renderer goes before its window
    if (context) SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    leave(midi, 0);
}
