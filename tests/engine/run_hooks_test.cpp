// A walk passes over what the run's own hooks made: the journal's folder when
// it lies inside the walked tree, whatever the threads.
#include "engine/journal.h"
#include "engine/run.h"
#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;
using namespace quillet::engine;
using quillet::testutil::readFile;
using quillet::testutil::TempDir;

TEST(RunHooks, AWalkNeverRewritesTheJournalItKeepsInsideTheTree) {
    for (int threads : {1, 4}) {
        TempDir dir;
        dir.write("site/a.txt", "x");
        dir.write("site/sub/b.txt", "x");
        JournalOptions options;
        options.Place.RunsDirectory = dir.file("site/state/runs");
        options.Place.ConfigFile = dir.file("no.conf");
        RunJournal journal(options);

        RunRequest request;
        request.Shape = RunShape::DirectoryWalk;
        request.Directory = dir.file("site");
        request.Mask = "*";
        request.Param.Operation = quillet::core::OpReplaceText;
        request.Param.SearchPattern = "x";
        request.Param.NewText = "y";
        request.Threads = threads;
        request.Hooks = &journal;
        std::set<std::string> handled;
        RunEvents events;
        events.OnResult = [&](const std::string& entry) { handled.insert(entry); };
        EXPECT_EQ(ExecuteRun(request, events), 2) << threads << " threads";
        EXPECT_EQ(handled, (std::set<std::string>{dir.file("site/a.txt"), dir.file("site/sub/b.txt")}));
        EXPECT_EQ(readFile(dir.file("site/a.txt")), "y");
        // The journal keeps the old bytes, untouched by the walk that made them.
        for (const auto& kept : fs::recursive_directory_iterator(dir.file("site/state/runs"))) {
            if (kept.is_regular_file() && kept.path().filename() != "manifest") {
                EXPECT_EQ(readFile(kept.path()), "x") << kept.path();
            }
        }
    }
}
