#include "midi_cc.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "../widgets/dialog.h"

// Built before main, in this order.
MidiInbox MidiCC::inbox;
std::vector<unsigned char> MidiCC::controllerCCMessage;
CtrlMidiCCList MidiCC::ctrlList;
std::future<int> MidiCC::setControllerTask = std::async(std::launch::async, [] { return -1; });
std::future<int> MidiCC::midiListenTask = std::async(std::launch::async, [] { return -1; });

std::tuple<int, int> MidiCC::controllerCC{-1, 0};
std::atomic<bool> MidiCC::toSettingCC{true};
volatile std::sig_atomic_t MidiCC::done = 0;
std::atomic<int> MidiCC::CCStatus{0};
std::atomic<bool> MidiCC::doneCC{false};
std::atomic<bool> MidiCC::listenCC{false};
Dialog* MidiCC::dlgCC = nullptr;
std::function<void(int, int)> MidiCC::pairChanged;

namespace {
// Destroyed before the task handles: a process that exits from inside the frame
// loop (a rendering error) must not wait forever for a task that is still looping.
struct TaskStopper {
    ~TaskStopper() { MidiCC::doneCC = MidiCC::CCStatus != 2; }
} taskStopper;

// The longest a task waits between two polls; a message that arrives ends the wait.
constexpr auto POLL_PERIOD = std::chrono::milliseconds(10);

bool isData(unsigned char b) {
    return b < 128;
}
} // namespace

bool learnIntake(const std::vector<unsigned char>& msg, int& number) {
    if (msg.size() < 2 || !isData(msg[1])) return false;
    number = msg[1];
    return true;
}

bool listenIntake(const std::vector<unsigned char>& msg, int& number, int& value) {
    if (msg.size() < 3 || !isData(msg[1]) || !isData(msg[2])) return false;
    number = msg[1];
    value = msg[2];
    return true;
}

bool MidiCC::poll() {
    inbox.take(controllerCCMessage);
    return !controllerCCMessage.empty();
}

void MidiCC::ctrlCCParing(const int& number, Control* control) {
    Mappable m;
    if (asMappable(control, m)) std::get<0>(*m.ccPair) = static_cast<unsigned char>(number);
}

void MidiCC::learnTake(const std::vector<unsigned char>& msg, int& current) {
    if (learnIntake(msg, current) && dlgCC) dlgCC->label->text = "CC" + std::to_string(current);
    std::vector<Control*>& selected = ctrlList.setSelectedCtrls();
    if (!selected.empty()) ctrlCCParing(current, selected.back());
}

void MidiCC::learnPoll(int& current) {
    poll();
    learnTake(controllerCCMessage, current);
    controllerCCMessage.clear();
}

void MidiCC::listenTake(const std::vector<unsigned char>& msg, int& number, int& value,
                        CCPair& pair) {
    listenIntake(msg, number, value);
    bool changed = std::get<0>(pair) != number || std::get<1>(pair) != value;
    std::get<0>(pair) = number;
    std::get<1>(pair) = value;
    if (changed && pairChanged) pairChanged(number, value);
}

bool MidiCC::listenPoll(int& number, int& value, CCPair& pair) {
    bool took = poll();
    listenTake(controllerCCMessage, number, value, pair);
    controllerCCMessage.clear();
    return took;
}

int MidiCC::learnTask() {
    int current = std::get<0>(controllerCC);
    CCStatus = 1;
    done = 0;
    std::signal(SIGINT, finish);
    ctrlList.setCCOn();
    if (dlgCC) {
        dlgCC->label->selected = true; // before show(), which asks for the paint
        dlgCC->show();
    }
    unsigned long seen = 0;
    while (!doneCC) {
        if (ctrlList.numberCtrlsToSetCC() != 0) learnPoll(current);
        inbox.waitArrival(seen, POLL_PERIOD);
    }
    if (dlgCC) dlgCC->hide();
    ctrlList.setCCOff();
    return 0;
}

int MidiCC::listenTask(CCPair& pair) {
    int number = 0, value = 0;
    CCStatus = 2;
    unsigned long seen = 0;
    while (doneCC) {
        // Every waiting message, in order: a knob swept in one burst ends where it ended.
        while (listenPoll(number, value, pair) && doneCC) {
        }
        inbox.waitArrival(seen, POLL_PERIOD);
    }
    return 0;
}

// The status (and for listening listenCC) is set before the thread starts, so a
// quit right after m still stops and waits for the task just started, and a stop
// in that window cannot be undone by the task's first step.
void MidiCC::setController() {
    CCStatus = 1;
    setControllerTask = std::async(std::launch::async, learnTask);
}

void MidiCC::midiListen(CCPair& pair) {
    CCStatus = 2;
    listenCC = true;
    midiListenTask = std::async(std::launch::async, listenTask, std::ref(pair));
}

static int waitFor(std::future<int>& task) {
    return task.valid() ? task.get() : -1;
}

int MidiCC::setControllerGet() {
    return waitFor(setControllerTask);
}

int MidiCC::midiListenGet() {
    return waitFor(midiListenTask);
}

void MidiCC::deleteControllersCC() {
    ctrlList.deleteCtrlsCC();
}

void MidiCC::finish(int) {
    done = 1;
}

// Both switches wait for the task that is ending before the next one starts,
// so two tasks never poll the input at the same time.
void MidiCC::enterLearn() {
    doneCC = false;
    midiListenGet();
    setController();
    toSettingCC = false;
}

void MidiCC::enterFollow(CCPair& pair) {
    doneCC = true;
    listenCC = false;
    setControllerGet();
    midiListen(pair);
    toSettingCC = true;
}

void MidiCC::stop() {
    if (CCStatus == 2) {
        doneCC = false;
        listenCC = false;
        midiListenGet();
    } else if (CCStatus == 1) {
        doneCC = true;
        setControllerGet();
    }
}
