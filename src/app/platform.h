// What differs between the systems zu runs on, in one place.
#pragma once

// Makes the lines zu prints reach the user: a Windows program with a window has no
// console of its own, so it writes to the console it was started from, if any.
void connectOutput();
// Prints a line that ends zu. On Windows it also shows it in a message box, unless
// the output goes to a file or a pipe (a script reads it; a box would hold zu open).
void tellFatal(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
