#include "servers.h"

#include <alsa/asoundlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zutest {

namespace {
const Millis START_TIMEOUT(15000);
// Xvfb reads its keymaps and fonts first: slow from a cold disk, or in an emulated machine.
const Millis XVFB_START_TIMEOUT(60000);
const Millis STOP_GRACE(8000);
const Millis PEEK_LIMIT(5000);
const char* PIPEWIRE_LIBJACK_DIR = "/usr/lib/x86_64-linux-gnu/pipewire-0.3/jack";

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// libjack reports every failed connection attempt on stderr; polling makes many.
void quietJack() {
    static bool done = false;
    if (done) return;
    done = true;
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
}

// A client without ports, for looking at the server; closed when it goes out of scope.
// A busy server may turn a new client away: a patient Peek tries again for a while.
class Peek {
  public:
    explicit Peek(const std::string& server, bool patient = true) {
        quietJack();
        auto open = [&] {
            jack_status_t status;
            client_ = jack_client_open(
                "zu-test-peek", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                &status, server.c_str());
            return client_ != nullptr;
        };
        if (!open() && patient) waitUntil(open, PEEK_LIMIT, Millis(100), "a JACK client to look");
    }
    ~Peek() {
        if (client_) jack_client_close(client_);
    }
    jack_client_t* get() const { return client_; }

  private:
    jack_client_t* client_ = nullptr;
};

std::vector<std::string> takeList(const char** names) {
    std::vector<std::string> out;
    if (!names) return out;
    for (const char** p = names; *p; ++p)
        out.emplace_back(*p);
    jack_free(names);
    return out;
}

// Removes /dev/shm/jack_sem.* files of a server, which clients lost with it leave behind.
void removeSemaphores(const std::string& serverName) {
    const std::string mark = "_" + serverName + "_";
    DIR* shm = opendir("/dev/shm");
    if (!shm) return;
    while (dirent* e = readdir(shm)) {
        std::string n = e->d_name;
        if (n.rfind("jack_sem.", 0) == 0 && n.find(mark) != std::string::npos)
            unlink(("/dev/shm/" + n).c_str());
    }
    closedir(shm);
}
} // namespace

// jackd prints no times: its output goes through a FIFO to a thread that writes each
// line to the log behind the time it arrived, so a failure shows when a client stopped.
class StampedLog {
  public:
    StampedLog(const std::string& fifo, const std::string& log) : fifo_(fifo) {
        mkfifo(fifo.c_str(), 0600);
        // Read and write: the FIFO never reports an end while jackd is restarted.
        fd_ = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        thread_ = std::thread([this, log] { copy(log); });
    }
    ~StampedLog() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    const std::string& fifo() const { return fifo_; }

  private:
    void copy(const std::string& log) {
        std::string line;
        char buf[4096];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            ssize_t n = read(fd_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\n') {
                    line += buf[i];
                    continue;
                }
                auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::steady_clock::now().time_since_epoch());
                std::ofstream(log, std::ios::app) << us.count() << " " << line << "\n";
                line.clear();
            }
        }
    }

    std::string fifo_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

XvfbServer::XvfbServer()
    : dir_(std::make_unique<TempDir>("zu-xvfb")),
      kept_(std::make_unique<Kept>("xvfb.log", dir_->file("xvfb.log"))) {
    SpawnOptions o;
    o.argv = {ZU_XVFB_SCRIPT};
    o.stdoutPath = dir_->file("display");
    o.stderrPath = dir_->file("xvfb.log");
    proc_ = Process(o);
    // The script becomes Xvfb, which writes its display number once it accepts connections.
    std::string number;
    waitUntil(
        [&] {
            number = readFile(dir_->file("display"));
            return !proc_.running() || number.find('\n') != std::string::npos;
        },
        XVFB_START_TIMEOUT, Millis(25), "Xvfb's start");
    if (!proc_.running() || number.empty() || number.back() != '\n') {
        proc_.terminate(STOP_GRACE);
        throw std::runtime_error("Xvfb did not come up (" + proc_.describeEnd() + "):\n" +
                                 tailOfFile(dir_->file("xvfb.log")));
    }
    display_ = ":" + number.substr(0, number.size() - 1);
}

void XvfbServer::stop() {
    proc_.terminate(STOP_GRACE);
}

std::string serviceName(Service service) {
    return service == Service::Jack ? "Jack" : service == Service::PipeWire ? "PipeWire" : "Alsa";
}

void PrintTo(Service service, std::ostream* os) {
    *os << serviceName(service);
}

std::string MidiService::uniqueName(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::vector<std::string> PortGraph::connections(const std::string& port) const {
    auto it = links.find(port);
    return it == links.end() ? std::vector<std::string>{} : it->second;
}

bool PortGraph::connected(const std::string& port, const std::string& other) const {
    for (const std::string& c : connections(port))
        if (c == other) return true;
    return false;
}

std::string PortGraph::portOf(const std::string& client, const std::string& shortName) const {
    const std::string end = ":" + shortName;
    for (const std::string& p : ports)
        if (p.rfind(client, 0) == 0 && p.size() > end.size() &&
            p.compare(p.size() - end.size(), std::string::npos, end) == 0)
            return p;
    return "";
}

std::unique_ptr<MidiService> startService(Service service, const std::string& name) {
    if (service == Service::Jack) return std::make_unique<JackServer>(name);
    if (service == Service::Alsa) return std::make_unique<AlsaService>(name);
    return std::make_unique<PipeWireServer>(name);
}

Environment withoutService(Service service, Environment base) {
    const std::string absent = "zu-absent-" + std::to_string(getpid());
    if (service == Service::PipeWire) return PipeWireServer::jackLibrary(base, absent);
    // The kernel's sequencer cannot be away: only JACK is missing.
    return base.set("JACK_DEFAULT_SERVER", absent).set("JACK_NO_START_SERVER", "1");
}

JackServer::JackServer(const std::string& name)
    : MidiService(name), dir_(std::make_unique<TempDir>("zu-jack")),
      log_(std::make_unique<StampedLog>(dir_->file("jackd.fifo"), logPath())),
      kept_(std::make_unique<Kept>("service.log", logPath())) {
    start();
}

JackServer::~JackServer() {
    stop();
}

void JackServer::start() {
    SpawnOptions o;
    // Synchronous (-S): a client late in a cycle delays it instead of losing its MIDI.
    o.argv = {"jackd", "--no-realtime", "-S", "-n", name_, "-d", "dummy",
              "-r",    "48000",         "-p", "256"};
    // A program that opens and closes clients as it goes (zu without its watches) holds
    // up every cycle of a synchronous server on a busy machine; its cases count nothing.
    if (getenv("ZU_TEST_JACKD_ASYNC")) o.argv.erase(o.argv.begin() + 2);
    o.env.set("JACK_NO_AUDIO_RESERVATION", "1");
    o.stdoutPath = o.stderrPath = log_->fifo();
    proc_ = Process(o);
    tellReaper("jack " + name_);
    bool up = waitUntil([&] { return !proc_.running() || reachable(); }, START_TIMEOUT, Millis(50),
                        "jackd's start");
    if (!up || !proc_.running()) {
        proc_.terminate(STOP_GRACE);
        throw std::runtime_error("jackd " + name_ + " did not come up (" + proc_.describeEnd() +
                                 "):\n" + tailOfFile(logPath()));
    }
    stopped_ = false;
}

bool JackServer::reachable() const {
    return Peek(name_, false).get() != nullptr;
}

bool JackServer::stop() {
    if (stopped_) return true;
    stopped_ = true;
    Ending ending;
    if (proc_.terminate(STOP_GRACE)) {
        tellReaper("freed " + name_);
        return true;
    }
    // Killed: its registry entry stays until a server of the same name exits cleanly.
    freeName();
    return false;
}

bool JackServer::freeName() {
    Ending ending;
    bool clean = false;
    try {
        start();
        stopped_ = true;
        clean = proc_.terminate(STOP_GRACE);
    } catch (const std::exception&) {
    }
    removeSemaphores(name_);
    if (clean) tellReaper("freed " + name_);
    return clean;
}

PortGraph JackServer::graph() const {
    Peek peek(name_);
    PortGraph g;
    if (!peek.get()) return g;
    g.ports = takeList(jack_get_ports(peek.get(), nullptr, nullptr, 0));
    for (const std::string& port : g.ports)
        if (jack_port_t* p = jack_port_by_name(peek.get(), port.c_str()))
            g.links[port] = takeList(jack_port_get_all_connections(peek.get(), p));
    return g;
}

bool JackServer::connect(const std::string& from, const std::string& to) const {
    Peek peek(name_);
    if (!peek.get()) return false;
    int r = jack_connect(peek.get(), from.c_str(), to.c_str());
    return r == 0 || r == EEXIST;
}

Environment JackServer::clientEnvironment(Environment base) const {
    return base.set("JACK_DEFAULT_SERVER", name_).set("JACK_NO_START_SERVER", "1");
}

bool MidiService::link(const std::string& from, const std::string& to, bool made) const {
    SpawnOptions o;
    o.argv = {made ? "jack_connect" : "jack_disconnect", from, to};
    o.env = clientEnvironment();
    Process tool(o);
    return tool.wait(START_TIMEOUT) && tool.exitCode() == 0;
}

PipeWireServer::PipeWireServer(const std::string& name)
    : MidiService(name), dir_(std::make_unique<TempDir>("zu-pipewire")),
      kept_(std::make_unique<Kept>("service.log", logPath())) {
    chmod(dir_->path().c_str(), 0700);
    start();
}

void PipeWireServer::start() {
    SpawnOptions o;
    o.argv = {"pipewire"};
    // No session bus and no X server: the daemon needs neither, and must not find the user's.
    o.env.unset("DISPLAY")
        .set("XDG_RUNTIME_DIR", dir_->path())
        .set("PIPEWIRE_CORE", name_)
        .set("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    o.stdoutPath = o.stderrPath = dir_->file("pipewire.log");
    const std::string socket = dir_->file(name_);
    unlink(socket.c_str()); // left by a daemon that was killed
    proc_ = Process(o);
    bool up = waitUntil([&] { return !proc_.running() || exists(socket); }, START_TIMEOUT,
                        Millis(25), "pipewire's start");
    if (!up || !proc_.running()) {
        proc_.terminate(STOP_GRACE);
        throw std::runtime_error("pipewire " + name_ + " did not come up (" + proc_.describeEnd() +
                                 "):\n" + tailOfFile(dir_->file("pipewire.log")));
    }
}

bool PipeWireServer::stop() {
    return proc_.terminate(STOP_GRACE);
}

Environment PipeWireServer::jackLibrary(Environment base, const std::string& remote) {
    std::string path = base.get("LD_LIBRARY_PATH");
    return base.set("LD_LIBRARY_PATH", PIPEWIRE_LIBJACK_DIR + (path.empty() ? "" : ":" + path))
        .set("PIPEWIRE_REMOTE", remote)
        // The period of the jackd tests; PipeWire's own default is 1024 frames.
        .set("PIPEWIRE_QUANTUM", "256/48000")
        .set("JACK_NO_START_SERVER", "1");
}

Environment PipeWireServer::clientEnvironment(Environment base) const {
    return jackLibrary(base, name_).set("XDG_RUNTIME_DIR", dir_->path());
}

PortGraph PipeWireServer::graph() const {
    // This process has jackd's libjack loaded, so PipeWire's is asked from a child:
    // "jack_lsp -c" lists every port, each followed by its connections indented.
    TempDir out("zu-pipewire-lsp");
    SpawnOptions o;
    o.argv = {"jack_lsp", "-c"};
    o.env = clientEnvironment();
    o.stdoutPath = out.file("ports");
    Process lsp(o);
    PortGraph g;
    if (!lsp.wait(START_TIMEOUT) || lsp.exitCode() != 0) return g;
    std::istringstream lines(readFile(out.file("ports")));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] != ' ')
            g.ports.push_back(line);
        else if (!g.ports.empty() && line.size() > 3)
            g.links[g.ports.back()].push_back(line.substr(3));
    }
    return g;
}

namespace {
const char* ALSA_SEQUENCER = "/dev/snd/seq";

struct SeqPort {
    snd_seq_addr_t addr;
    std::string name; // "client:port"
};

// A sequencer client without ports, for looking; closed when it goes out of scope.
class SeqPeek {
  public:
    SeqPeek() {
        if (snd_seq_open(&seq_, "hw", SND_SEQ_OPEN_DUPLEX, 0) < 0) seq_ = nullptr;
    }
    ~SeqPeek() {
        if (seq_) snd_seq_close(seq_);
    }
    SeqPeek(const SeqPeek&) = delete;
    SeqPeek& operator=(const SeqPeek&) = delete;

    // Every port but those of the kernel's own client 0, in the sequencer's order.
    std::vector<SeqPort> ports() const {
        std::vector<SeqPort> out;
        if (!seq_) return out;
        snd_seq_client_info_t* client;
        snd_seq_port_info_t* port;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(seq_, client) >= 0) {
            int id = snd_seq_client_info_get_client(client);
            if (id == SND_SEQ_CLIENT_SYSTEM) continue;
            snd_seq_port_info_set_client(port, id);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(seq_, port) >= 0)
                out.push_back({*snd_seq_port_info_get_addr(port),
                               std::string(snd_seq_client_info_get_name(client)) + ":" +
                                   snd_seq_port_info_get_name(port)});
        }
        return out;
    }

    // The ports that send to at and that at sends to.
    std::vector<snd_seq_addr_t> subscribers(const snd_seq_addr_t& at) const {
        std::vector<snd_seq_addr_t> out;
        snd_seq_query_subscribe_t* query;
        snd_seq_query_subscribe_alloca(&query);
        snd_seq_query_subscribe_set_root(query, &at);
        for (auto type : {SND_SEQ_QUERY_SUBS_READ, SND_SEQ_QUERY_SUBS_WRITE}) {
            snd_seq_query_subscribe_set_type(query, type);
            snd_seq_query_subscribe_set_index(query, 0);
            while (seq_ && snd_seq_query_port_subscribers(seq_, query) >= 0) {
                out.push_back(*snd_seq_query_subscribe_get_addr(query));
                snd_seq_query_subscribe_set_index(query,
                                                  snd_seq_query_subscribe_get_index(query) + 1);
            }
        }
        return out;
    }

  private:
    snd_seq_t* seq_ = nullptr;
};

bool sameAddr(const snd_seq_addr_t& a, const snd_seq_addr_t& b) {
    return a.client == b.client && a.port == b.port;
}
} // namespace

AlsaService::AlsaService(const std::string& name)
    : MidiService(name), dir_(std::make_unique<TempDir>("zu-alsa")) {
    if (!exists(ALSA_SEQUENCER))
        throw std::runtime_error(std::string("no ALSA sequencer: ") + ALSA_SEQUENCER +
                                 " is missing (tools/alsa_vm.sh runs tests where there is one)");
}

bool AlsaService::running() {
    return exists(ALSA_SEQUENCER);
}

PortGraph AlsaService::graph() const {
    SeqPeek peek;
    std::vector<SeqPort> all = peek.ports();
    PortGraph g;
    for (const SeqPort& p : all) {
        g.ports.push_back(p.name);
        for (const snd_seq_addr_t& other : peek.subscribers(p.addr))
            for (const SeqPort& q : all)
                if (sameAddr(q.addr, other)) g.links[p.name].push_back(q.name);
    }
    return g;
}

bool AlsaService::link(const std::string& from, const std::string& to, bool made) const {
    std::vector<SeqPort> all = SeqPeek().ports();
    std::vector<std::string> addresses;
    for (const std::string& name : {from, to})
        for (const SeqPort& p : all)
            if (p.name == name)
                addresses.push_back(std::to_string(p.addr.client) + ":" +
                                    std::to_string(p.addr.port));
    if (addresses.size() != 2) return false;
    SpawnOptions o;
    o.argv = {"aconnect", addresses[0], addresses[1]};
    if (!made) o.argv.insert(o.argv.begin() + 1, "-d");
    Process tool(o);
    return tool.wait(START_TIMEOUT) && tool.exitCode() == 0;
}

std::string AlsaService::logPath() const {
    const std::string path = dir_->file("sequencer.txt");
    std::ofstream out(path);
    out << "the sequencer's ports (client:port), each with its connections:\n";
    PortGraph g = graph();
    for (const std::string& p : g.ports) {
        out << p << "\n";
        for (const std::string& c : g.connections(p))
            out << "    " << c << "\n";
    }
    return path;
}

Environment AlsaService::clientEnvironment(Environment base) const {
    // No JACK server can be started either: RtMidi tries JACK when ALSA lists no port.
    return base.unset("JACK_DEFAULT_SERVER")
        .unset("PIPEWIRE_REMOTE")
        .set("JACK_NO_START_SERVER", "1")
        .set("ZU_MIDI_PEER_API", "alsa");
}

} // namespace zutest
