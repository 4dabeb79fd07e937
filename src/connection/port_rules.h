// Which ports zu connects to, decided over the names a service lists ("client:port").
#pragma once

#include <set>
#include <string>
#include <vector>

// name without the number a service adds to a client's name when it comes again
// ("synth-37:in" is "synth:in"): PipeWire numbers every client anew, and RtMidi on ALSA
// adds the client's and the port's numbers ("synth:in 130:0").
std::string withoutClientNumber(const std::string& listed);
// ports less zu's own (own) and those gone (however a service still lists them).
std::vector<std::string> othersOf(const std::vector<std::string>& ports,
                                  const std::set<std::string>& own,
                                  const std::set<std::string>& gone = {});
// What remembered is called among ports now: the same name, else the same name with its
// client number added, changed or dropped; empty when it is not there.
std::string cameBackAs(const std::string& remembered, const std::vector<std::string>& ports);

bool has(const std::vector<std::string>& names, const std::string& name);
// Whether listed ("client:port") is a port called name: JACK lists "client:name", RtMidi
// on ALSA "client:name C:P" with the client's and the port's numbers.
bool isPortNamed(const std::string& listed, const std::string& name);
