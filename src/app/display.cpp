#include "display.h"

#include <SDL.h>

bool windowUnseen(const char* driver, const char* requested) {
    if (!driver) return false;
    bool showsNothing =
        SDL_strcasecmp(driver, "offscreen") == 0 || SDL_strcasecmp(driver, "dummy") == 0;
    // SDL tries only the drivers SDL_VIDEODRIVER lists, so one it ended with was asked for.
    bool asked = requested && *requested;
    return showsNothing && !asked;
}
