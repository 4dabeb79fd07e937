#include "midi_inbox.h"

#include <algorithm>

void MidiInbox::receive(double, std::vector<unsigned char>* msg, void* inbox) {
    if (msg && !msg->empty() && inbox) static_cast<MidiInbox*>(inbox)->put(*msg);
}

void MidiInbox::put(const std::vector<unsigned char>& msg) {
    {
        std::lock_guard<std::mutex> lock(m_);
        ++arrivals_;
        if (count_ == LIMIT) {
            ++dropped_;
            return;
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
