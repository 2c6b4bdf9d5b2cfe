// Fuzz target: quillet-cli's argument parser on arbitrary arguments. It never
// crashes; a refusal is a usage message with exit status 2; and operands
// after "--" reach the options exactly as given, byte for byte.
#include "cli/options.h"
#include "core/text_ops.h"
#include "fuzz_input.h"

#include <string>
#include <string_view>
#include <vector>

using quillet::cli::ParseArguments;
using quillet::cli::ParseOutcome;
using quillet::fuzz::require;

namespace {

// Options that stand alone, so that whatever follows them is read as it would
// be without them.
constexpr std::string_view kSelfContained[] = {
    "-r",
    "-c",
    "-n",
    "-q",
    "-0",
    "-z",
    "-rq",
    "--template",
    "--literal",
    "--dry-run",
    "--diff",
    "--matches",
    "--column",
    "-C1",
    "-B0",
    "--keep-going",
    "--no-journal",
    "--mask=*.htm",
    "-j2",
    "--threads=1",
    "--max-count=2",
    "--max-files=1",
    "--color=never",
    "--backup",
    "--backup=.orig",
    "-d.",
    "--bogus",
    "-j",
    "--max-count=x",
};

void checkOutcome(const ParseOutcome& outcome) {
    if (!outcome.Error.empty()) {
        const std::string_view error = outcome.Error;
        const std::string_view tail = "Try 'quillet-cli --help' for more information.\n";
        require(outcome.ExitCode == 2, "a refusal exits with 2");
        require(error.substr(0, 13) == "quillet-cli: ", "a refusal starts with the program's name");
        require(error.size() >= tail.size() && error.substr(error.size() - tail.size()) == tail,
                "a refusal ends with the usage");
        require(!outcome.Options && !outcome.Undo, "a refusal runs nothing");
        return;
    }
    require(outcome.ExitCode == 0, "what is not refused exits with 0");
    require(!(outcome.Options && outcome.Undo), "one command at a time");
    if (outcome.Options)
        require(quillet::core::FindOperation(outcome.Options->Operation) != nullptr, "a known operation");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::fuzz::Input input(data, size);
    const std::uint8_t shape = input.byte();
    std::vector<std::string> arguments{"quillet-cli"};
    if ((shape & 1) == 0) {
        // Any arguments at all.
        for (int i = 0; i < 8; ++i)
            arguments.push_back(input.piece(32));
        std::vector<const char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(argument.c_str());
        checkOutcome(ParseArguments(static_cast<int>(argv.size()), argv.data()));
        return 0;
    }

    // Self-contained options, an operation, "--", then operands of any bytes
    // (a NUL ends an argument, as in a real argv).
    for (int i = 0; i < (shape >> 5); ++i)
        arguments.emplace_back(kSelfContained[input.byte() % std::size(kSelfContained)]);
    const quillet::core::OperationInfo& operation =
        quillet::core::kOperations[(shape >> 1) % quillet::core::kOperations.size()];
    arguments.emplace_back(operation.CliName);
    arguments.emplace_back("--");
    std::vector<std::string> operands;
    for (int i = 0; i < 4; ++i)
        operands.push_back(input.piece(32));
    arguments.insert(arguments.end(), operands.begin(), operands.end());
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    const ParseOutcome outcome = ParseArguments(static_cast<int>(argv.size()), argv.data());
    checkOutcome(outcome);
    if (!outcome.Options)
        return 0;
    const quillet::cli::CliOptions& options = *outcome.Options;
    require(options.Operation == operation.Code, "the operation named");
    auto next = operands.begin();
    if (operation.Arguments >= 1)
        require(options.Pattern == *next++, "PATTERN as given, byte for byte");
    if (operation.Arguments >= 2)
        require(options.NewText == *next++, "NEWTEXT as given, byte for byte");
    require(options.Paths == std::vector<std::string>(next, operands.end()), "the paths as given");
    return 0;
}
