// One line at start-up that tells the user why MIDI is not connected and what to do.
#pragma once

#include <string>

#include "midi_service.h" // PortCheck

// The advice for what opening output port 0 and input port 1 found, ending in a line
// end; empty when both are connected. It starts on a line of its own after a message
// left without a line end ("Could not open MIDI out port ...").
std::string midiAdvice(const PortCheck& out, const PortCheck& in);

// Prints midiAdvice(out, in) to standard output, if there is any.
void adviseOnMidi(const PortCheck& out, const PortCheck& in);
