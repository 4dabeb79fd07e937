// What a failed or stuck case leaves for its reader: zu's output and frame log, the
// servers' and the peer's logs, and the threads' stacks of the processes still running,
// copied into $ZU_TEST_KEEP (else ./failed)/SUITE.CASE. A watchdog keeps them for a case
// still running when its time is up (caseTimes().ending) and ends the process; the reaper
// then stops what the case started.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "process.h"

namespace zutest {

// While one lives, the file at path (or with a pid, the threads' stacks of that process
// while it runs) belongs to the evidence, kept under the name as.
class Kept {
  public:
    Kept(const std::string& as, const std::string& path, pid_t pid = 0);
    ~Kept();
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
};

// Starts gdb writing every thread's stack of target ({"-p", PID}, or a binary and its
// core) to file. Throws std::runtime_error when gdb cannot start.
Process startStacks(const std::vector<std::string>& target, const std::string& file);
// Waits for that gdb as long as symbols take on a loaded machine, then stops it; false when
// it ran out of time.
bool endStacks(Process& gdb);

// Copies everything Kept into the case's folder, the stacks taken with gdb, and
// returns the folder.
std::string keepEvidence();

} // namespace zutest
