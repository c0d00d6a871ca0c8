#include "cpu_time.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

namespace qelbench {
namespace {

// Fields 14 and 15 of a stat file (utime, stime), counted after the command
// name, which may itself hold spaces and parentheses.
double cpuSecondsFrom(const std::string &statPath)
{
    std::ifstream stat(statPath);
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(nameEnd + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

double mainThreadCpuSeconds(pid_t pid)
{
    return cpuSecondsFrom("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/stat");
}

double processCpuSeconds(pid_t pid)
{
    return cpuSecondsFrom("/proc/" + std::to_string(pid) + "/stat");
}

}  // namespace qelbench
