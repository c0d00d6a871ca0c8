// SPDX-License-Identifier: MIT
#include "cpu_time.h"

#include <dirent.h>
#include <fstream>
#include <string>

namespace qelbench {
namespace {

// The first field of a schedstat file: the time the task has run, in
// nanoseconds (the tick-based utime and stime of a stat file are too coarse
// for a thread that spends a few milliseconds per run queueing GE work).
double runSecondsOfTask(pid_t pid, const std::string &tid)
{
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/task/" + tid + "/schedstat");
    unsigned long long nanoseconds = 0;
    schedstat >> nanoseconds;
    return static_cast<double>(nanoseconds) / 1e9;
}

} // namespace

double mainThreadCpuSeconds(pid_t pid)
{
    return runSecondsOfTask(pid, std::to_string(pid));
}

// Threads that ended before the call are not counted; the server's threads
// (main, input, the simulated GE's worker and vblank clock) live as long as
// it does.
double processCpuSeconds(pid_t pid)
{
    double total = 0;
    DIR *tasks = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (!tasks)
        return 0;
    while (const dirent *entry = readdir(tasks))
        if (entry->d_name[0] != '.')
            total += runSecondsOfTask(pid, entry->d_name);
    closedir(tasks);
    return total;
}

} // namespace qelbench
