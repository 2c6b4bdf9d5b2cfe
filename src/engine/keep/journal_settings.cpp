#include "engine/keep/journal_settings.h"

#include "core/error.h"
#include "engine/fs/durable_files.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillet::engine {

namespace {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    // The reentrant call: the window builds a run's journal on the run's own
    // thread, while another thread may ask the same.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* user = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &user) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (user != nullptr && user->pw_dir != nullptr)
        return user->pw_dir;
    return "/";
}

std::string xdgDirectory(const char* variable, const char* fallbackUnderHome) {
    if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/')
        return value;
    return homeDirectory() + "/" + fallbackUnderHome;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<std::int64_t> parseByteCount(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value < 0)
        return std::nullopt;
    std::string_view suffix(end, static_cast<std::size_t>(text.data() + text.size() - end));
    int shift = 0;
    if (suffix == "K" || suffix == "k")
        shift = 10;
    else if (suffix == "M" || suffix == "m")
        shift = 20;
    else if (suffix == "G" || suffix == "g")
        shift = 30;
    else if (suffix == "T" || suffix == "t")
        shift = 40;
    else if (!suffix.empty())
        return std::nullopt;
    if (value > (INT64_MAX >> shift))
        return std::nullopt;
    return value << shift;
}

[[noreturn]] void failConfig(std::string_view fileName, std::size_t line, const std::string& what) {
    throw Error("Cannot use \"" + std::string(fileName) + "\", line " + std::to_string(line) + ": " + what);
}

} // namespace

JournalPlace JournalPlace::fromEnvironment() {
    JournalPlace place;
    place.RunsDirectory = xdgDirectory("XDG_STATE_HOME", ".local/state") + "/quillet/runs";
    place.ConfigFile = xdgDirectory("XDG_CONFIG_HOME", ".config") + "/quillet/journal.conf";
    return place;
}

JournalLimits ParseJournalLimits(std::string_view text, std::string_view fileName) {
    JournalLimits limits;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos)
            failConfig(fileName, lineNumber, "expected name = value");
        const std::string_view name = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (name == "max-runs") {
            std::size_t runs = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), runs);
            if (error != std::errc() || end != value.data() + value.size() || runs < 1)
                failConfig(fileName, lineNumber, "not a number of runs (at least 1): \"" + std::string(value) + "\"");
            limits.MaxRuns = runs;
        } else if (name == "max-bytes") {
            const auto bytes = parseByteCount(value);
            if (!bytes)
                failConfig(fileName, lineNumber, "not a number of bytes: \"" + std::string(value) + "\"");
            limits.MaxBytes = *bytes;
        } else {
            failConfig(fileName, lineNumber, "unknown setting \"" + std::string(name) + "\"");
        }
    }
    return limits;
}

JournalLimits LoadJournalLimits(const JournalPlace& place) {
    // Never waits on a FIFO put in its place: every run that writes reads it.
    UniqueFd fd(::open(place.ConfigFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        throw Error("Cannot read \"" + place.ConfigFile + "\". " + ErrnoText(errno));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        throw Error("Cannot read \"" + place.ConfigFile + "\". It is not a regular file");
    std::string text;
    if (!ReadAll(fd.get(), text))
        throw Error("Cannot read \"" + place.ConfigFile + "\". " + ErrnoText(errno));
    return ParseJournalLimits(text, place.ConfigFile);
}

std::string ByteCountText(std::int64_t bytes) {
    static constexpr const char* kSuffixes[] = {"T", "G", "M", "K"};
    int shift = 40;
    for (const char* suffix : kSuffixes) {
        if (bytes > 0 && bytes % (std::int64_t{1} << shift) == 0)
            return std::to_string(bytes >> shift) + suffix;
        shift -= 10;
    }
    return std::to_string(bytes) + " bytes";
}

} // namespace quillet::engine
