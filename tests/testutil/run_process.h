// Runs a program with arguments and standard input, capturing its standard
// output, standard error and exit status (for command-line tests).
#pragma once

#include <string>
#include <vector>

namespace quillet::testutil {

struct ProcessResult {
    std::string Out;
    std::string Err;
    int ExitCode = -1; // -1: killed by a signal
};

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input = {}, const std::string& workingDirectory = {});

} // namespace quillet::testutil
