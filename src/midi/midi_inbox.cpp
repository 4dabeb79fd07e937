#include "midi_inbox.h"

#include <algorithm>

void MidiInbox::receive(double, std::vector<unsigned char>* msg, void* inbox) {
    if (msg && !msg->empty() && inbox) static_cast<MidiInbox*>(inbox)->put(*msg);
}

namespace {
// The controller a message speaks for: its status byte (channel included) and, when it
// has one, its first data byte.
bool sameController(const std::array<unsigned char, 3>& a, size_t aSize,
                    const std::vector<unsigned char>& b) {
    if (a[0] != b[0]) return false;
    return aSize < 2 ? b.size() < 2 : b.size() >= 2 && a[1] == b[1];
}
} // namespace

// The older entries move up one place, so the oldest of all costs nothing.
void MidiInbox::removeAt(size_t n) {
    for (; n > 0; --n)
        ring_[(head_ + n) % LIMIT] = ring_[(head_ + n - 1) % LIMIT];
    head_ = (head_ + 1) % LIMIT;
    --count_;
}

// A full inbox keeps the newest value of each controller: where a knob came to rest
// matters more than the steps it took on the way.
void MidiInbox::put(const std::vector<unsigned char>& msg) {
    {
        std::lock_guard<std::mutex> lock(m_);
        ++arrivals_;
        if (count_ == LIMIT) {
            size_t oldest = 0;
            for (size_t n = 0; n < count_; ++n) {
                const Entry& e = ring_[(head_ + n) % LIMIT];
                if (sameController(e.bytes, e.size, msg)) {
                    oldest = n;
                    break;
                }
            }
            removeAt(oldest);
            ++dropped_;
        }
        Entry& e = ring_[(head_ + count_) % LIMIT];
        e.size = std::min(msg.size(), e.bytes.size());
        std::copy_n(msg.begin(), e.size, e.bytes.begin());
        ++count_;
    }
    arrived_.notify_one();
}

bool MidiInbox::waitArrival(unsigned long& seen, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_);
    bool came = arrived_.wait_for(lock, limit, [&] { return arrivals_ != seen; });
    seen = arrivals_;
    return came;
}

void MidiInbox::take(std::vector<unsigned char>& msg) {
    msg.clear();
    std::lock_guard<std::mutex> lock(m_);
    if (count_ == 0) return;
    const Entry& e = ring_[head_];
    msg.assign(e.bytes.begin(), e.bytes.begin() + e.size);
    head_ = (head_ + 1) % LIMIT;
    --count_;
}

void MidiInbox::clear() {
    std::lock_guard<std::mutex> lock(m_);
    head_ = count_ = 0;
}
