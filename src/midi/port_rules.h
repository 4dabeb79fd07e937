// Which ports zu connects to, decided over the names a service lists ("client:port").
#pragma once

#include <set>
#include <string>
#include <vector>

struct PortChange;

// name without the number a service adds to a client's name when it comes again
// ("synth-37:in" is "synth:in"): PipeWire numbers every client anew.
std::string withoutClientNumber(const std::string& name);
// The index-th of ports once zu's own are left out; empty when there are not that many.
std::string startRulePort(const std::vector<std::string>& ports, const std::set<std::string>& own,
                          unsigned index);
// What remembered is called among ports now: the same name, else the same name with its
// client number added, changed or dropped; empty when it is not there.
std::string cameBackAs(const std::string& remembered, const std::vector<std::string>& ports);
// The peers of own to forget after changes: those disconnected while both ports still
// exist, which the user undid. A peer that went with its client is kept for its return.
std::set<std::string> undoneByUser(const std::string& own, const std::vector<PortChange>& changes,
                                   const std::vector<std::string>& existing);
