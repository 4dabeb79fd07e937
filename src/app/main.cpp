// zu: a random-inertia MIDI Control Change generator with MIDI learn.
#include <glad/gl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "../midi/midi_advice.h"
#include "../midi/midi_connection.h"
#include "display.h"
#include "platform.h"
#include "shell.h"

namespace {
// Without a window or renderer nothing can be shown or drawn safely.
[[noreturn]] void cannotStart(const char* what) {
    tellFatal("\nzu cannot start: %s: %s\n", what, SDL_GetError());
    SDL_Quit();
    exit(1);
}

// A window that nobody can see leaves nothing to do.
int noDisplay() {
    printf("zu cannot start: there is no display to open its window on. Start zu from your "
           "desktop session (over ssh: ssh -X), or check DISPLAY.\n");
    fflush(stdout);
    SDL_Quit();
    return 1;
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
    connectOutput();
    srand(static_cast<unsigned>(time(nullptr)));
    MidiOutput midiOut("RtMidi Output Client");

    Generator gen;
    CCPair incomingCC{-1, 0};
    gen.sendControlChange = [&gen, &midiOut] {
        fill_control_change(gen.ccMessage, gen.channel, gen.ccNumber, gen.currentValue);
        midiOut.send(gen.ccMessage);
    };

    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        printf("dolek could not be initialized: %s", SDL_GetError());
        cannotStart("no video");
    }
    if (windowUnseen(SDL_GetCurrentVideoDriver(), getenv("SDL_VIDEODRIVER"))) return noDisplay();
    setGlAttributes();
    SDL_Window* window =
        SDL_CreateWindow("zu", 20, 20, 88, 280, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!window) cannotStart("no window");
    SDL_GLContext context = SDL_GL_CreateContext(window);
    bool glLoaded = context && gladLoadGL(reinterpret_cast<GLADloadfunc>(SDL_GL_GetProcAddress));
    renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
    if (!renderer) cannotStart("no renderer");
    if (TTF_Init() == -1) {
        printf("Could not initailize font renderer, error: %s\n", SDL_GetError());
        fflush(stdout);
    }
    font = TTF_OpenFont(FONT_FILE, 18);
    if (!font) {
        tellFatal("Could not load font\n");
        exit(1);
    }
    int W = 0, H = 0;
    SDL_GetWindowSize(window, &W, &H);
    midiOut.openPort(0, "RtMidi Output");
    gen.ccMessage = {128, 0, 0};
    MidiCC::lockController();
    adviseOnMidi(midiOut.found(), MidiCC::inputFound);
    MidiConnection::get().keep();
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
    SDL_Quit();
    // A closing still waiting in a MIDI service that stopped answering must not meet
    // libjack's own teardown at exit.
    if (!MidiConnection::get().close()) {
        fflush(stdout);
        _exit(0);
    }
    return 0;
}
