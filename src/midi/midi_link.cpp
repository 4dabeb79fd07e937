#include "midi_link.h"

#include <jack/jack.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a service that is gone is asked for again, and a port that is still
// missing looked for (the service also tells when ports appear).
constexpr milliseconds RETRY(250);
constexpr milliseconds PENDING_RETRY(1000);
// How often a service is asked for where no socket of it is found.
constexpr milliseconds BLIND_RETRY(5000);
// How long a port zu has just opened may take to show in the service's list.
constexpr milliseconds PORT_SHOWS(2000);
// A client that vanishes while the service shuts down is no removal of its own.
constexpr milliseconds REMOVAL_SETTLES(200);

// Why the link's thread wakes: a step looks at everything, but for these two.
enum Event : unsigned {
    TICK = 1,        // a wait ran out, or the service told of ports or connections
    LOST = 2,        // the server ended
    CLIENT_GONE = 4, // a client went: perhaps one of zu's
};

// What the link knows of one port.
struct Entry {
    LinkedPort* port = nullptr;
    std::string fullName;          // "client:port" as the service lists it; empty until open
    std::set<std::string> peers;   // the ports it is connected to, by full name
    std::set<std::string> restore; // peers to connect again after a reopening
    bool startRule = false;        // still to connect by the start rule
    bool needsOpen = true;
};

struct Link {
    // What the service's callbacks hand over; held only for moments, never while
    // calling the service.
    std::mutex sig;
    std::condition_variable wake;
    unsigned events = 0;                                                    // under sig
    bool stopping = false;                                                  // under sig
    std::vector<std::tuple<jack_port_id_t, jack_port_id_t, bool>> connects; // under sig
    // The entries and the client: the thread's while it works, the UI thread's before
    // keep() and after end(). Timed, so that quitting never waits on a stuck step.
    std::timed_mutex m;
    std::vector<Entry> entries;
    jack_client_t* client = nullptr; // the watching client
    bool lost = false;               // lost the service since it last answered
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;

    void signal(unsigned e) {
        {
            std::lock_guard<std::mutex> lock(sig);
            events |= e;
        }
        wake.notify_one();
    }
    // Waits up to limit (forever when zero) for an event; the events, 0 when stopping.
    unsigned waitEvents(milliseconds limit) {
        std::unique_lock<std::mutex> lock(sig);
        auto ready = [this] { return stopping || events != 0; };
        if (limit.count() > 0)
            wake.wait_for(lock, limit, ready);
        else
            wake.wait(lock, ready);
        return stopping ? 0 : std::exchange(events, 0u) | TICK;
    }
    // Waits up to limit for the service's end, leaving the events to the next wait.
    bool lostWithin(milliseconds limit) {
        std::unique_lock<std::mutex> lock(sig);
        return wake.wait_for(lock, limit, [this] { return stopping || events & LOST; });
    }
};

// Never destroyed: a thread left waiting in a dead service may still reach it at exit.
Link& state = *new Link;

void onShutdown(void*) {
    state.signal(LOST);
}
void onClient(const char*, int registered, void*) {
    if (!registered) state.signal(CLIENT_GONE);
}
void onPort(jack_port_id_t, int registered, void*) {
    if (registered) state.signal(TICK);
}
void onConnect(jack_port_id_t a, jack_port_id_t b, int connected, void*) {
    {
        std::lock_guard<std::mutex> lock(state.sig);
        state.connects.emplace_back(a, b, connected != 0);
    }
    state.signal(TICK);
}

// Where the JACK services wait for clients, as the environment names them: jackd's
// socket and PipeWire's (for its libjack). A service that is gone leaves none that
// takes a connection; one that comes back listens there again.
std::vector<std::string> serviceSockets() {
    auto env = [](const char* name, const char* otherwise) {
        const char* v = getenv(name);
        return std::string(v && *v ? v : otherwise);
    };
    std::vector<std::string> paths{"/dev/shm/jack_" + env("JACK_DEFAULT_SERVER", "default") + "_" +
                                   std::to_string(getuid()) + "_0"};
    std::string remote = env("PIPEWIRE_REMOTE", "pipewire-0");
    std::string dir = env("PIPEWIRE_RUNTIME_DIR", env("XDG_RUNTIME_DIR", "").c_str());
    paths.push_back(remote[0] == '/' ? remote : dir + "/" + remote);
    return paths;
}

enum class Socket { Missing, Refuses, Answers };

Socket knock(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return Socket::Missing;
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, path.size());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return Socket::Missing;
    int r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int err = errno;
    close(fd);
    if (r == 0 || err == EINPROGRESS || err == EAGAIN) return Socket::Answers;
    return err == ENOENT ? Socket::Missing : Socket::Refuses;
}

// Whether opening a client is worth a try: opening one costs PipeWire's libjack tens of
// milliseconds of CPU, so it waits for a socket that answers. Where no socket is found
// (a service set up elsewhere) it is tried now and then.
bool worthOpening() {
    static Clock::time_point lastBlind;
    bool seen = false;
    for (const std::string& path : serviceSockets()) {
        Socket s = knock(path);
        if (s == Socket::Answers) return true;
        seen = seen || s == Socket::Refuses;
    }
    if (seen || Clock::now() - lastBlind < BLIND_RETRY) return false;
    lastBlind = Clock::now();
    return true;
}

// A client without ports that hears of the service's end and of its ports and
// connections; null when no service answers.
jack_client_t* openWatch() {
    quietLibraries();
    jack_client_t* c = jack_client_open("zu-watch", JackNoStartServer, nullptr);
    if (!c) return nullptr;
    jack_on_shutdown(c, onShutdown, nullptr);
    jack_set_client_registration_callback(c, onClient, nullptr);
    jack_set_port_registration_callback(c, onPort, nullptr);
    jack_set_port_connect_callback(c, onConnect, nullptr);
    if (jack_activate(c) != 0) {
        jack_client_close(c);
        return nullptr;
    }
    return c;
}

// Closed alongside zu's ports at quit, within the same limit (MidiCC::closeInput waits).
void closeWatch() {
    jack_client_t* c = std::exchange(state.client, nullptr);
    if (c) startClosing([c] { jack_client_close(c); });
}

void say(const std::string& line) {
    printf("%s\n", line.c_str());
    fflush(stdout);
}

std::vector<std::string> listPorts(const char* pattern, unsigned long flags) {
    std::vector<std::string> out;
    const char** names = jack_get_ports(state.client, pattern, JACK_DEFAULT_MIDI_TYPE, flags);
    if (!names) return out;
    for (const char** p = names; *p; ++p)
        out.emplace_back(*p);
    jack_free(names);
    return out;
}

// The flags of the port itself, and of the other clients' ports it connects to.
unsigned long ownFlags(const Entry& e) {
    return e.port->receives ? JackPortIsInput : JackPortIsOutput;
}
unsigned long peerFlags(const Entry& e) {
    return e.port->receives ? JackPortIsOutput : JackPortIsInput;
}

// The ports the start rule counts: the other clients', in the service's order.
std::vector<std::string> othersPorts(const Entry& e) {
    std::vector<std::string> all = listPorts(nullptr, peerFlags(e));
    all.erase(std::remove_if(all.begin(), all.end(),
                             [](const std::string& name) {
                                 for (const Entry& own : state.entries)
                                     if (own.fullName == name) return true;
                                 return false;
                             }),
              all.end());
    return all;
}

bool connectTo(const Entry& e, const std::string& peer) {
    const std::string& from = e.port->receives ? peer : e.fullName;
    const std::string& to = e.port->receives ? e.fullName : peer;
    int r = jack_connect(state.client, from.c_str(), to.c_str());
    return r == 0 || r == EEXIST;
}

// Opens e's port anew and finds its full name: the port of that name that was not
// there before (another zu's ports have the same name).
void reopen(Entry& e) {
    e.port->live = false;
    const std::string pattern = ":" + e.port->name + "$";
    std::vector<std::string> before = listPorts(pattern.c_str(), ownFlags(e));
    if (!e.port->reopen || !e.port->reopen()) return; // tried again on the next retry
    e.needsOpen = false;
    e.fullName.clear();
    auto deadline = Clock::now() + PORT_SHOWS;
    while (e.fullName.empty() && Clock::now() < deadline) {
        for (const std::string& name : listPorts(pattern.c_str(), ownFlags(e)))
            if (std::find(before.begin(), before.end(), name) == before.end()) e.fullName = name;
        if (e.fullName.empty()) std::this_thread::sleep_for(milliseconds(5));
    }
    e.restore = e.peers;
    e.startRule = e.peers.empty();
    e.port->live = true;
}

// A port's name without the number a service adds to a client's name when it comes
// again ("synth-37:in" is "synth:in"): PipeWire numbers every client anew.
std::string looseName(const std::string& name) {
    size_t colon = name.find(':');
    if (colon == std::string::npos) return name;
    size_t end = colon;
    while (end > 0 && isdigit(static_cast<unsigned char>(name[end - 1])))
        --end;
    if (end < colon && end > 1 && name[end - 1] == '-')
        return name.substr(0, end - 1) + name.substr(colon);
    return name;
}

// The port that peer was, among others: the same name, else the same loose name.
std::string comeBack(const std::string& peer, const std::vector<std::string>& others) {
    for (const std::string& name : others)
        if (name == peer) return name;
    for (const std::string& name : others)
        if (looseName(name) == looseName(peer)) return name;
    return "";
}

// Connects what is waiting to be connected and exists by now.
void connectPending(Entry& e) {
    if (e.fullName.empty()) return;
    std::vector<std::string> others = othersPorts(e);
    for (auto it = e.restore.begin(); it != e.restore.end();) {
        std::string port = comeBack(*it, others);
        if (!port.empty() && connectTo(e, port)) {
            e.peers.erase(*it);
            e.peers.insert(port);
            it = e.restore.erase(it);
        } else {
            ++it;
        }
    }
    if (!e.startRule) return;
    if (others.size() > e.port->startIndex && connectTo(e, others[e.port->startIndex])) {
        e.peers.insert(others[e.port->startIndex]);
        e.startRule = false;
    }
}

bool pending() {
    for (const Entry& e : state.entries)
        if (e.needsOpen || e.startRule || !e.restore.empty()) return true;
    return false;
}

// Connections made and undone: a peer is forgotten only when both ports still exist,
// so the user undid it; one that went away with its client stays to be restored.
void takeConnections() {
    std::vector<std::tuple<jack_port_id_t, jack_port_id_t, bool>> got;
    {
        std::lock_guard<std::mutex> lock(state.sig);
        got.swap(state.connects);
    }
    for (const auto& [a, b, connected] : got) {
        jack_port_t* pa = jack_port_by_id(state.client, a);
        jack_port_t* pb = jack_port_by_id(state.client, b);
        if (!pa || !pb) continue;
        std::string na = jack_port_name(pa), nb = jack_port_name(pb);
        for (Entry& e : state.entries) {
            if (e.fullName.empty() || (na != e.fullName && nb != e.fullName)) continue;
            const std::string& peer = na == e.fullName ? nb : na;
            if (connected) {
                e.peers.insert(peer);
                e.restore.erase(peer);
                e.startRule = false;
            } else {
                e.peers.erase(peer);
            }
        }
    }
}

void loseService() {
    for (Entry& e : state.entries) {
        e.port->live = false;
        e.needsOpen = true;
    }
    // A client of a server that died is never closed: libjack crashes on it while it
    // tears the client down itself, and after a failed opening of another.
    for (Entry& e : state.entries)
        if (e.port->abandon) e.port->abandon();
    abandon(std::exchange(state.client, nullptr));
    state.lost = true;
    say("zu lost its MIDI service: it plays on without sending MIDI and connects again when "
        "the service is back.");
}

// True once the service answers and zu's ports are open on it again.
bool regainService() {
    if (!worthOpening()) return false;
    state.client = openWatch();
    if (!state.client) return false;
    for (Entry& e : state.entries)
        if (e.needsOpen) reopen(e);
    say(state.lost ? "zu is connected to its MIDI service again."
                   : "zu is connected to its MIDI service.");
    state.lost = false;
    return true;
}

// One of zu's clients removed by a service that goes on: that port is opened again.
void reopenRemoved() {
    if (state.lostWithin(REMOVAL_SETTLES)) return;
    for (Entry& e : state.entries) {
        if (e.needsOpen || e.fullName.empty() ||
            jack_port_by_name(state.client, e.fullName.c_str()))
            continue;
        say("zu's MIDI port \"" + e.port->name +
            "\" was removed by the service; zu opened it again.");
        reopen(e);
    }
}

// One round of the watch; returns how long to wait for the next event (0: no limit).
milliseconds step(unsigned events) {
    std::lock_guard<std::timed_mutex> lock(state.m);
    if (events & LOST && state.client) loseService();
    if (!state.client && !regainService()) return RETRY;
    if (events & CLIENT_GONE) reopenRemoved();
    for (Entry& e : state.entries)
        if (e.needsOpen) reopen(e);
    takeConnections();
    for (Entry& e : state.entries)
        connectPending(e);
    return pending() ? PENDING_RETRY : milliseconds(0);
}

void run(std::shared_ptr<std::atomic<bool>> finished, milliseconds wait) {
    while (unsigned events = state.waitEvents(wait)) // 0: stopping
        wait = step(events);
    *finished = true;
}

} // namespace

void MidiLink::attach(LinkedPort& port, PortCheck& found) {
    std::lock_guard<std::timed_mutex> lock(state.m);
    state.entries.emplace_back();
    Entry& e = state.entries.back();
    e.port = &port;
    found.opened = false;
    if (!state.client && found.answered) state.client = openWatch();
    found.answered = state.client != nullptr;
    if (!found.answered) return; // the thread opens it once a service answers
    reopen(e);
    takeConnections();
    connectPending(e);
    found.ports = static_cast<unsigned>(othersPorts(e).size());
    // JACK keeps a port open with nothing to connect to; the count tells the user.
    found.opened = !e.needsOpen;
}

void MidiLink::detach(LinkedPort& port) {
    std::unique_lock<std::timed_mutex> lock(state.m, CLOSE_LIMIT);
    if (!lock.owns_lock()) return; // a step stuck in the service: the process is ending
    state.entries.erase(std::remove_if(state.entries.begin(), state.entries.end(),
                                       [&port](const Entry& e) { return e.port == &port; }),
                        state.entries.end());
}

void MidiLink::keep() {
    std::lock_guard<std::timed_mutex> lock(state.m);
    if (state.thread.joinable() || state.entries.empty()) return;
    state.finished = std::make_shared<std::atomic<bool>>(false);
    milliseconds first = !state.client ? RETRY : pending() ? PENDING_RETRY : milliseconds(0);
    state.thread = std::thread(run, state.finished, first);
}

void MidiLink::end() {
    {
        std::lock_guard<std::mutex> lock(state.sig);
        state.stopping = true;
    }
    state.wake.notify_one();
    bool stuck = false;
    if (state.thread.joinable()) {
        // A step waiting in a service that stopped answering is left behind.
        stuck = !waitFor(*state.finished, CLOSE_LIMIT);
        if (stuck) {
            state.thread.detach();
            markLeftBehind();
        } else
            state.thread.join();
    }
    if (!stuck && state.m.try_lock()) {
        closeWatch();
        state.m.unlock();
    }
}
