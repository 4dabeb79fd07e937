#include "midi_advice.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace {
std::string serviceName(RtMidi::Api api) {
    return api == RtMidi::LINUX_ALSA  ? "ALSA"
           : api == RtMidi::UNIX_JACK ? "JACK"
                                      : RtMidi::getApiDisplayName(api);
}

std::string joined(const std::vector<std::string>& parts, const char* glue) {
    std::string all;
    for (const std::string& p : parts)
        all += (all.empty() ? "" : glue) + p;
    return all;
}

// Why one port is not connected, and what helps.
struct Trouble {
    std::string what, fix;
};

std::vector<Trouble> troubles(const PortCheck& out, const PortCheck& in) {
    const char* synth = "start your synth before zu, or connect \"RtMidi Output\" to it";
    const char* controller = "start your controller before zu, or connect it to \"RtMidi Input\"";
    std::vector<Trouble> found;
    // JACK keeps a port open that found nothing to connect to, so the count tells.
    if (out.ports < 1)
        found.push_back({"no port to send to (output port 0)", synth});
    else if (!out.opened)
        found.push_back({"an output port 0 that would not open", synth});
    if (in.ports < 2)
        found.push_back({"no second port to read from (input port 1)", controller});
    else if (!in.opened)
        found.push_back({"an input port 1 that would not open", controller});
    return found;
}
} // namespace

std::string midiAdvice(const PortCheck& out, const PortCheck& in) {
    // "Could not open MIDI out port " has no line end unless "No ports available!" followed.
    std::string start = !out.opened && in.ports > 0 ? "\n" : "";
    if (!out.answered && !in.answered)
        return start + "zu found no MIDI service: neither the ALSA sequencer nor a JACK server is "
                       "running. Start JACK or PipeWire and zu connects to it.\n";
    std::vector<Trouble> found = troubles(out, in);
    if (found.empty()) return "";
    std::vector<std::string> whats, fixes;
    for (const Trouble& t : found) {
        whats.push_back(t.what);
        fixes.push_back(t.fix);
    }
    std::string fix = joined(fixes, "; ");
    fix[0] = static_cast<char>(toupper(static_cast<unsigned char>(fix[0])));
    RtMidi::Api api = out.answered ? out.api : in.api;
    return start + "zu is not connected: on " + serviceName(api) + " it finds " +
           joined(whats, " and ") + ". " + fix + ".\n";
}

void adviseOnMidi(const PortCheck& out, const PortCheck& in) {
    std::string advice = midiAdvice(out, in);
    if (advice.empty()) return;
    fputs(advice.c_str(), stdout);
    fflush(stdout);
}
