#include "library_messages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {
bool verbose() {
    static const bool on = [] {
        const char* v = getenv("ZU_VERBOSE");
        return v && *v && strcmp(v, "0") != 0;
    }();
    return on;
}

// Takes everything and keeps nothing.
class Discard : public std::streambuf {
  protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};
} // namespace

void libraryMessage(const std::string& text) {
    if (verbose()) fprintf(stderr, "%s\n", text.c_str());
}

void quietLibraries() {
    static const bool done = [] {
        // RtMidi also writes straight to std::cerr from its own threads, e.g. for every
        // message past a full input queue; zu itself never writes there.
        // Never destroyed: std::cerr is flushed after every static is gone.
        static auto* discard = new Discard;
        if (!verbose()) std::cerr.rdbuf(discard);
        return true;
    }();
    (void)done;
}

void onMidiReport(RtMidiError::Type type, const std::string& text, void*) {
    ++midiReports;
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) ++midiErrors;
    libraryMessage(text);
}
