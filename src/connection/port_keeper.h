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
    bool input = false;      // zu's input: other clients' outputs feed it
    // Opens the port unconnected (index -1), on a new object after the first time, or
    // onto the service's port index; false on failure.
    std::function<bool(int index)> open;
    // Lets go of the port's object, whose service has gone, without closing it.
    std::function<void()> drop;
    std::atomic<bool> live{false}; // open on a service that answers; read by any thread

    // The keeper's own, on the connection's thread.
    std::string fullName;            // as the service lists it; empty until it shows there
    std::vector<std::string> before; // ports of this name before it opened: another zu's
    std::set<std::string> peers;     // connected to it, or until they went away
    std::set<std::string> restore;   // peers to connect again once they are there
    bool startRule = false;          // still to connect by the start rule
    bool needsOpen = true;
};

// How zu's ports are kept: PortKeeper where a watch hears the service, PortScan
// (port_scan.h) where zu has to look. Both run on the connection's thread; only
// KeptPort::live is read elsewhere.
class Keeping {
  public:
    using Millis = std::chrono::milliseconds;
    virtual ~Keeping() = default;
    // Keeps port: opens it and connects it by the start rule where found.answered, else
    // once a service answers; sets found.answered, others and opened.
    virtual void attach(KeptPort& port, PortCheck& found) = 0;
    // Acts on WatchEvent bits; how long the next step may wait at most (0: for an event).
    virtual Millis step(unsigned events) = 0;
    // Says in one line where zu sends and listens, where both ports are connected (the
    // advice at start-up tells what is missing); from then on, tells of every port that
    // goes away and every connection made.
    void tellWhere();
    // Forgets the ports and closes what watches the service: zu is quitting.
    virtual void close() = 0;

  protected:
    std::vector<KeptPort*> ports_;
    bool told_ = false; // tellWhere ran
};

class PortKeeper : public Keeping {
  public:
    PortKeeper(std::unique_ptr<ServiceWatch> watch, ServiceWatch::Signal signal);
    void attach(KeptPort& port, PortCheck& found) override;
    Millis step(unsigned events) override;
    void close() override;

  private:
    using Clock = std::chrono::steady_clock;
    void open(KeptPort& p);
    bool findName(KeptPort& p);
    void connectPending(KeptPort& p);
    void takeChanges();
    void wentAway(KeptPort& p, const std::string& peer);
    void reopenRemoved();
    void loseService();
    bool regainService();
    std::vector<std::string> others(bool inputs);

    std::unique_ptr<ServiceWatch> watch_;
    ServiceWatch::Signal signal_;
    bool open_ = false;              // the watching client is open
    bool lost_ = false;              // lost the service since it last answered
    Clock::time_point removalDue_{}; // a client went: look for zu's then
    std::set<std::string> gone_;     // removed and not added since, however listed
    // Disconnections waiting to show whether the user made them: not if a port of theirs
    // goes, or they are made again, before they settle.
    std::vector<std::pair<Clock::time_point, PortChange>> undone_;
};
