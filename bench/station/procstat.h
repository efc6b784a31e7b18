// What /proc says about a running process: CPU time used so far (utime + stime
// of /proc/<pid>/stat) and resident memory (VmHWM, VmRSS of /proc/<pid>/status).
#pragma once

#include <QByteArray>
#include <optional>
#include <sys/types.h>

namespace station::bench {

struct CpuTime {
    long long ticks = 0;  // utime + stime, in clock ticks
    double seconds() const;
};

// pid 0 means this process (/proc/self).
std::optional<CpuTime> cpuTime(pid_t pid = 0);

struct Memory {
    long long peakKiB = 0;     // VmHWM: peak resident set
    long long currentKiB = 0;  // VmRSS
};
std::optional<Memory> memory(pid_t pid = 0);

// "N cores, <model name>" from /proc/cpuinfo.
QByteArray machine();

} // namespace station::bench
