// zu's two ports kept connected on a service that has a watch. Each is opened
// unconnected and connected by name: by the start rule (output port 0, input port 1,
// zu's own never counted) when there is nothing else to go by, else to what it was
// connected to before its service or its peer went away and came back.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "service_watch.h"

struct KeptPort {
    std::string name;        // the port's own name: "RtMidi Output"
    unsigned startIndex = 0; // which of the other clients' ports the start rule takes
    bool receives = false;   // zu's input: other clients' outputs feed it
    // Opens the port unconnected, on a new object after the first time; false on failure.
    std::function<bool()> reopen;
    // Lets go of the port's object, whose service has gone, without closing it.
    std::function<void()> letGo;
    std::atomic<bool> live{false}; // open on a service that answers

    std::string fullName;          // as the service lists it; empty until open
    std::set<std::string> peers;   // connected to it, or until they went away
    std::set<std::string> restore; // peers to connect again once they are there
    bool startRule = false;        // still to connect by the start rule
    bool needsOpen = true;
};

// Used on one thread only.
class PortKeeper {
  public:
    using Millis = std::chrono::milliseconds;

    PortKeeper(std::unique_ptr<ServiceWatch> watch, ServiceWatch::Signal signal);
    // Keeps port: opens it and connects it by the start rule where found.answered, else
    // once a service answers; sets found.answered, ports and opened.
    void attach(KeptPort& port, PortCheck& found);
    void detach(KeptPort& port);
    // Acts on WatchEvent bits; how long the next step may wait at most (0: for an event).
    Millis step(unsigned events);
    // Says in one line where zu sends and listens, where both ports are connected (the
    // advice at start-up tells what is missing); from then on, tells of every port that
    // goes away and every connection made.
    void tellWhere();
    // Closes the watching client: zu is quitting.
    void close();

  private:
    using Clock = std::chrono::steady_clock;
    void reopen(KeptPort& p);
    void connectPending(KeptPort& p, const std::vector<std::string>& candidates);
    void takeChanges();
    void reopenRemoved();
    void loseService();
    bool regainService();
    std::set<std::string> ownNames() const;

    std::unique_ptr<ServiceWatch> watch_;
    ServiceWatch::Signal signal_;
    std::vector<KeptPort*> ports_;
    bool open_ = false;              // the watching client is open
    bool lost_ = false;              // lost the service since it last answered
    bool told_ = false;              // tellWhere ran
    Clock::time_point removalDue_{}; // a client went: look for zu's then
    std::vector<std::pair<Clock::time_point, PortChange>> undone_; // disconnections settling
};
