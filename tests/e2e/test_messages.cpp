// What zu writes at start-up: one line of advice instead of the MIDI libraries'
// messages (ZU_VERBOSE=1 brings those back), and one line when there is no display.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>

#include "zu_fixture.h"

namespace zutest {
namespace {

const char* NO_SERVICE = "zu found no MIDI service: neither the ALSA sequencer nor a JACK "
                         "server is running. Start JACK or PipeWire and zu connects to it.\n";
// What zu has always printed without any MIDI port.
const std::string NO_PORTS = "Could not open MIDI out port No ports available!\n";
const char* NO_DISPLAY = "zu cannot start: there is no display to open its window on. Start zu "
                         "from your desktop session (over ssh: ssh -X), or check DISPLAY.\n";

size_t lines(const std::string& text) {
    size_t n = std::count(text.begin(), text.end(), '\n');
    return n + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Sends this process's JACK clients to a server while it lives.
class JackServerNamed {
  public:
    explicit JackServerNamed(const std::string& name) {
        const char* was = getenv("JACK_DEFAULT_SERVER");
        if (was) former_ = std::make_unique<std::string>(was);
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    }
    ~JackServerNamed() {
        if (former_)
            setenv("JACK_DEFAULT_SERVER", former_->c_str(), 1);
        else
            unsetenv("JACK_DEFAULT_SERVER");
    }

  private:
    std::unique_ptr<std::string> former_;
};

class Messages : public ZuTest {
  protected:
    // A JACK server with no client but zu's.
    void startBareJack() { midi = startService(Service::Jack, MidiService::uniqueName()); }
    // Starts zu with options and waits until stdout holds text.
    void startUntil(const ZuOptions& o, const std::string& text) {
        zu = std::make_unique<ZuApp>(o);
        ASSERT_TRUE(zu->waitForOutput(text, START_LIMIT)) << zu->output() << zu->errors();
    }
    // Ends zu with SIGTERM, which it takes as a quit.
    void quitZu() {
        EXPECT_TRUE(zu->stop()) << "zu needed SIGKILL";
        EXPECT_EQ(0, zu->process().exitCode()) << zu->process().describeEnd();
    }
    // Starts zu as a user over ssh meets it: neither DISPLAY nor SDL_VIDEODRIVER nor a
    // Wayland session, and a runtime directory of the user's own. It must say so in
    // one line and end with status 1.
    void expectNoDisplayLine() {
        TempDir runtimeDir("zu-runtime");
        ZuOptions o = zuOptions();
        o.env.unset("DISPLAY").unset("SDL_VIDEODRIVER").unset("WAYLAND_DISPLAY");
        o.env.set("XDG_RUNTIME_DIR", runtimeDir.path());
        zu = std::make_unique<ZuApp>(o);
        expectExit(1);
        EXPECT_EQ(NO_DISPLAY, zu->output());
        EXPECT_EQ("", zu->errors());
    }
};

class MessagesOnEachService : public OnEachService<Messages> {};

TEST_P(MessagesOnEachService, NoMidiServiceGivesTheProgramsLinesAndOneAdvice) {
    if (service == Service::Alsa) GTEST_SKIP() << "the kernel's ALSA sequencer is never away";
    ASSERT_NO_FATAL_FAILURE(startZu());
    pointAtWindow();
    tap(XK_q);
    expectExit(0);
    EXPECT_EQ(NO_PORTS + NO_SERVICE, zu->output());
    EXPECT_EQ("", zu->errors()) << "the MIDI libraries' lines are held back";
}

TEST_P(MessagesOnEachService, AWorkingServiceWritesOnlyWhereZuIsConnected) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // Knobs turned before the first m: nothing reads the input, whose queue fills up.
    for (int i = 0; i < 150; ++i)
        send(1, {176, 20, static_cast<unsigned char>(i % 128)});
    EXPECT_EQ(3u, trigger().size()) << "zu sends";
    tap(XK_q);
    expectExit(0);
    EXPECT_EQ("zu sends to zu-peer:in and listens to zu-peer:out1.\n", zu->output());
    EXPECT_EQ("", zu->errors());
}

ZU_ON_EACH_SERVICE(MessagesOnEachService);

TEST_F(Messages, VerboseBringsBackTheLibrariesLines) {
    if (service == Service::Alsa) GTEST_SKIP() << "the kernel's ALSA sequencer is never away";
    ZuOptions o = zuOptions();
    o.env.set("ZU_VERBOSE", "1");
    ASSERT_NO_FATAL_FAILURE(startUntil(o, NO_SERVICE));
    quitZu();
    std::string err = zu->errors();
    // RtMidi's: held while the output was built, then through its callback.
    const std::string notRunning = "MidiOutJack::initialize: JACK server not running?";
    size_t first = err.find(notRunning);
    ASSERT_NE(std::string::npos, first) << err;
    EXPECT_NE(std::string::npos, err.find(notRunning, first + 1)) << err;
    EXPECT_TRUE(has(err, "Cannot connect to server socket")) << "libjack's";
    bool noSequencer = access("/dev/snd/seq", F_OK) != 0;
    EXPECT_TRUE(!noSequencer || has(err, "ALSA lib ")) << "ALSA lib's";
    // What zu itself says does not change.
    EXPECT_EQ(NO_PORTS + NO_SERVICE, zu->output());
}

TEST_F(Messages, NoPortsOnAWorkingJackGiveOneLine) {
    ASSERT_NO_FATAL_FAILURE(startBareJack());
    ASSERT_NO_FATAL_FAILURE(startUntil(zuOptions(), "zu is not connected"));
    quitZu();
    std::string out = zu->output();
    EXPECT_EQ(1u, lines(out)) << out;
    EXPECT_TRUE(has(out, "on JACK it finds no port to send to (output port 0) and no second port "
                         "to read from (input port 1)"))
        << out;
    EXPECT_EQ("", zu->errors());
}

TEST_F(Messages, OnlyTheMissingPortIsNamed) {
    ASSERT_NO_FATAL_FAILURE(startBareJack());
    {
        // Something to send to, but nothing sends: no input port 1.
        JackServerNamed here(midi->name());
        RtMidiIn synth(RtMidi::UNIX_JACK, "zu-synth");
        synth.openVirtualPort("in");
        ASSERT_NO_FATAL_FAILURE(startUntil(zuOptions(), "zu is not connected"));
        quitZu();
        EXPECT_TRUE(has(zu->output(), "no second port to read from (input port 1)"))
            << zu->output();
        EXPECT_FALSE(has(zu->output(), "output port 0")) << zu->output();
    }
    {
        // Two ports send, nothing receives: no output port 0.
        JackServerNamed here(midi->name());
        RtMidiOut first(RtMidi::UNIX_JACK, "zu-pads"), second(RtMidi::UNIX_JACK, "zu-knobs");
        first.openVirtualPort("out");
        second.openVirtualPort("out");
        ASSERT_NO_FATAL_FAILURE(startUntil(zuOptions(), "zu is not connected"));
        quitZu();
        EXPECT_TRUE(has(zu->output(), "no port to send to (output port 0)")) << zu->output();
        EXPECT_FALSE(has(zu->output(), "input port 1")) << zu->output();
        EXPECT_EQ(1u, lines(zu->output())) << zu->output();
    }
    {
        // One other port sends: zu's own output is never its input port 1.
        JackServerNamed here(midi->name());
        RtMidiIn synth(RtMidi::UNIX_JACK, "zu-synth");
        RtMidiOut pads(RtMidi::UNIX_JACK, "zu-pads");
        synth.openVirtualPort("in");
        pads.openVirtualPort("out");
        ASSERT_NO_FATAL_FAILURE(startUntil(zuOptions(), "zu is not connected"));
        EXPECT_EQ(std::vector<std::string>{},
                  midi->connections("RtMidi Input Client:RtMidi Input"));
        quitZu();
        EXPECT_TRUE(has(zu->output(), "no second port to read from (input port 1)"))
            << zu->output();
    }
}

TEST_F(Messages, NoDisplayEndsWithOneLineWithAndWithoutMidi) {
    ASSERT_NO_FATAL_FAILURE(expectNoDisplayLine());
    ASSERT_NO_FATAL_FAILURE(startMidi());
    ASSERT_NO_FATAL_FAILURE(expectNoDisplayLine());
}

} // namespace
} // namespace zutest
