// What differs between the systems zu runs on, in one place.
#pragma once

// Before SDL starts: makes the lines zu prints reach the user (a Windows program with a
// window has no console of its own, so it writes to the one it was started from, if
// any), and has SDL draw with OpenGL as on Linux unless SDL_RENDER_DRIVER says otherwise
// (under Wine, Direct3D reports each present as an expose, which asks for the next).
void startPlatform();
// Prints a line that ends zu. On Windows it also shows it in a message box, unless
// the output goes to a file or a pipe (a script reads it; a box would hold zu open).
void tellFatal(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
