#include "library_noise.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {
thread_local unsigned long errorsHere = 0;
thread_local unsigned long reportsHere = 0;

bool readVerbose() {
    const char* v = getenv("ZU_VERBOSE");
    return v && *v && strcmp(v, "0") != 0;
}

// Written like ALSA lib's own handler, which it replaces.
void onAlsaMessage(const char* file, int line, const char* function, int err, const char* fmt,
                   ...) {
    if (!librariesVerbose()) return;
    fprintf(stderr, "ALSA lib %s:%i:(%s) ", file, line, function);
    va_list args;
    va_start(args, fmt);
    vfprintf(stderr, fmt, args);
    va_end(args);
    if (err) fprintf(stderr, ": %s", snd_strerror(err));
    fputc('\n', stderr);
}

void onJackMessage(const char* text) {
    if (librariesVerbose()) fprintf(stderr, "%s\n", text);
}

// Takes everything and keeps nothing.
class Discard : public std::streambuf {
  protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};
} // namespace

bool librariesVerbose() {
    static const bool verbose = readVerbose();
    return verbose;
}

void quietLibraries() {
    static const bool done = [] {
        librariesVerbose();
        snd_lib_error_set_handler(onAlsaMessage);
        jack_set_error_function(onJackMessage);
        jack_set_info_function(onJackMessage);
        // RtMidi also writes straight to std::cerr from its own threads, e.g. for every
        // message past a full input queue; zu itself never writes there.
        static Discard discard;
        if (!librariesVerbose()) std::cerr.rdbuf(&discard);
        return true;
    }();
    (void)done;
}

void onMidiReport(RtMidiError::Type type, const std::string& text, void*) {
    ++reportsHere;
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) ++errorsHere;
    if (librariesVerbose()) fprintf(stderr, "%s\n", text.c_str());
}

MidiReportWatch::MidiReportWatch() : errors_(errorsHere), reports_(reportsHere) {}

bool MidiReportWatch::errored() const {
    return errorsHere != errors_;
}

bool MidiReportWatch::reported() const {
    return reportsHere != reports_;
}
