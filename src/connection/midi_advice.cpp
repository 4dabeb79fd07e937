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

} // namespace

std::string midiAdvice(const PortCheck& out, const PortCheck& in) {
    // "Could not open MIDI out port " has no line end unless "No ports available!" followed.
    std::string start = !out.opened && in.listed > 0 ? "\n" : "";
    if (!out.answered && !in.answered)
        return start + "zu found no MIDI service: neither the ALSA sequencer nor a JACK server is "
                       "running. Start JACK or PipeWire and zu connects to it.\n";
    std::vector<std::string> whats, fixes;
    RtMidi::Api api = out.answered ? out.api : in.api;
    // Only JACK and ALSA let a user connect ports; elsewhere devices are opened by number.
    bool connects = api == RtMidi::UNIX_JACK || api == RtMidi::LINUX_ALSA;
    // JACK keeps a port open that found nothing to connect to, so the count tells.
    if (out.others < 1 || !out.opened) {
        whats.push_back(out.others < 1 ? "no port to send to (output port 0)"
                                       : "an output port 0 that would not open");
        fixes.push_back(connects ? "start your synth and zu connects to it, or connect \"RtMidi "
                                   "Output\" to it"
                                 : "zu sends to the first MIDI output the system lists (on "
                                   "Windows its own \"Microsoft GS Wavetable Synth\") and opens "
                                   "it within a second once there is one");
    }
    if (in.others < 2 || !in.opened) {
        whats.push_back(in.others < 2 ? "no second port to read from (input port 1)"
                                      : "an input port 1 that would not open");
        fixes.push_back(connects ? "plug in your controller and zu connects to it, or connect it "
                                   "to \"RtMidi Input\""
                                 : "zu reads the second MIDI input the system lists and opens it "
                                   "within a second once there is one");
    }
    if (whats.empty()) return "";
    std::string fix = joined(fixes, "; ");
    fix[0] = static_cast<char>(toupper(static_cast<unsigned char>(fix[0])));
    return start + "zu is not connected: on " + serviceName(api) + " it finds " +
           joined(whats, " and ") + ". " + fix + ".\n";
}

void adviseOnMidi(const PortCheck& out, const PortCheck& in) {
    std::string advice = midiAdvice(out, in);
    if (advice.empty()) return;
    fputs(advice.c_str(), stdout);
    fflush(stdout);
}
