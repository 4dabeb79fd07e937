#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "library_noise.h"
#include "service_watch.h"

namespace {

// The watch on the ALSA sequencer: a client "zu-watch" whose one port takes the
// sequencer's announcements and that nobody can connect to. Ports are named
// "client-N:port", N the client's number: two clients may share a name (another zu),
// and a controller plugged in again comes back under a new number.
class AlsaWatch : public ServiceWatch {
  public:
    ~AlsaWatch() override { close(false); }

    bool open(const Signal& signal) override {
        quietLibraries();
        signal_ = signal;
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) return false;
        snd_seq_set_client_name(seq_, "zu-watch");
        int port = snd_seq_create_simple_port(seq_, "announcements",
                                              SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                              SND_SEQ_PORT_TYPE_APPLICATION);
        if (port >= 0 && pipe2(wake_, O_CLOEXEC) == 0 &&
            snd_seq_connect_from(seq_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) ==
                0) {
            reader_ = std::thread(&AlsaWatch::read, this);
            return true;
        }
        snd_seq_close(std::exchange(seq_, nullptr));
        return false;
    }

    // The sequencer lives in the kernel: it never goes away under zu.
    void close(bool) override {
        if (!seq_) return;
        if (write(wake_[1], "", 1) == 1) reader_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
        snd_seq_close(std::exchange(seq_, nullptr));
    }

    std::vector<std::string> ports(bool receiving) override {
        unsigned caps = receiving ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                  : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
        unsigned midi = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH |
                        SND_SEQ_PORT_TYPE_APPLICATION;
        std::vector<std::string> out;
        snd_seq_client_info_t* c;
        snd_seq_port_info_t* p;
        snd_seq_client_info_alloca(&c);
        snd_seq_port_info_alloca(&p);
        std::lock_guard<std::mutex> lock(m_);
        snd_seq_client_info_set_client(c, -1);
        while (snd_seq_query_next_client(seq_, c) >= 0) {
            if (snd_seq_client_info_get_client(c) == SND_SEQ_CLIENT_SYSTEM) continue;
            snd_seq_port_info_set_client(p, snd_seq_client_info_get_client(c));
            snd_seq_port_info_set_port(p, -1);
            while (snd_seq_query_next_port(seq_, p) >= 0) {
                if (!(snd_seq_port_info_get_type(p) & midi) ||
                    (snd_seq_port_info_get_capability(p) & caps) != caps)
                    continue;
                out.push_back(nameOf(c, p));
                addresses_[out.back()] = *snd_seq_port_info_get_addr(p);
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
    static std::string nameOf(snd_seq_client_info_t* c, snd_seq_port_info_t* p) {
        return std::string(snd_seq_client_info_get_name(c)) + "-" +
               std::to_string(snd_seq_client_info_get_client(c)) + ":" +
               snd_seq_port_info_get_name(p);
    }

    // The port's name while it is there; empty once it went.
    std::string nameAt(const snd_seq_addr_t& a) {
        snd_seq_client_info_t* c;
        snd_seq_port_info_t* p;
        snd_seq_client_info_alloca(&c);
        snd_seq_port_info_alloca(&p);
        if (snd_seq_get_any_client_info(seq_, a.client, c) < 0 ||
            snd_seq_get_any_port_info(seq_, a.client, a.port, p) < 0)
            return "";
        return nameOf(c, p);
    }

    // Names a connection while both its ports surely exist.
    void read() {
        pollfd fds[8];
        int n = snd_seq_poll_descriptors(seq_, fds, 7, POLLIN);
        fds[n] = {wake_[0], POLLIN, 0};
        while (poll(fds, n + 1, -1) >= 0 && !(fds[n].revents & POLLIN)) {
            unsigned events = 0;
            std::vector<PortChange> found;
            std::unique_lock<std::mutex> lock(m_);
            snd_seq_event_t* ev;
            while (snd_seq_event_input(seq_, &ev) >= 0 && ev) {
                bool made = ev->type == SND_SEQ_EVENT_PORT_SUBSCRIBED;
                if (made || ev->type == SND_SEQ_EVENT_PORT_UNSUBSCRIBED) {
                    std::string from = nameAt(ev->data.connect.sender);
                    std::string to = nameAt(ev->data.connect.dest);
                    if (!from.empty() && !to.empty()) found.push_back({from, to, made});
                }
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

} // namespace

std::unique_ptr<ServiceWatch> makeAlsaWatch() {
    return std::make_unique<AlsaWatch>();
}
