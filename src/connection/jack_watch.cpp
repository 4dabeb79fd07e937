#include "midi_service.h"

#include <jack/jack.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "midi_objects.h"
#ifdef ZU_PIPEWIRE
#include "pipewire_nodes.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
// How often a service is asked for where no socket of it is found.
constexpr std::chrono::milliseconds BLIND_RETRY(5000);

// Where the JACK services wait for clients, as the environment names them: jackd's
// socket and PipeWire's (for its libjack). A service that is gone leaves none that
// takes a connection; one that comes back listens there again.
std::vector<std::string> serviceSockets() {
    auto env = [](const char* name, const std::string& otherwise) {
        const char* v = getenv(name);
        return v && *v ? std::string(v) : otherwise;
    };
    std::string remote = env("PIPEWIRE_REMOTE", "pipewire-0");
    std::string dir = env("PIPEWIRE_RUNTIME_DIR", env("XDG_RUNTIME_DIR", ""));
    return {"/dev/shm/jack_" + env("JACK_DEFAULT_SERVER", "default") + "_" +
                std::to_string(getuid()) + "_0",
            remote[0] == '/' ? remote : dir + "/" + remote};
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

class JackWatch : public ServiceWatch {
  public:
    // Opening a client costs PipeWire's libjack tens of milliseconds of CPU, so it
    // waits for a socket that answers; where none is found (a service set up
    // elsewhere) it is tried now and then.
    bool worthOpening() override {
        bool seen = false;
        for (const std::string& path : serviceSockets()) {
            Socket s = knock(path);
            if (s == Socket::Answers) return true;
            seen = seen || s == Socket::Refuses;
        }
        if (seen || Clock::now() - lastBlind_ < BLIND_RETRY) return false;
        lastBlind_ = Clock::now();
        return true;
    }

    bool watch(const Signal& signal) override {
        signal_ = signal;
        jack_client_t* c = jack_client_open("zu-watch", JackNoStartServer, nullptr);
        if (!c) return false;
        client_ = c;
        jack_on_shutdown(
            c, [](void* w) { static_cast<JackWatch*>(w)->signal_(LOST); }, this);
        jack_set_client_registration_callback(c, onClient, this);
        jack_set_port_registration_callback(c, onPort, this);
        jack_set_port_connect_callback(c, onConnect, this);
        if (jack_activate(c) == 0) {
#ifdef ZU_PIPEWIRE
            // PipeWire's libjack tells nothing when a client restarts its engine: its node
            // does. Told as jackd tells it, so that zu connects to it again.
            if (strstr(jack_get_version_string(), "PipeWire"))
                nodes_ = watchPipeWireNodes([this](const std::string& client, bool running) {
                    for (bool inputs : {true, false})
                        for (const std::string& port : ports(inputs))
                            if (port.rfind(client + ":", 0) == 0)
                                report(
                                    {running ? PortChange::ADDED : PortChange::REMOVED, port, ""});
                });
#endif
            return true;
        }
        std::lock_guard<std::mutex> lock(clientM_); // cycles() may be using it
        client_ = nullptr;
        jack_client_close(c);
        return false;
    }

    // A client of a server that died is never closed: libjack crashes on it while it
    // tears the client down itself, and after a failed opening of another.
    void unwatch(bool serviceGone) override {
#ifdef ZU_PIPEWIRE
        nodes_.reset(); // first: it lists ports through the client
#endif
        std::lock_guard<std::mutex> lock(clientM_);
        jack_client_t* c = client_.exchange(nullptr);
        if (serviceGone)
            neverClose(c);
        else if (c)
            jack_client_close(c);
    }

    std::vector<std::string> ports(bool inputs) override {
        std::vector<std::string> out;
        unsigned long flags = inputs ? JackPortIsInput : JackPortIsOutput;
        const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
        for (const char** p = names; p && *p; ++p)
            out.emplace_back(*p);
        if (names) jack_free(names);
        return out;
    }

    // The frame time at the top of the current cycle: both jackd and PipeWire keep it
    // for a client without ports too, and it stops while the server is stalled.
    unsigned long cycles() override {
        std::lock_guard<std::mutex> lock(clientM_);
        jack_client_t* c = client_;
        return c ? jack_last_frame_time(c) : 0;
    }

    bool connect(const std::string& from, const std::string& to) override {
        int r = jack_connect(client_, from.c_str(), to.c_str());
        return r == 0 || r == EEXIST;
    }

  private:
    static void onClient(const char*, int registered, void* w) {
        if (!registered) static_cast<JackWatch*>(w)->signal_(CLIENT_GONE);
    }
    // Both services still name a port by its id while they tell that it goes.
    std::string nameOf(jack_port_id_t id) {
        jack_port_t* p = jack_port_by_id(client_, id);
        return p ? jack_port_name(p) : "";
    }
    static void onPort(jack_port_id_t id, int registered, void* w) {
        auto* self = static_cast<JackWatch*>(w);
        std::string name = self->nameOf(id);
        if (!name.empty())
            self->report({registered ? PortChange::ADDED : PortChange::REMOVED, name, ""});
    }
    static void onConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* w) {
        auto* self = static_cast<JackWatch*>(w);
        std::string from = self->nameOf(a), to = self->nameOf(b);
        if (!from.empty() && !to.empty())
            self->report({connected ? PortChange::MADE : PortChange::UNDONE, from, to});
    }

    std::atomic<jack_client_t*> client_{nullptr};
    std::mutex clientM_; // the client opens and closes while a sender asks for cycles()
    Clock::time_point lastBlind_;
#ifdef ZU_PIPEWIRE
    std::unique_ptr<PipeWireNodes> nodes_;
#endif
};

} // namespace

std::unique_ptr<ServiceWatch> makeJackWatch() {
    return std::make_unique<JackWatch>();
}

void quietJack() {
    auto say = [](const char* text) { libraryMessage(text); };
    jack_set_error_function(say);
    jack_set_info_function(say);
}
