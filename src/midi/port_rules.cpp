#include "port_rules.h"

#include <algorithm>
#include <cctype>

#include "service_watch.h"

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

std::string startRulePort(const std::vector<std::string>& ports, const std::set<std::string>& own,
                          unsigned index) {
    for (const std::string& port : ports)
        if (!own.count(port) && index-- == 0) return port;
    return "";
}

std::string cameBackAs(const std::string& remembered, const std::vector<std::string>& ports) {
    if (std::find(ports.begin(), ports.end(), remembered) != ports.end()) return remembered;
    for (const std::string& port : ports)
        if (withoutClientNumber(port) == withoutClientNumber(remembered)) return port;
    return "";
}

std::set<std::string> undoneByUser(const std::string& own, const std::vector<PortChange>& changes,
                                   const std::vector<std::string>& existing) {
    auto exists = [&existing](const std::string& port) {
        return std::find(existing.begin(), existing.end(), port) != existing.end();
    };
    std::set<std::string> forget;
    for (const PortChange& c : changes) {
        if (c.connected || (c.from != own && c.to != own)) continue;
        const std::string& peer = c.from == own ? c.to : c.from;
        if (exists(own) && exists(peer)) forget.insert(peer);
    }
    return forget;
}
