// Test helpers: a fresh temporary directory per test, whole-file read and
// write for setting up and checking trees.
#pragma once

#include <filesystem>
#include <string>

namespace quillet::testutil {

// Creates a fresh directory under $TMPDIR (or /tmp); removes it, whatever it
// holds, when destroyed (write bits are restored first).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // path() / relative, as a string.
    std::string file(const std::string& relative) const;
    // Writes content to path() / relative, creating parent directories.
    std::string write(const std::string& relative, const std::string& content) const;

private:
    std::filesystem::path m_path;
};

std::string readFile(const std::filesystem::path& path);

} // namespace quillet::testutil
