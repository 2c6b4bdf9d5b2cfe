#include "engine/keep/run_keepers.h"

#include "core/text_ops.h"
#include "engine/run/run.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

namespace {

// Points the journal's place at a temporary directory for one test.
class StateHome {
public:
    explicit StateHome(const TempDir& dir) {
        for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME"}) {
            const char* old = std::getenv(name);
            m_saved.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
            setenv(name, dir.file(std::string("home/") + name).c_str(), 1);
        }
    }
    ~StateHome() {
        for (const auto& [name, value] : m_saved) {
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
    }
    StateHome(const StateHome&) = delete;
    StateHome& operator=(const StateHome&) = delete;

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> m_saved;
};

} // namespace

TEST(RunKeepers, OnlyARunThatWritesKeepsAnything) {
    const struct {
        std::uint8_t operation;
        bool dryRun;
        bool writes;
    } cases[] = {{quillet::core::OpOnlySearch, false, false},
                 {quillet::core::OpReplaceText, true, false},
                 {quillet::core::OpReplaceText, false, true},
                 {quillet::core::OpStripWordHtml, false, true}};
    for (const auto& c : cases)
        EXPECT_EQ(RunWrites(c.operation, c.dryRun), c.writes) << int(c.operation) << " dry " << c.dryRun;
}

// The one policy, run on one file: what it keeps and where.
TEST(RunKeepers, KeepsTheJournalAndTheBackupsAskedFor) {
    const struct {
        bool writes;
        bool journal;
        std::optional<std::string> suffix;
        bool journaled;
        bool backup;
    } cases[] = {
        {false, true, ".bak", false, false},     {true, false, std::nullopt, false, false},
        {true, true, std::nullopt, true, false}, {true, false, ".orig", false, true},
        {true, true, ".bak", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "writes " << c.writes << " journal " << c.journal << " suffix "
                                        << c.suffix.value_or("(none)"));
        TempDir dir;
        const StateHome home(dir);
        const std::string file = dir.write("a.txt", "old word");
        RunKeepersOptions options;
        options.Writes = c.writes;
        options.Journal = c.journal;
        options.Description = "test run";
        options.BackupSuffix = c.suffix;
        RunKeepers keepers(options);
        EXPECT_EQ(keepers.hooks() != nullptr, c.journaled || c.backup);

        RunRequest request;
        request.Entries = {file};
        request.Param.Operation = quillet::core::OpReplaceText;
        request.Param.SearchPattern = "old";
        request.Param.NewText = "new";
        request.Hooks = keepers.hooks();
        ExecuteRun(request, RunEvents{});
        keepers.finish();

        EXPECT_EQ(readFile(file), "new word");
        EXPECT_EQ(keepers.journaled(), c.journaled);
        EXPECT_EQ(keepers.journaledFiles(), c.journaled ? 1u : 0u);
        EXPECT_EQ(keepers.journalId().empty(), !c.journaled);
        const bool runsKept = std::filesystem::exists(dir.file("home/XDG_STATE_HOME/quillet/runs"));
        EXPECT_EQ(runsKept, c.journaled);
        if (c.backup) {
            EXPECT_EQ(readFile(file + *c.suffix), "old word");
        }
        EXPECT_EQ(keepers.keepsBackups(), c.backup);
    }
}
