#include "engine/fs/rewrite.h"
#include "engine/run/ordered_pipeline.h"

#include "testutil/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace quillet::engine;
using quillet::testutil::TempDir;

// With its only worker held up, the pipeline must still hand over every file,
// in order: the calling thread prepares the batches itself instead of waiting.
// The worker is let go then, or after a long while, so that a pipeline that
// waits fails the test instead of hanging it.
TEST(OrderedPipeline, FilesComeInOrderWhileTheOnlyWorkerIsBusy) {
    TempDir dir;
    constexpr int kFiles = 200; // several batches
    for (int i = 0; i < kFiles; ++i)
        dir.write("f" + std::to_string(i), i % 3 == 0 ? "a needle" : "hay");
    FileOperation operation;
    operation.SearchPattern = "needle";

    OrderedPipeline pipeline(operation, 1, 1024);
    ASSERT_EQ(pipeline.workers(), 1u);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> workerHeld{false};
    pipeline.assist([released, &workerHeld] {
        workerHeld = true;
        released.wait();
    });
    std::promise<void> taken;
    std::thread watchdog([&release, done = taken.get_future()] {
        done.wait_for(std::chrono::seconds(20));
        release.set_value();
    });
    // The first full batch wakes the worker, which takes the task above
    // before any batch.
    for (int i = 0; i < kFiles; ++i)
        pipeline.submit(FileLocation::atPath(dir.file("f" + std::to_string(i))));
    while (!workerHeld && released.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        std::this_thread::yield();
    std::vector<bool> matched;
    for (int i = 0; i < kFiles; ++i)
        matched.push_back(pipeline.takeOldest().Matched);
    const bool tookAll = released.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
    taken.set_value();
    watchdog.join(); // the worker is let go, and the pipeline can close

    ASSERT_TRUE(workerHeld);
    EXPECT_TRUE(tookAll) << "the calling thread waited for the held worker";
    for (std::size_t i = 0; i < matched.size(); ++i)
        EXPECT_EQ(matched[i], i % 3 == 0) << i;
}

// Broken preconditions stop the test and sanitizer builds where they break,
// rather than as a null dereference or a lost error somewhere later.
TEST(OrderedPipeline, BrokenPreconditionsAbortWithTheirMeaning) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        const char* what;
        void (*call)();
    } cases[] = {
        {"takeOldest\\(\\) with a file in flight",
         [] {
             OrderedPipeline pipeline(FileOperation{}, 1, 4);
             pipeline.takeOldest();
         }},
        {"finish\\(\\) once", [] { StagedRewrite().finish(); }},
        {"announce\\(\\) of a rewrite that is staged", [] { StagedRewrite().announce(nullptr); }},
    };
    for (const auto& c : cases)
        EXPECT_DEATH(c.call(), c.what) << c.what;
}
