#pragma once

// Helpers shared by the benchmark programs: lengths from the environment,
// CPU time of this process or its children, and a child program run to its
// end with its own time, CPU and memory.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace benchsupport {

// A positive number of seconds from `name`, else `fallback`.
inline double envSeconds(const char* name, double fallback) {
    const char* value = std::getenv(name);
    const double parsed = value ? std::strtod(value, nullptr) : 0;
    return parsed > 0 ? parsed : fallback;
}

inline double secondsOf(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// User and system time of this process (RUSAGE_SELF) or of its waited-for
// children (RUSAGE_CHILDREN).
inline double cpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
}

struct ChildRun {
    bool ok = false;
    double seconds = 0;
    double peakMegabytes = 0;
    double cpuSeconds = 0;
};

// Runs `program` with `arguments`, waiting; wall time, peak memory and CPU.
// Its input is empty and its output discarded (the benchmark's own output
// may be JSON).
inline ChildRun runChild(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ChildRun run;
    if (rc != 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    return run;
}

}  // namespace benchsupport
