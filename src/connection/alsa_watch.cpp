#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "library_messages.h"
#include "midi_service.h"

namespace {

// The watch on the ALSA sequencer: a client "zu-watch" whose one port takes the
// sequencer's announcements and that nobody can connect to. Ports are named
// "client-N:port", N the client's number: two clients may share a name (another zu),
// and a controller plugged in again comes back under a new number.
class AlsaWatch : public ServiceWatch {
  public:
    ~AlsaWatch() override { unwatch(false); }

    bool watch(const Signal& signal) override {
        signal_ = signal;
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) return false;
        snd_seq_set_client_name(seq_, "zu-watch");
        int port = snd_seq_create_simple_port(seq_, "announcements",
                                              SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                              SND_SEQ_PORT_TYPE_APPLICATION);
        // The pipe comes last: a refused step leaves nothing open.
        if (port >= 0 &&
            snd_seq_connect_from(seq_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) ==
                0 &&
            pipe2(wake_, O_CLOEXEC) == 0) {
            reader_ = std::thread(&AlsaWatch::read, this);
            return true;
        }
        snd_seq_close(std::exchange(seq_, nullptr));
        return false;
    }

    // The sequencer lives in the kernel: it never goes away under zu.
    void unwatch(bool) override {
        if (!seq_) return;
        if (write(wake_[1], "", 1) == 1) reader_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
        snd_seq_close(std::exchange(seq_, nullptr));
    }

    std::vector<std::string> ports(bool inputs) override {
        unsigned caps = inputs ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                               : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
        unsigned midi = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH |
                        SND_SEQ_PORT_TYPE_APPLICATION;
        std::vector<std::string> out;
        Info i;
        std::lock_guard<std::mutex> lock(m_);
        snd_seq_client_info_set_client(i.client, -1);
        while (snd_seq_query_next_client(seq_, i.client) >= 0) {
            if (snd_seq_client_info_get_client(i.client) == SND_SEQ_CLIENT_SYSTEM) continue;
            snd_seq_port_info_set_client(i.port, snd_seq_client_info_get_client(i.client));
            snd_seq_port_info_set_port(i.port, -1);
            while (snd_seq_query_next_port(seq_, i.port) >= 0) {
                if (!(snd_seq_port_info_get_type(i.port) & midi) ||
                    (snd_seq_port_info_get_capability(i.port) & caps) != caps)
                    continue;
                out.push_back(i.name());
                addresses_[out.back()] = *snd_seq_port_info_get_addr(i.port);
            }
        }
        return out;
    }

    bool connect(const std::string& from, const std::string& to) override {
        std::lock_guard<std::mutex> lock(m_);
        auto sender = addresses_.find(from), dest = addresses_.find(to);
        if (sender == addresses_.end() || dest == addresses_.end()) return false;
        snd_seq_port_subscribe_t* s;
        snd_seq_port_subscribe_alloca(&s);
        snd_seq_port_subscribe_set_sender(s, &sender->second);
        snd_seq_port_subscribe_set_dest(s, &dest->second);
        int r = snd_seq_subscribe_port(seq_, s);
        return r == 0 || r == -EBUSY;
    }

  private:
    // A client's and a port's details.
    struct Info {
        snd_seq_client_info_t* client;
        snd_seq_port_info_t* port;
        Info() {
            snd_seq_client_info_malloc(&client);
            snd_seq_port_info_malloc(&port);
        }
        ~Info() {
            snd_seq_client_info_free(client);
            snd_seq_port_info_free(port);
        }
        std::string name() const {
            return std::string(snd_seq_client_info_get_name(client)) + "-" +
                   std::to_string(snd_seq_client_info_get_client(client)) + ":" +
                   snd_seq_port_info_get_name(port);
        }
    };

    // The port's name while it is there, else as last listed; empty when never seen.
    std::string nameAt(const snd_seq_addr_t& a) {
        Info i;
        if (snd_seq_get_any_client_info(seq_, a.client, i.client) >= 0 &&
            snd_seq_get_any_port_info(seq_, a.client, a.port, i.port) >= 0)
            return i.name();
        for (auto& [name, at] : addresses_)
            if (at.client == a.client && at.port == a.port) return name;
        return "";
    }

    // What one announcement tells, named.
    void take(const snd_seq_event_t& ev, std::vector<PortChange>& found) {
        const snd_seq_addr_t& a = ev.data.addr;
        switch (ev.type) {
        case SND_SEQ_EVENT_PORT_SUBSCRIBED:
        case SND_SEQ_EVENT_PORT_UNSUBSCRIBED: {
            std::string from = nameAt(ev.data.connect.sender), to = nameAt(ev.data.connect.dest);
            auto kind =
                ev.type == SND_SEQ_EVENT_PORT_SUBSCRIBED ? PortChange::MADE : PortChange::UNDONE;
            if (!from.empty() && !to.empty()) found.push_back({kind, from, to});
            break;
        }
        case SND_SEQ_EVENT_PORT_START:
            if (std::string name = nameAt(a); !name.empty())
                found.push_back({PortChange::ADDED, name, ""});
            break;
        case SND_SEQ_EVENT_PORT_EXIT:
            if (std::string name = nameAt(a); !name.empty())
                found.push_back({PortChange::REMOVED, name, ""});
            break;
        case SND_SEQ_EVENT_CLIENT_EXIT: // its ports go without an announcement of their own
            for (auto& [name, at] : addresses_)
                if (at.client == a.client) found.push_back({PortChange::REMOVED, name, ""});
            break;
        }
    }

    void read() {
        pthread_setname_np(pthread_self(), "zu-alsa-watch");
        pollfd fds[8];
        int n = snd_seq_poll_descriptors(seq_, fds, 7, POLLIN);
        fds[n] = {wake_[0], POLLIN, 0};
        while (true) {
            if (poll(fds, n + 1, -1) < 0) {
                if (errno == EINTR) continue; // a signal handled on this thread
                return;
            }
            if (fds[n].revents & POLLIN) return;
            unsigned events = 0;
            std::vector<PortChange> found;
            std::unique_lock<std::mutex> lock(m_);
            snd_seq_event_t* ev;
            while (snd_seq_event_input(seq_, &ev) >= 0 && ev) {
                take(*ev, found);
                events |= ev->type == SND_SEQ_EVENT_CLIENT_EXIT ? CLIENT_GONE : CHANGED;
            }
            lock.unlock();
            for (PortChange& c : found)
                report(std::move(c));
            if (events) signal_(events);
        }
    }

    snd_seq_t* seq_ = nullptr;
    int wake_[2] = {-1, -1};
    std::thread reader_;
    std::mutex m_; // the handle is shared with the reader
    std::map<std::string, snd_seq_addr_t> addresses_;
};

// Written like ALSA lib's own handler, which it replaces.
void onAlsaMessage(const char* file, int line, const char* function, int err, const char* fmt,
                   ...) {
    char text[512];
    int at = snprintf(text, sizeof text, "ALSA lib %s:%i:(%s) ", file, line, function);
    va_list args;
    va_start(args, fmt);
    if (at >= 0 && at < static_cast<int>(sizeof text))
        vsnprintf(text + at, sizeof text - at, fmt, args);
    va_end(args);
    libraryMessage(err ? std::string(text) + ": " + snd_strerror(err) : text);
}

} // namespace

std::unique_ptr<ServiceWatch> makeAlsaWatch() {
    return std::make_unique<AlsaWatch>();
}

void quietAlsa() {
    snd_lib_error_set_handler(onAlsaMessage);
}
