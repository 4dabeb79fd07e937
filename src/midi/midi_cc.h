// MIDI input: the learn task, the listen task and the mode flags they share.
#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <future>
#include <tuple>
#include <vector>

#include "ctrl_midi_cc_list.h"
#include "midi_inbox.h"

class Dialog;

// (controller number, value) published by the listen task, read by the UI thread.
using CCPair = std::tuple<std::atomic<int>, std::atomic<int>>;

// Byte 1 of a message as a controller number; false when the message is too
// short or the byte is not a data byte (the last number is kept).
bool learnIntake(const std::vector<unsigned char>& msg, int& number);
// Bytes 1 and 2 as controller number and value; false when they are missing or not data bytes.
bool listenIntake(const std::vector<unsigned char>& msg, int& number, int& value);

class MidiCC {
  public:
    static std::tuple<int, int> controllerCC;
    static std::atomic<bool> toSettingCC;
    static MidiInbox inbox; // what input port 1 received, for the tasks to take
    static volatile std::sig_atomic_t done;
    static std::vector<unsigned char> controllerCCMessage;
    static std::atomic<int> CCStatus; // 0 none, 1 learn task, 2 listen task
    static std::atomic<bool> doneCC;
    static std::atomic<bool> listenCC;
    static Dialog* dlgCC;
    static CtrlMidiCCList ctrlList;
    static std::future<int> setControllerTask;
    static std::future<int> midiListenTask;
    // Called on the listen task, in arrival order, with each pair it publishes that
    // differs from the pair before; set once before the first listen task starts.
    // Must not block.
    static std::function<void(int number, int value)> pairChanged;

    // Starts the learn task.
    static void setController();
    // Starts the listen task, publishing into pair (which must outlive it).
    static void midiListen(CCPair& pair);
    // Waits for the learn task; -1 for the placeholder or a handle already waited for.
    static int setControllerGet();
    // Waits for the listen task; -1 for the placeholder or a handle already waited for.
    static int midiListenGet();
    // Unpairs the selected controls (learn mode only).
    static void deleteControllersCC();
    // Interrupt handler: sets done.
    static void finish(int signal);
    // Pairs a Dial or Button with number narrowed to a byte (-1 unpairs).
    static void ctrlCCParing(const int& number, Control* control);

    // One learn poll: take a message, show and pair its controller number.
    static void learnPoll(int& current);
    // The learn step for a message already taken (empty: none arrived).
    static void learnTake(const std::vector<unsigned char>& msg, int& current);
    // One listen poll: take a message and publish the last number and value; true
    // when a message was taken.
    static bool listenPoll(int& number, int& value, CCPair& pair);
    // The listen step for a message already taken (empty: none arrived).
    static void listenTake(const std::vector<unsigned char>& msg, int& number, int& value,
                           CCPair& pair);
    // Enters learn mode from the start state or follow mode.
    static void enterLearn();
    // Enters follow mode from learn mode, listening into pair.
    static void enterFollow(CCPair& pair);
    // Stops whichever task runs and waits for it.
    static void stop();

  private:
    static int learnTask();
    static int listenTask(CCPair& pair);
    static bool poll();
};
