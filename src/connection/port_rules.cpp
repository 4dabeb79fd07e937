#include "port_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

std::string withoutClientNumber(const std::string& name) {
    size_t colon = name.find(':');
    if (colon == std::string::npos) return name;
    size_t end = colon;
    while (end > 0 && isdigit(static_cast<unsigned char>(name[end - 1])))
        --end;
    if (end < colon && end > 1 && name[end - 1] == '-')
        return name.substr(0, end - 1) + name.substr(colon);
    return name;
}

bool has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> othersOf(const std::vector<std::string>& ports,
                                  const std::set<std::string>& own,
                                  const std::set<std::string>& gone) {
    std::vector<std::string> others;
    for (const std::string& port : ports)
        if (!own.count(port) && !gone.count(port)) others.push_back(port);
    return others;
}

std::string cameBackAs(const std::string& remembered, const std::vector<std::string>& ports) {
    if (has(ports, remembered)) return remembered;
    for (const std::string& port : ports)
        if (withoutClientNumber(port) == withoutClientNumber(remembered)) return port;
    return "";
}

const char *const LOST_SERVICE = "zu lost its MIDI service: it plays on without sending MIDI "
                                 "and connects again when the service is back.",
                  *const SERVICE_BACK = "zu is connected to its MIDI service again.",
                  *const SERVICE_FOUND = "zu is connected to its MIDI service.";

void say(const std::string& line) {
    printf("%s\n", line.c_str());
    fflush(stdout);
}

std::string where(bool input, const std::string& peer) {
    return (input ? "listens to " : "sends to ") + withoutClientNumber(peer);
}

std::string wentAwayLine(const std::string& peer) {
    return withoutClientNumber(peer) + " went away: zu connects to it again when it is back.";
}
