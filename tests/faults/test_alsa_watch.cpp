// The ALSA sequencer's watch: a signal zu handles that lands on its reader, and
// openings the sequencer refuses. Both need the real sequencer (ctest -L alsa).
#include <alsa/asoundlib.h>
#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>

#include "connection/midi_connection.h"
#include "connection/midi_service.h"
#include "fault_fixture.h"

namespace {
bool refuseAnnouncements = false;
std::atomic<bool> refuseInputPorts{false};
std::atomic<int> refusedInputPorts{0};
} // namespace

// The watch's own call, refused on demand: no other way makes the sequencer say no.
extern "C" int snd_seq_connect_from(snd_seq_t* seq, int port, int client, int from) {
    if (refuseAnnouncements) return -EPERM;
    using Real = int (*)(snd_seq_t*, int, int, int);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "snd_seq_connect_from"));
    return real(seq, port, client, from);
}

// RtMidi's call for every port it opens; zu's input port refused on demand.
extern "C" int snd_seq_create_port(snd_seq_t* seq, snd_seq_port_info_t* info) {
    if (refuseInputPorts && std::string(snd_seq_port_info_get_name(info)) == "RtMidi Input") {
        ++refusedInputPorts;
        return -ENOMEM;
    }
    using Real = int (*)(snd_seq_t*, snd_seq_port_info_t*);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "snd_seq_create_port"));
    return real(seq, info);
}

namespace zutest {
namespace {

bool haveSequencer() {
    return access("/dev/snd/seq", R_OK | W_OK) == 0;
}

// The numbers of a process's threads named name.
std::vector<pid_t> threadsNamed(pid_t pid, const std::string& name) {
    std::vector<pid_t> found;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    for (dirent* e = d ? readdir(d) : nullptr; e; e = readdir(d)) {
        std::string comm;
        std::getline(std::ifstream(dir + "/" + e->d_name + "/comm"), comm);
        if (comm == name) found.push_back(atoi(e->d_name));
    }
    if (d) closedir(d);
    return found;
}

size_t openDescriptors() {
    size_t n = 0;
    DIR* d = opendir("/proc/self/fd");
    for (dirent* e = d ? readdir(d) : nullptr; e; e = readdir(d))
        n += e->d_name[0] != '.';
    if (d) closedir(d);
    return n;
}

using AlsaWatchThread = FaultTest;

// After the first learn run zu catches SIGINT; one that lands on the reader only
// interrupts its wait, and ports that come and go are still followed.
TEST_F(AlsaWatchThread, ASignalOnTheReaderStopsNothing) {
    if (service != Service::Alsa) GTEST_SKIP() << "the ALSA sequencer's watch only";
    ASSERT_NO_FATAL_FAILURE(startAll());
    toggleMode("the learn dialog");
    std::vector<pid_t> reader = threadsNamed(zu->process().pid(), "zu-alsa-watch");
    ASSERT_EQ(1u, reader.size()) << "the watch's reader thread";
    ASSERT_EQ(0, syscall(SYS_tgkill, zu->process().pid(), reader[0], SIGINT));
    peer.reset();
    ASSERT_TRUE(zu->waitForOutput("zu-peer:out1 went away", MESSAGE_LIMIT)) << zu->output();
    peer = std::make_unique<PeerProcess>(ZU_MIDI_PEER, midi->clientEnvironment());
    ASSERT_NO_FATAL_FAILURE(waitForPeerConnections());
    quitAndExpectZero();
}

// A watch the sequencer refuses is tried again every 250 ms: nothing may stay open.
TEST(AlsaWatchOpening, RefusedOpeningsLeaveNoDescriptorOpen) {
    if (!haveSequencer()) GTEST_SKIP() << "no ALSA sequencer here";
    refuseAnnouncements = true;
    size_t before = openDescriptors();
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(makeAlsaWatch()->watch([](unsigned) {}));
    EXPECT_EQ(before, openDescriptors());
    refuseAnnouncements = false;
}

// The sequencer's clients named name.
size_t clientsNamed(const std::string& name) {
    std::ifstream in("/proc/asound/seq/clients");
    size_t n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.find("\"" + name + "\"") != std::string::npos;
    return n;
}

// An input port the sequencer refuses is tried again with a new client each time: the
// clients of the tries before must go, with their descriptors.
TEST(AlsaInputOpening, RefusedPortsLeaveNoClientOpen) {
    if (!haveSequencer()) GTEST_SKIP() << "no ALSA sequencer here";
    refuseInputPorts = true;
    MidiInbox inbox;
    MidiConnection& midi = MidiConnection::make(inbox);
    midi.start({"RtMidi Output Client", "RtMidi Output", 0},
               {"RtMidi Input Client", "RtMidi Input", 1});
    ASSERT_TRUE(waitUntil([] { return refusedInputPorts >= 2; }, MESSAGE_LIMIT, Millis(10),
                          "the second refused input port"));
    const size_t fds = openDescriptors(), clients = clientsNamed("RtMidi Input Client");
    EXPECT_GE(1u, clients);
    ASSERT_TRUE(waitUntil([] { return refusedInputPorts >= 32; }, Millis(60000), Millis(10),
                          "thirty more refused input ports"));
    // A try under way may hold one client and its descriptors for a moment.
    EXPECT_GE(fds + 4, openDescriptors()) << "from " << fds;
    EXPECT_GE(1u, clientsNamed("RtMidi Input Client")) << "from " << clients;
    refuseInputPorts = false;
    EXPECT_TRUE(midi.close());
}

} // namespace
} // namespace zutest
