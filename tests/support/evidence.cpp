#include "evidence.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "process.h"

namespace zutest {

namespace fs = std::filesystem;

namespace {
// gdb reads the symbols of Mesa and LLVM: seconds on a loaded machine.
const Millis STACKS_LIMIT(10000);

struct Item {
    const Kept* owner;
    std::string as, path;
    pid_t pid;
};
std::mutex itemsMutex;
std::vector<Item> items;

std::string caseName() {
    const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = t ? std::string(t->test_suite_name()) + "." + t->name()
                         : "process-" + std::to_string(getpid());
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

bool runs(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')');
    return end != std::string::npos && stat.size() > end + 2 && stat[end + 2] != 'Z';
}

// The threads' stacks of each running process, taken at once: each gdb stops its process.
void takeStacks(const std::vector<Item>& of, const fs::path& dir) {
    std::vector<std::pair<pid_t, Process>> gdbs;
    for (const Item& i : of) {
        if (!runs(i.pid)) continue;
        try {
            gdbs.emplace_back(i.pid, startStacks({"-p", std::to_string(i.pid)}, dir / i.as));
        } catch (const std::exception& e) {
            fprintf(stderr, "zu-test: no stacks of %s: %s\n", i.as.c_str(), e.what());
        }
    }
    for (auto& [pid, gdb] : gdbs) {
        if (!endStacks(gdb)) fprintf(stderr, "zu-test: gdb of %d ran out of time\n", pid);
        ::kill(pid, SIGCONT); // in case gdb could not detach
    }
}

void watch() {
    const CaseTimes& t = caseTimes();
    std::this_thread::sleep_until(t.ending);
    Ending lastWords(true);
    std::string wait = Waiting::current();
    fprintf(stderr,
            "zu-test: %s still runs %lld s after it started, near ctest's TIMEOUT of %lld s; "
            "%s\n",
            caseName().c_str(),
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - t.start).count()),
            static_cast<long long>(t.timeout.count() / 1000),
            wait.empty() ? "no wait under way: it is stuck in a call (see the stacks)"
                         : ("the wait under way: " + wait).c_str());
    Kept self("stacks-test.txt", "", getpid());
    std::string dir = keepEvidence();
    fprintf(stderr, "zu-test: evidence and stacks kept in %s; the reaper stops the rest\n",
            dir.c_str());
    fflush(stderr);
    _exit(1);
}
} // namespace

Process startStacks(const std::vector<std::string>& target, const std::string& file) {
    SpawnOptions o;
    o.argv = {"gdb"};
    o.argv.insert(o.argv.end(), target.begin(), target.end());
    o.argv.insert(o.argv.end(), {"-batch", "-nx", "-ex", "thread apply all bt"});
    o.stdoutPath = o.stderrPath = file;
    return Process(o);
}

bool endStacks(Process& gdb) {
    bool done = gdb.wait(STACKS_LIMIT);
    gdb.terminate(Millis(2000)); // gdb detaches on SIGTERM
    return done;
}

Kept::Kept(const std::string& as, const std::string& path, pid_t pid) {
    static std::once_flag watching;
    if (caseTimes().timeout.count() > 0)
        std::call_once(watching, [] { std::thread(watch).detach(); });
    std::lock_guard<std::mutex> lock(itemsMutex);
    std::string name = as;
    for (int n = 2;; ++n) {
        bool taken = false;
        for (const Item& i : items)
            taken = taken || i.as == name;
        if (!taken) break;
        name = std::to_string(n) + "-" + as;
    }
    items.push_back({this, name, path, pid});
}

Kept::~Kept() {
    std::lock_guard<std::mutex> lock(itemsMutex);
    for (auto it = items.begin(); it != items.end(); ++it)
        if (it->owner == this) {
            items.erase(it);
            break;
        }
}

std::string keepEvidence() {
    std::vector<Item> now;
    {
        std::lock_guard<std::mutex> lock(itemsMutex);
        now = items;
    }
    const char* root = getenv("ZU_TEST_KEEP");
    fs::path dir = fs::absolute(root && *root ? root : "failed") / caseName();
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    std::vector<Item> running;
    for (const Item& i : now) {
        if (i.pid > 0)
            running.push_back(i);
        else
            fs::copy_file(i.path, dir / i.as, fs::copy_options::overwrite_existing, ignored);
    }
    takeStacks(running, dir);
    return dir.string();
}

} // namespace zutest
