// The process's peak of resident memory (Linux), for tests that a piece of
// work stays in flat memory however large its input.
#pragma once

#include <fstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace quillet::testutil {

// Starts the peak afresh; false where the system cannot.
inline bool resetPeakMemory() {
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool reset = ::write(fd, "5", 1) == 1;
    ::close(fd);
    return reset;
}

// The peak since the last reset, in KiB; -1 where it cannot be told.
inline long peakMemoryKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace quillet::testutil
