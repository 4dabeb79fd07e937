// The keeper over a service of its own making: ports that come and go at any pace,
// connections the user undoes and makes, and a port of zu's that shows late.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "connection/port_keeper.h"

namespace {

using Millis = std::chrono::milliseconds;
using Link = std::pair<std::string, std::string>;

// Tells its changes as JACK2 does: a port's connections are undone, then it goes.
class FakeService : public ServiceWatch {
  public:
    std::vector<std::string> ins, outs;
    std::set<Link> links;
    std::set<std::string> hidden; // opened but not listed yet
    std::set<std::string> stale;  // removed but still listed, as PipeWire does a moment
    bool removalFirst = false;    // the removal told before the disconnection

    bool watch(const Signal& s) override {
        signal_ = s;
        return true;
    }
    void unwatch(bool) override {}
    std::vector<std::string> ports(bool inputs) override {
        std::vector<std::string> listed;
        for (const std::string& p : inputs ? ins : outs)
            if (!hidden.count(p)) listed.push_back(p);
        return listed;
    }
    bool connect(const std::string& from, const std::string& to) override {
        auto there = [this](const std::string& p) {
            return !stale.count(p) && (has(ins, p) || has(outs, p));
        };
        if (!there(from) || !there(to)) return false;
        if (links.insert({from, to}).second) report({PortChange::MADE, from, to});
        return true;
    }

    void add(const std::string& port, bool input) {
        stale.erase(port);
        if (!has(ins, port) && !has(outs, port)) (input ? ins : outs).push_back(port);
        report({PortChange::ADDED, port, ""});
    }
    void remove(const std::string& port) {
        if (removalFirst) report({PortChange::REMOVED, port, ""});
        for (auto it = links.begin(); it != links.end();) {
            if (it->first != port && it->second != port) {
                ++it;
                continue;
            }
            report({PortChange::UNDONE, it->first, it->second});
            it = links.erase(it);
        }
        if (!removalFirst) report({PortChange::REMOVED, port, ""});
        stale.insert(port);
    }
    // The port goes from the list too, later than its removal was told.
    void unlist(const std::string& port) {
        ins.erase(std::remove(ins.begin(), ins.end(), port), ins.end());
        outs.erase(std::remove(outs.begin(), outs.end(), port), outs.end());
    }
    void byUser(const Link& l, bool made) {
        if (made ? links.insert(l).second : links.erase(l) > 0)
            report({made ? PortChange::MADE : PortChange::UNDONE, l.first, l.second});
    }

  private:
    static bool has(const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    }
};

const std::string OUT = "zu:RtMidi Output", IN = "zu:RtMidi Input";
const Link TO_SYNTH{OUT, "synth:in"}, FROM_PADS{"pads:out1", IN};

class Keeper : public ::testing::Test {
  protected:
    FakeService* service = new FakeService;
    PortKeeper keeper{std::unique_ptr<MidiService>(service), [](unsigned) {}};
    KeptPort out, in;

    void SetUp() override {
        service->ins = {"synth:in"};
        service->outs = {"pads:out0", "pads:out1"};
        out.name = "RtMidi Output";
        in.name = "RtMidi Input";
        in.input = true;
        in.startIndex = 1;
        out.open = [this](int) { return out.live = opened(OUT, false); };
        in.open = [this](int) { return in.live = opened(IN, true); };
    }
    bool opened(const std::string& port, bool input) {
        (input ? service->ins : service->outs).push_back(port);
        return true;
    }
    void attachBoth() {
        PortCheck found;
        found.answered = true;
        keeper.attach(out, found);
        keeper.attach(in, found);
        keeper.tellWhere();
    }
    // Steps until the keeper has nothing left waiting to settle.
    void settle() {
        for (int i = 0; i < 10 && keeper.step(0) == Millis(200); ++i)
            std::this_thread::sleep_for(Millis(210));
        keeper.step(0);
    }
    bool linked(const Link& l) const { return service->links.count(l) > 0; }
    // The synth, which is also the controller, closed and opened again.
    void replug(bool stepBetween) {
        for (const char* p : {"synth:in", "pads:out0", "pads:out1"})
            service->remove(p);
        if (stepBetween) keeper.step(CHANGED);
        for (const char* p : {"synth:in", "pads:out0", "pads:out1"})
            service->unlist(p);
        if (stepBetween) keeper.step(CHANGED);
        service->add("synth:in", true);
        service->add("pads:out0", false);
        service->add("pads:out1", false);
        keeper.step(CHANGED);
    }
};

TEST_F(Keeper, APeerThatGoesAndComesBackAtAnyPaceIsConnectedAgain) {
    attachBoth();
    ASSERT_TRUE(linked(TO_SYNTH) && linked(FROM_PADS)) << "the start rule: output 0, input 1";
    for (bool removalFirst : {false, true})
        for (int i = 0; i < 6; ++i) {
            service->removalFirst = removalFirst;
            replug(i % 2 == 0); // every other time back before zu looked
            std::this_thread::sleep_for(Millis(i * 20));
        }
    settle();
    EXPECT_TRUE(linked(TO_SYNTH)) << "output lost after the storm";
    EXPECT_TRUE(linked(FROM_PADS)) << "input lost after the storm";
}

TEST_F(Keeper, AConnectionTheUserUndidStaysUndoneUntilTheUserMakesIt) {
    attachBoth();
    service->byUser(TO_SYNTH, false);
    settle();
    EXPECT_FALSE(linked(TO_SYNTH)) << "zu made again what the user undid";
    replug(false);
    settle();
    EXPECT_FALSE(linked(TO_SYNTH)) << "a replug brought back what the user undid";
    EXPECT_TRUE(linked(FROM_PADS)) << "the other side is kept as ever";

    service->byUser(TO_SYNTH, true);
    keeper.step(CHANGED);
    replug(true);
    settle();
    EXPECT_TRUE(linked(TO_SYNTH)) << "the user's own connection is kept like zu's";

    // Undone and made again before it settled: the user changed nothing.
    service->byUser(FROM_PADS, false);
    service->byUser(FROM_PADS, true);
    settle();
    replug(false);
    settle();
    EXPECT_TRUE(linked(FROM_PADS));
}

TEST_F(Keeper, APortOfZusThatShowsLateIsConnectedOnceItShows) {
    service->hidden = {OUT};
    attachBoth(); // waits a while for the output to show
    EXPECT_FALSE(linked(TO_SYNTH));
    EXPECT_TRUE(linked(FROM_PADS));
    EXPECT_TRUE(out.live) << "it can send meanwhile";
    service->hidden.clear();
    EXPECT_EQ(Millis(0), keeper.step(0)) << "nothing left waiting";
    EXPECT_TRUE(linked(TO_SYNTH)) << "never looked up again";
}

} // namespace
