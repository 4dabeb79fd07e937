// Every wait of a test case ends by the case's deadline, so that a case that goes wrong
// fails with its own message before ctest's TIMEOUT ends it without one. The deadline
// comes from ZU_TEST_TIMEOUT (seconds, the case's ctest TIMEOUT), counted from the start
// of the process, which ctest runs for one case; without it waits keep their own limits.
#pragma once

#include <chrono>
#include <string>

namespace zutest {

using Millis = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// The moments of a case, from its start: waits end by `waits`, stopping what the case
// started ends by `ending`, and the watchdog then ends the process by `last`.
struct CaseTimes {
    Clock::time_point start, waits, ending, last;
    Millis timeout; // ctest's TIMEOUT; zero when there is none
};
const CaseTimes& caseTimes();

// timeout, cut to what is left of this thread's part of the case: waits until
// caseTimes().waits, inside an Ending later.
Millis withinDeadline(Millis timeout);

// Stopping what a case started: while one lives, this thread's waits may run until
// caseTimes().ending, or with lastWords (the watchdog) until .last.
class Ending {
  public:
    explicit Ending(bool lastWords = false);
    ~Ending();
    Ending(const Ending&) = delete;
    Ending& operator=(const Ending&) = delete;

  private:
    int saved_;
};

// A named wait: says on stderr when the case's deadline, not its own limit, ended it,
// and tells the watchdog which wait ran when time was up.
class Waiting {
  public:
    Waiting(const char* what, const char* file, int line, Millis asked);
    ~Waiting();
    // The wait ended without what it waited for.
    void ranOut();
    // The limit the wait has: its own, or less when the case's deadline comes first.
    Millis given() const { return given_; }
    // "what (file:line)" of the wait running now on the test's threads, or "".
    static std::string current();

  private:
    const char *what_, *file_;
    int line_;
    Millis asked_, given_;
};

} // namespace zutest
