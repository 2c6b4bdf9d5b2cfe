// Where the run journal lives and how much it keeps: the user's state and
// configuration folders, and the settings file journal.conf. Engine layer;
// engine/keep/journal.h uses them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillet::engine {

struct JournalLimits {
    std::size_t MaxRuns = 20;
    std::int64_t MaxBytes = std::int64_t{1} << 30;
};

// Where the journal and its settings are.
struct JournalPlace {
    std::string RunsDirectory; // holds one directory per run
    std::string ConfigFile;    // journal.conf; need not exist
    // From $XDG_STATE_HOME and $XDG_CONFIG_HOME, each used only when set to
    // an absolute path, else ~/.local/state and ~/.config ($HOME, else the
    // user's home directory from the password database).
    static JournalPlace fromEnvironment();
};

// Reads the settings text of a journal.conf. Blank lines and '#' comments
// are skipped; anything else must be "max-runs = N" (N >= 1) or
// "max-bytes = N[K|M|G|T]", spaces around '=' optional. Raises
//   "Cannot use "<fileName>", line <n>: <what>"
// with <what> one of "unknown setting "<name>"", "expected name = value",
// "not a number of runs (at least 1): "<value>"", "not a number of bytes: "<value>"".
JournalLimits ParseJournalLimits(std::string_view text, std::string_view fileName);

// The limits from place.ConfigFile; the defaults when it does not exist.
// Raises "Cannot read "<file>". <reason>" (for a FIFO or a folder, without
// waiting: "It is not a regular file") or the errors of ParseJournalLimits.
JournalLimits LoadJournalLimits(const JournalPlace& place);

// A byte count as journal.conf writes it, for messages: "1G", "512K",
// "1000 bytes".
std::string ByteCountText(std::int64_t bytes);

} // namespace quillet::engine
