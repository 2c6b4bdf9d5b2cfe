// The hash of a changed file's text that a run notes as it reads the file
// (RunEvents::ChangedNeedsTextHash): that of the very text OnChanged gives,
// whichever thread read it, and none unless asked.
#include "engine/run/run.h"
#include "engine/run/text_hash.h"

#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillet;
using namespace quillet::engine;
using quillet::testutil::TempDir;

namespace {

struct HashCase {
    int threads;
    bool dryRun;
    bool asked;
};

class ChangedTextHash : public ::testing::TestWithParam<HashCase> {};

TEST_P(ChangedTextHash, IsThatOfTheTextGiven) {
    const HashCase c = GetParam();
    TempDir dir;
    RunRequest request;
    request.Threads = c.threads;
    // Enough files that workers read some ahead; a UTF-16 one, whose text is
    // its decoded form; files that do not change.
    for (int i = 0; i < 40; ++i)
        request.Entries.push_back(dir.write("f" + std::to_string(i) + ".txt",
                                            i % 3 == 0 ? "nothing here\n" : "a foo " + std::to_string(i) + "\n"));
    request.Entries.push_back(dir.write("wide.txt", std::string("\xFF\xFE"
                                                                "f\0o\0o\0\n\0",
                                                                10)));
    request.Param.SearchPattern = "foo";
    request.Param.NewText = "bar";
    request.Param.DryRun = c.dryRun;
    RunEvents events;
    events.ChangedNeedsTextHash = c.asked;
    int changed = 0;
    events.OnChanged = [&](const std::string& path, std::string_view oldText, std::string_view,
                           const std::vector<core::KeptStretch>*, std::int64_t, std::uint64_t textHash) {
        ++changed;
        EXPECT_EQ(textHash, c.asked ? HashText(oldText) : 0) << path;
    };
    ExecuteRun(request, events);
    EXPECT_EQ(changed, 27);
}

INSTANTIATE_TEST_SUITE_P(Runs, ChangedTextHash,
                         ::testing::Values(HashCase{1, true, true}, HashCase{3, true, true}, HashCase{3, false, true},
                                           HashCase{3, true, false}, HashCase{1, false, false}));

} // namespace
