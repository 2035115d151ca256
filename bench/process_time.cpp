// Whole-process cost of commands, as a user pays it: each command runs RUNS
// times from exec to exit, the commands taking turns so that a busy machine
// weighs on each alike. Prints one line per command: the median CPU time
// (user + system, from the kernel's accounting of the child) and the least
// elapsed time (the run the machine's other load delayed least), in
// microseconds.
//
//   process_time RUNS -- COMMAND [ARGS...] [-- COMMAND [ARGS...]]...
//
// The commands' output goes to /dev/null.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Sample {
    long cpu = 0;   // microseconds
    long wall = 0;  // microseconds
};

long Microseconds(const timeval& t) { return t.tv_sec * 1000000L + t.tv_usec; }

// One run of `argv`; false when it could not be started or did not exit 0.
bool RunOnce(char* const* argv, Sample& sample) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    const auto end = std::chrono::steady_clock::now();
    sample.cpu = Microseconds(usage.ru_utime) + Microseconds(usage.ru_stime);
    sample.wall = std::chrono::duration_cast<std::chrono::microseconds>(end - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

long Median(std::vector<long> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 0;
    std::vector<std::vector<char*>> commands;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) commands.emplace_back();
        else if (!commands.empty()) commands.back().push_back(argv[i]);
    }
    if (runs < 1 || commands.empty() ||
        std::any_of(commands.begin(), commands.end(), [](const auto& c) { return c.empty(); })) {
        std::fprintf(stderr, "usage: process_time RUNS -- COMMAND [ARGS...] [-- COMMAND [ARGS...]]...\n");
        return 2;
    }
    for (auto& command : commands) command.push_back(nullptr);

    std::vector<std::vector<long>> cpu(commands.size()), wall(commands.size());
    for (int run = 0; run < runs; ++run) {
        for (size_t c = 0; c < commands.size(); ++c) {
            Sample sample;
            if (!RunOnce(commands[c].data(), sample)) {
                std::fprintf(stderr, "process_time: %s failed\n", commands[c][0]);
                return 1;
            }
            cpu[c].push_back(sample.cpu);
            wall[c].push_back(sample.wall);
        }
    }
    for (size_t c = 0; c < commands.size(); ++c)
        std::printf("%ld %ld\n", Median(cpu[c]), *std::min_element(wall[c].begin(), wall[c].end()));
    return 0;
}
