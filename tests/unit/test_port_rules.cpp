// Which ports zu connects to, over lists of names as JACK, PipeWire and ALSA give them.
#include <gtest/gtest.h>

#include "connection/port_rules.h"

namespace {

using Names = std::vector<std::string>;

TEST(PortRules, TheStartRuleCountsOtherClientsPortsOnly) {
    const std::set<std::string> zu{"RtMidi Output Client:RtMidi Output"};
    struct Case {
        Names ports;
        unsigned index;
        std::string picked;
    } cases[] = {
        {{"a:x", "b:y"}, 0, "a:x"},
        {{"a:x", "b:y"}, 1, "b:y"},
        {{"a:x"}, 1, ""},
        {{}, 0, ""},
        // zu's own output comes first or between: never input port 1.
        {{"RtMidi Output Client:RtMidi Output", "pads:out"}, 1, ""},
        {{"pads:out", "RtMidi Output Client:RtMidi Output", "knobs:out"}, 1, "knobs:out"},
        // another zu's ports are another client's like any other.
        {{"RtMidi Output Client-01:RtMidi Output", "RtMidi Output Client:RtMidi Output"},
         0,
         "RtMidi Output Client-01:RtMidi Output"},
    };
    for (const Case& c : cases) {
        Names others = othersOf(c.ports, zu);
        EXPECT_EQ(c.picked, c.index < others.size() ? others[c.index] : "")
            << ::testing::PrintToString(c.ports);
    }
    EXPECT_EQ(Names{"b:y"}, othersOf({"a:x", "b:y"}, zu, {"a:x"})) << "a port gone is no candidate";
}

TEST(PortRules, ZusOwnPortIsFoundAsEachServiceListsIt) {
    const std::string out = "RtMidi Output";
    EXPECT_TRUE(isPortNamed("RtMidi Output Client:RtMidi Output", out)) << "JACK";
    EXPECT_TRUE(isPortNamed("RtMidi Output Client-02:RtMidi Output", out)) << "PipeWire";
    EXPECT_TRUE(isPortNamed("RtMidi Output Client:RtMidi Output 128:0", out)) << "RtMidi on ALSA";
    EXPECT_TRUE(isPortNamed("client-129:RtMidi Output", out)) << "zu's ALSA watch";
    for (const char* other : {"RtMidi Output Client:RtMidi Output 2", "synth:RtMidi Outputs",
                              "RtMidi Output Client:RtMidi Output 128:", ":RtMidi Output",
                              "RtMidi Output", "Midi Through:Midi Through Port-0 14:0"})
        EXPECT_FALSE(isPortNamed(other, out)) << other;
}

TEST(PortRules, APortComesBackUnderItsNameOrWithItsClientNumberChanged) {
    struct Case {
        std::string remembered;
        Names now;
        std::string found;
    } cases[] = {
        {"synth:in", {"a:in", "synth:in"}, "synth:in"},
        {"synth-37:in", {"synth-38:in"}, "synth-38:in"},
        {"synth:in", {"synth-2:in"}, "synth-2:in"},
        {"synth-2:in", {"synth:in"}, "synth:in"},
        {"a-1:x", {"a-1:y", "b-1:x"}, ""},
        {"synth:in", {"synthesizer:in", "synth2:in"}, ""},
        // the exact name wins over a numbered one listed first.
        {"pads:out", {"pads-4:out", "pads:out"}, "pads:out"},
        {"Midi Through:Midi Through Port-0",
         {"Midi Through:Midi Through Port-0"},
         "Midi Through:Midi Through Port-0"},
        {"x:y", {}, ""},
        // RtMidi on ALSA: the numbers of a controller plugged in again differ.
        {"zu-peer:out1 130:0",
         {"Midi Through:Midi Through Port-0 14:0", "zu-peer:out1 134:0"},
         "zu-peer:out1 134:0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.found, cameBackAs(c.remembered, c.now)) << c.remembered;
    EXPECT_EQ("a:x", withoutClientNumber("a-12:x"));
    EXPECT_EQ("-1:x", withoutClientNumber("-1:x")) << "a name that is all number stays";
    EXPECT_EQ("a-b:x", withoutClientNumber("a-b:x"));
    EXPECT_EQ("zu-peer:in", withoutClientNumber("zu-peer:in 128:0"));
}

} // namespace
