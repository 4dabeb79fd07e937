// What zu tells the user at start-up: the MIDI advice line, RtMidi's reports counted
// per thread, and the check for a display nobody can see.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "app/display.h"
#include "connection/library_messages.h"
#include "connection/midi_advice.h"

namespace {

PortCheck jack(unsigned ports, bool opened) {
    PortCheck c;
    c.api = RtMidi::UNIX_JACK;
    c.answered = true;
    c.listed = c.others = ports;
    c.opened = opened;
    return c;
}

PortCheck noAnswer() {
    PortCheck c;
    c.api = RtMidi::UNIX_JACK;
    return c;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One line with its line end, after an optional line end of the previous message.
void expectOneLine(const std::string& advice) {
    std::string line = advice.substr(advice.rfind('\n', 0) == 0 ? 1 : 0);
    EXPECT_EQ(1, std::count(line.begin(), line.end(), '\n')) << advice;
    EXPECT_EQ('\n', line.back()) << advice;
}

TEST(MidiAdvice, NoServiceNamesBothAndSaysToStartJack) {
    std::string a = midiAdvice(noAnswer(), noAnswer());
    expectOneLine(a);
    EXPECT_NE('\n', a[0]) << "\"No ports available!\\n\" ended the line before";
    EXPECT_TRUE(has(a, "neither the ALSA sequencer nor a JACK server")) << a;
    EXPECT_TRUE(has(a, "Start JACK or PipeWire")) << a;
    EXPECT_EQ(a, midiAdvice(PortCheck{}, PortCheck{})) << "no MIDI API at all: the same";
}

TEST(MidiAdvice, NothingWhenBothPortsAreConnected) {
    EXPECT_EQ("", midiAdvice(jack(1, true), jack(2, true)));
    PortCheck alsaOut = jack(3, true), alsaIn = jack(4, true);
    alsaOut.api = alsaIn.api = RtMidi::LINUX_ALSA;
    EXPECT_EQ("", midiAdvice(alsaOut, alsaIn));
}

TEST(MidiAdvice, PortsThatWouldNotOpenOnAlsa) {
    PortCheck out = jack(2, false), in = jack(2, false);
    out.api = in.api = RtMidi::LINUX_ALSA;
    std::string a = midiAdvice(out, in);
    expectOneLine(a);
    EXPECT_TRUE(has(a, "on ALSA")) << a;
    EXPECT_TRUE(has(a, "output port 0 that would not open")) << a;
    EXPECT_TRUE(has(a, "input port 1 that would not open")) << a;
    EXPECT_TRUE(has(a, "synth") && has(a, "controller")) << "a fix for each: " << a;
}

TEST(MidiAdvice, WhereNoPortCanBeConnectedItSaysWhichPortsZuTakes) {
    PortCheck out = jack(0, false), in = jack(1, true);
    out.api = in.api = RtMidi::WINDOWS_MM;
    std::string a = midiAdvice(out, in);
    expectOneLine(a);
    EXPECT_TRUE(has(a, "first MIDI output") && has(a, "second MIDI input")) << a;
    EXPECT_TRUE(has(a, "within a second")) << a;
    EXPECT_FALSE(has(a, "cable") || has(a, "start your synth")) << "a cable is never port 0: " << a;
    EXPECT_FALSE(has(a, "RtMidi Output") || has(a, "RtMidi Input")) << "nothing to connect: " << a;
}

TEST(MidiAdvice, StartsALineOfItsOwnAfterTheOutputMessage) {
    // "Could not open MIDI out port NAME" has no line end; "No ports available!\n"
    // follows it only when there is no input port at all.
    EXPECT_EQ('\n', midiAdvice(jack(1, false), jack(2, true))[0]);
    EXPECT_EQ('\n', midiAdvice(jack(0, false), jack(1, true))[0]);
    EXPECT_NE('\n', midiAdvice(jack(0, false), jack(0, false))[0]);
    EXPECT_NE('\n', midiAdvice(jack(0, true), jack(1, true))[0]) << "no message before";
}

TEST(DisplayCheck, OnlyAFallbackThatShowsNothingMeansNoDisplay) {
    EXPECT_TRUE(windowUnseen("offscreen", nullptr));
    EXPECT_TRUE(windowUnseen("dummy", nullptr));
    EXPECT_TRUE(windowUnseen("dummy", "")) << "an empty SDL_VIDEODRIVER asks for nothing";
    EXPECT_FALSE(windowUnseen("dummy", "dummy")) << "asked for, as the unit tests do";
    EXPECT_FALSE(windowUnseen("offscreen", "x11,offscreen"));
    EXPECT_FALSE(windowUnseen("x11", nullptr));
    EXPECT_FALSE(windowUnseen("wayland", nullptr));
    EXPECT_FALSE(windowUnseen(nullptr, nullptr)) << "SDL not started";
}

TEST(LibraryNoise, ReportsAreCountedOnTheirOwnThread) {
    MidiReportWatch watch;
    onMidiReport(RtMidiError::WARNING, "a warning", nullptr);
    EXPECT_TRUE(watch.reported());
    EXPECT_FALSE(watch.errored()) << "RtMidi never threw for a warning";
    std::thread([] {
        MidiReportWatch other;
        EXPECT_FALSE(other.reported());
        onMidiReport(RtMidiError::DRIVER_ERROR, "elsewhere", nullptr);
        EXPECT_TRUE(other.errored());
    }).join();
    EXPECT_FALSE(watch.errored()) << "another thread's error";
    onMidiReport(RtMidiError::INVALID_PARAMETER, "an error", nullptr);
    EXPECT_TRUE(watch.errored());
    EXPECT_FALSE(MidiReportWatch().reported()) << "a new watch starts clean";
}

} // namespace
