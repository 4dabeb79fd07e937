#include "platform.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <SDL.h>
#include <windows.h>

static void connectOutput() {
    // Output that whoever started zu redirected already goes where it was sent.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return; // started from the desktop
    if (!freopen("CONOUT$", "w", stdout)) return;
    if (!freopen("CONOUT$", "w", stderr)) return;
}

void startPlatform() {
    connectOutput();
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengl"); // the environment's choice wins
}

static void showFatal(const std::string& line) {
    DWORD kind = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE));
    if (kind == FILE_TYPE_DISK || kind == FILE_TYPE_PIPE) return;
    std::string text = line.substr(line.find_first_not_of('\n'));
    MessageBoxA(nullptr, text.c_str(), "zu", MB_OK | MB_ICONERROR);
}
#else
void startPlatform() {}
static void showFatal(const std::string&) {}
#endif

void tellFatal(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fputs(line, stdout);
    fflush(stdout);
    showFatal(line);
}
