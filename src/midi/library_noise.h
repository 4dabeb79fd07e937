// The MIDI libraries' own messages (RtMidi, libjack, ALSA lib) are held back, so
// that zu can say in one line of its own what is wrong; ZU_VERBOSE=1 shows them.
#pragma once

#include <rtmidi/RtMidi.h>

#include <string>

// Hands libjack's and ALSA lib's messages to zu and, unless verbose, silences
// std::cerr for the run, reading ZU_VERBOSE; only the first call acts. Must run
// before the first RtMidi object is built. Never throws.
void quietLibraries();
// True when ZU_VERBOSE asks for the libraries' messages on stderr.
bool librariesVerbose();

// RtMidi's error callback: notes the report for this thread; writes it to stderr
// when verbose. Set on an object, it replaces RtMidi's throwing.
void onMidiReport(RtMidiError::Type type, const std::string& text, void* userData);

// What RtMidi reported on this thread while the watch lives.
class MidiReportWatch {
  public:
    MidiReportWatch();
    // An error was reported: what RtMidi would have thrown.
    bool errored() const;
    // Anything was reported, warnings included.
    bool reported() const;

  private:
    unsigned long errors_, reports_;
};
