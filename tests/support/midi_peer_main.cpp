// zu_midi_peer: a MIDI peer driven through stdin/stdout, for tests and benchmarks.
//
//   stdout: "ready" once the ports exist, then "recv <monotonic us> B0 B1 ..." per
//           message received on "in".
//   stdin:  "send0 B0 B1 ..." / "send1 B0 B1 ..." send on out0 / out1; "quit" exits;
//           "restart" restarts the engine ("restarted" once done).
//
// JACK_DEFAULT_SERVER selects the server; ZU_MIDI_PEER_API=alsa puts the peer on the
// ALSA sequencer instead; ZU_MIDI_PEER_ENGINE=1 serves "in" from an engine of its own (a
// JACK client that restarts on "restart"). Ports are closed before exit on quit, end
// of input, SIGTERM and SIGINT, so the server never loses the client abruptly.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "midi_peer.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
    stopRequested = 1;
}

std::mutex outLock;
void say(const std::string& line) {
    std::lock_guard<std::mutex> lock(outLock);
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

// Reads one line from stdin, checking for a stop request every 100 ms.
// False on end of input or a stop request.
bool readLine(std::string& line) {
    line.clear();
    while (!stopRequested) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        int r = poll(&p, 1, 100);
        if (r < 0) continue; // EINTR: the flag is tested again
        if (r == 0) continue;
        char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n <= 0) return false;
        if (c == '\n') return true;
        line += c;
    }
    return false;
}
} // namespace

int main() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<zutest::MidiPeer> peer;
    try {
        const char* api = getenv("ZU_MIDI_PEER_API");
        bool alsa = api && std::string(api) == "alsa";
        const char* engine = getenv("ZU_MIDI_PEER_ENGINE");
        peer = std::make_unique<zutest::MidiPeer>(
            "zu-peer", alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK, engine && *engine == '1');
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    std::thread printer([&peer] {
        zutest::MidiMessage m;
        while (!stopRequested) {
            if (peer->next(m, std::chrono::milliseconds(100)))
                say("recv " + std::to_string(m.micros) + " " + zutest::formatBytes(m.bytes));
        }
        // Whatever arrived before the stop still gets reported.
        while (peer->next(m, std::chrono::milliseconds(0)))
            say("recv " + std::to_string(m.micros) + " " + zutest::formatBytes(m.bytes));
    });
    say("ready");

    int status = 0;
    std::string line;
    while (readLine(line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "quit") break;
        if (line == "restart") {
            if (peer->restartEngine()) {
                say("restarted");
            } else {
                fprintf(stderr, "zu_midi_peer: the engine did not restart\n");
                status = 2;
            }
            continue;
        }
        int port = -1;
        if (line.rfind("send0 ", 0) == 0)
            port = 0;
        else if (line.rfind("send1 ", 0) == 0)
            port = 1;
        std::vector<unsigned char> bytes;
        if (port < 0 || !zutest::parseBytes(line.substr(6), bytes)) {
            fprintf(stderr, "zu_midi_peer: cannot understand \"%s\"\n", line.c_str());
            status = 2;
            continue;
        }
        try {
            peer->send(port, bytes);
        } catch (const RtMidiError& e) {
            fprintf(stderr, "zu_midi_peer: %s\n", e.getMessage().c_str());
            status = 2;
        }
    }
    // Give messages still in flight a moment to be reported.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stopRequested = 1;
    printer.join();
    peer.reset();
    return status;
}
