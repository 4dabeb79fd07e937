// Whether SDL found a display that the user can see the window on.
#pragma once

// True when SDL settled on a video driver that shows nothing (offscreen or dummy)
// without the user naming it in SDL_VIDEODRIVER (requested, may be null): it only
// falls back to one of those when no display answered.
bool windowUnseen(const char* driver, const char* requested);
