// zu's two ports kept connected on one service, by one set of rules: the start rule
// (output port 0, input port 1, zu's own never counted) while there is nothing else to
// go by, else what each port was connected to before its service or its peer went away
// and came back; a disconnection the user made stays.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "midi_service.h"

// Runs on the connection's thread; only KeptPort::live is read elsewhere.
class PortKeeper {
  public:
    using Millis = std::chrono::milliseconds;
    PortKeeper(std::unique_ptr<MidiService> service, MidiService::Signal signal);
    // Keeps port: opens it and connects it by the start rule where found.answered, else
    // once a service answers; sets found.answered, others and opened.
    void attach(KeptPort& port, PortCheck& found);
    // Acts on WatchEvent bits; how long the next step may wait at most (0: for an event).
    Millis step(unsigned events);
    // Says in one line where zu sends and listens, where both ports are connected (the
    // advice at start-up tells what is missing); from then on, tells of every port that
    // goes away and every connection made.
    void tellWhere();
    // Forgets the ports and stops watching the service: zu is quitting.
    void close();
    // The service's cycles, for the senders (MidiService::cycles).
    unsigned long cycles() { return service_->cycles(); }

  private:
    using Clock = std::chrono::steady_clock;
    void renew(KeptPort& p);
    bool findName(KeptPort& p);
    void connectPending(KeptPort& p);
    bool joined(KeptPort& p, const std::string& peer, const char* again);
    void takeChanges();
    void wentAway(KeptPort& p, const std::string& peer);
    void reopenRemoved();
    void loseService();
    bool regainService();
    std::set<std::string> gone();
    std::vector<std::string> others(bool inputs);

    std::unique_ptr<MidiService> service_;
    MidiService::Signal signal_;
    std::vector<KeptPort*> ports_;
    bool told_ = false;              // tellWhere ran
    bool open_ = false;              // the service is watched
    bool lost_ = false;              // lost the service since it last answered
    Clock::time_point removalDue_{}; // a client went: look for zu's then
    // Removed and not added since: not there for a while, however listed. A service
    // that fails to tell of a port's return is believed again after that.
    std::map<std::string, Clock::time_point> gone_;
    // Disconnections waiting to show whether the user made them: not if a port of theirs
    // goes, or they are made again, before they settle.
    std::vector<std::pair<Clock::time_point, PortChange>> undone_;
};
