/* The least a WinMM program does with MIDI: list the devices, which starts Wine's MIDI
 * driver, and return. tests/alsa/wine.sh runs it when zu.exe ends badly, to tell Wine's
 * part from zu's. */
// mmsystem.h needs windows.h first.
#include <windows.h>

#include <mmsystem.h>
#include <stdio.h>

int main(void) {
    printf("%u MIDI outputs, %u MIDI inputs\n", midiOutGetNumDevs(), midiInGetNumDevs());
    fflush(stdout);
    return 0;
}
