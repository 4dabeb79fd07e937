#include "port_rules.h"

#include <algorithm>
#include <cctype>

namespace {
bool allDigits(const std::string& d) {
    return !d.empty() && std::all_of(d.begin(), d.end(),
                                     [](char c) { return isdigit(static_cast<unsigned char>(c)); });
}

// name less the " C:P" (the client's and the port's numbers) that RtMidi adds on ALSA.
std::string withoutAlsaNumbers(const std::string& name) {
    size_t space = name.rfind(' ');
    size_t colon = name.rfind(':');
    if (space == std::string::npos || colon == std::string::npos || colon < space) return name;
    bool numbers =
        allDigits(name.substr(space + 1, colon - space - 1)) && allDigits(name.substr(colon + 1));
    return numbers ? name.substr(0, space) : name;
}
} // namespace

std::string withoutClientNumber(const std::string& listed) {
    std::string name = withoutAlsaNumbers(listed);
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

bool isPortNamed(const std::string& listed, const std::string& name) {
    std::string bare = withoutAlsaNumbers(listed), end = ":" + name;
    return bare.size() > end.size() && !bare.compare(bare.size() - end.size(), end.size(), end);
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
