// zu_midi_peer, the peer program that benchmarks and manual tests drive through
// stdin and stdout, checked against an in-process peer on the same server.
#include <gtest/gtest.h>

#include <sstream>

#include "midi_peer.h"
#include "servers.h"

namespace zutest {
namespace {

const Millis LIMIT(10000);

// Options for the peer program on jack, its output going into dir.
SpawnOptions peerTool(const JackServer& jack, TempDir& dir) {
    SpawnOptions o;
    o.argv = {ZU_MIDI_PEER};
    o.env = jack.clientEnvironment();
    o.stdoutPath = dir.file("out.txt");
    o.stderrPath = dir.file("err.txt");
    o.stdinPipe = true;
    return o;
}

TEST(PeerTool, SendsWhatItIsToldAndReportsWhatItReceives) {
    JackServer jack(JackServer::uniqueName());
    TempDir dir("zu-peer-tool");
    Process tool(peerTool(jack, dir));
    auto output = [&] { return readFile(dir.file("out.txt")); };
    ASSERT_TRUE(waitUntil([&] { return output() == "ready\n"; }, LIMIT)) << output();
    // Its ports in the order zu relies on: in, out0, out1.
    std::vector<std::string> ports;
    for (const std::string& p : jack.ports())
        if (p.rfind("zu-peer", 0) == 0) ports.push_back(p.substr(p.find(':')));
    EXPECT_EQ((std::vector<std::string>{":in", ":out0", ":out1"}), ports);

    setenv("JACK_DEFAULT_SERVER", jack.name().c_str(), 1);
    {
        MidiPeer other("zu-other");
        ASSERT_TRUE(jack.connect(jack.portOf("zu-peer", "out1"), jack.portOf("zu-other", "in")));
        ASSERT_TRUE(jack.connect(jack.portOf("zu-other", "out0"), "zu-peer:in"));

        // A new connection may drop what is sent in its first moment: repeat
        // until something arrives.
        ASSERT_TRUE(waitUntil(
            [&] {
                tool.writeStdin("send1 176 1 2\n");
                return other.waitForCount(1, Millis(100));
            },
            LIMIT, Millis(0)));
        EXPECT_EQ((std::vector<unsigned char>{176, 1, 2}), other.received()[0].bytes);
        // send0 goes out on out0, which is connected to nothing here; lines are
        // handled in order, so once 5 6 is in, 3 4 would have been too.
        ASSERT_TRUE(tool.writeStdin("send0 176 3 4\nsend1 176 5 6\n"));
        ASSERT_TRUE(waitUntil(
            [&] {
                return other.received().back().bytes == std::vector<unsigned char>{176, 5, 6};
            },
            LIMIT));
        for (const MidiMessage& m : other.received())
            EXPECT_NE((std::vector<unsigned char>{176, 3, 4}), m.bytes);

        long long before = monotonicMicros();
        other.send(0, {144, 60, 100});
        ASSERT_TRUE(waitUntil([&] { return output().find("recv ") != std::string::npos; }, LIMIT));
        std::istringstream lines(output());
        std::string ready, recv, bytes;
        long long at = 0;
        std::getline(lines, ready);
        lines >> recv >> at;
        std::getline(lines, bytes);
        EXPECT_EQ("recv", recv);
        EXPECT_EQ(" 144 60 100", bytes);
        EXPECT_GE(at, before);
        EXPECT_LE(at, monotonicMicros());

        ASSERT_TRUE(tool.writeStdin("quit\n"));
        ASSERT_TRUE(tool.wait(LIMIT));
    }
    EXPECT_EQ(0, tool.exitCode()) << tool.describeEnd();
    EXPECT_TRUE(jack.stop());
}

TEST(PeerTool, RejectsMalformedCommandsAndEndsWithStatus2) {
    JackServer jack(JackServer::uniqueName());
    TempDir dir("zu-peer-tool");
    Process tool(peerTool(jack, dir));
    ASSERT_TRUE(waitUntil([&] { return readFile(dir.file("out.txt")) == "ready\n"; }, LIMIT));
    ASSERT_TRUE(tool.writeStdin("send1 176 300 2\nsend2 1\nsend0\nsend1 x\n"));
    // End of input ends it as quit does.
    tool.closeStdin();
    ASSERT_TRUE(tool.wait(LIMIT));
    EXPECT_EQ(2, tool.exitCode()) << tool.describeEnd();
    std::string err = readFile(dir.file("err.txt"));
    for (const char* bad : {"send1 176 300 2", "send2 1", "send0", "send1 x"})
        EXPECT_NE(std::string::npos, err.find(bad)) << err;
    EXPECT_TRUE(jack.stop());
}

TEST(PeerTool, ExitsCleanlyOnSigterm) {
    JackServer jack(JackServer::uniqueName());
    TempDir dir("zu-peer-tool");
    Process tool(peerTool(jack, dir)); // stdin held open: only the signal can end it
    ASSERT_TRUE(waitUntil([&] { return readFile(dir.file("out.txt")) == "ready\n"; }, LIMIT));
    tool.signal(SIGTERM);
    ASSERT_TRUE(tool.wait(LIMIT));
    EXPECT_EQ(0, tool.exitCode()) << tool.describeEnd();
    // Its ports are gone with it, and the server still stops cleanly.
    EXPECT_TRUE(waitUntil([&] { return jack.portOf("zu-peer", "in").empty(); }, LIMIT));
    EXPECT_TRUE(jack.stop());
}

TEST(PeerTool, FailsWithoutAServer) {
    TempDir dir("zu-peer-tool");
    SpawnOptions o;
    o.argv = {ZU_MIDI_PEER};
    o.env = withoutService(Service::Jack);
    o.stdoutPath = dir.file("out.txt");
    Process tool(o);
    ASSERT_TRUE(tool.wait(LIMIT));
    EXPECT_EQ(1, tool.exitCode()) << tool.describeEnd();
    EXPECT_EQ("", readFile(dir.file("out.txt")));
}

} // namespace
} // namespace zutest
