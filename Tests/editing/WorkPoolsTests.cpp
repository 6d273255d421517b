// Background work on its pools: decoding that keeps every thread of its pool
// busy holds up neither a save nor a file being opened, several chains of one
// pool take turns, and decoding runs below normal priority.

#include "EditingFixtures.h"
#include "rendering/GuiTestApplication.h"

#include "Ondexa/editing/DocumentWriter.h"
#include "Ondexa/editing/JobChain.h"
#include "Ondexa/editing/WorkPools.h"
#include "Platform/core/ThreadPriority.h"
#include "support/TempFolder.h"

#include <QThreadPool>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <thread>

using namespace ondexa;
using namespace ondexa::testing;

namespace {

// Two threads a pool, as on a machine of two cores; restored afterwards.
class TwoThreads : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (WorkPool pool : {WorkPool::general, WorkPool::decoding, WorkPool::files}) {
            kept.push_back(workPool(pool).maxThreadCount());
            workPool(pool).setMaxThreadCount(2);
        }
    }
    void TearDown() override
    {
        release.set_value();
        waitForBackgroundWork();
        int i = 0;
        for (WorkPool pool : {WorkPool::general, WorkPool::decoding, WorkPool::files})
            workPool(pool).setMaxThreadCount(kept[std::size_t(i++)]);
    }
    // A decoding job that holds its thread until the test ends.
    std::function<void()> held()
    {
        return [this, released = released] {
            ++holding;
            released.wait();
        };
    }

    std::vector<int> kept;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> holding = 0;
    QObject receiver;
};

TEST_F(TwoThreads, SavesAndOpeningDoNotWaitBehindDecoding)
{
    // Two editors' filmstrips, hundreds of batches each, on every decoding thread.
    JobChain first(JobChain::Drop::queued, WorkPool::decoding);
    JobChain second(JobChain::Drop::queued, WorkPool::decoding);
    for (int batch = 0; batch < 200; ++batch) {
        first.run(held());
        second.run(held());
    }
    ASSERT_TRUE(runUntil([&] { return holding == 2; }));

    TempFolder folder;
    const auto writer = DocumentWriter::of(folder.path / "rec.ondexa.json");
    auto written = std::make_shared<std::atomic<bool>>(false);
    writer->save([written] { *written = true; });
    bool saved = false;
    writer->whenDone(&receiver, [&] { saved = true; });
    JobChain opening;
    bool opened = false;
    opening.run<int>(&receiver, [] { return 1; }, [&](int) { opened = true; });

    EXPECT_TRUE(runUntil([&] { return saved && opened; }, std::chrono::seconds(20)));
    EXPECT_TRUE(*written);
    EXPECT_EQ(holding, 2);  // the decoding still waits
}

TEST_F(TwoThreads, ChainsOfOnePoolTakeTurns)
{
    // One long queue on each thread, and a third chain that comes later.
    auto done = std::make_shared<std::atomic<int>>(0);
    JobChain first(JobChain::Drop::queued, WorkPool::decoding);
    JobChain second(JobChain::Drop::queued, WorkPool::decoding);
    const auto step = [done] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++*done;
    };
    for (int batch = 0; batch < 300; ++batch) {
        first.run(step);
        second.run(step);
    }
    JobChain later(JobChain::Drop::queued, WorkPool::decoding);
    bool peaks = false;
    later.run<int>(&receiver, [] { return 1; }, [&](int) { peaks = true; });
    ASSERT_TRUE(runUntil([&] { return peaks; }));
    // It had its turn among the others' jobs, not after one queue's end.
    EXPECT_LT(*done, 300);
}

TEST(WorkPools, DecodingRunsBelowNormalPriority)
{
    QObject receiver;
    std::optional<int> decoding, general;
    JobChain peaks(JobChain::Drop::queued, WorkPool::decoding);
    JobChain sources;
    peaks.run<int>(&receiver, [] { return platform::threadNiceness(); }, [&](int nice) { decoding = nice; });
    sources.run<int>(&receiver, [] { return platform::threadNiceness(); }, [&](int nice) { general = nice; });
    ASSERT_TRUE(runUntil([&] { return decoding && general; }));
    EXPECT_GE(*decoding, platform::backgroundNiceness);
    EXPECT_EQ(*general, platform::threadNiceness());  // as the thread that started the work
}

} // namespace
