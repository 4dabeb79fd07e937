// The MIDI libraries' own messages held back, so that zu can say in one line of its own
// what is wrong (ZU_VERBOSE=1 shows them), and what RtMidi reported.
#pragma once

#include <rtmidi/RtMidi.h>

#include <string>

// Unless verbose, silences std::cerr for the run; only the first call acts. Must run
// before the first RtMidi object is built. Never throws.
void quietLibraries();
// A library's own message: to stderr when ZU_VERBOSE asks for them, else nowhere.
void libraryMessage(const std::string& text);

// RtMidi's error callback: notes the report for this thread; writes it to stderr
// when verbose. Set on an object, it replaces RtMidi's throwing.
void onMidiReport(RtMidiError::Type type, const std::string& text, void* userData);

// What RtMidi reported on this thread so far: errors, and all reports.
inline thread_local unsigned long midiErrors = 0, midiReports = 0;

// What RtMidi reported on this thread while the watch lives.
class MidiReportWatch {
  public:
    // An error was reported: what RtMidi would have thrown.
    bool errored() const { return midiErrors != errors_; }
    // Anything was reported, warnings included.
    bool reported() const { return midiReports != reports_; }

  private:
    unsigned long errors_ = midiErrors, reports_ = midiReports;
};
