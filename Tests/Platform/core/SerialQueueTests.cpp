#include "Platform/core/HostClock.h"
#include "Platform/core/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using platform::SerialQueue;

TEST(SerialQueue, RunsJobsInOrderOnItsOwnThreadAndDrainsOnDestruction)
{
    std::vector<int> order;  // touched only on the queue's thread until it is joined
    std::atomic<bool> onQueue{true};
    {
        SerialQueue queue("test.queue");
        for (int i = 0; i < 100; ++i)
            queue.async([&, i] {
                order.push_back(i);
                if (!queue.isCurrent()) onQueue = false;
            });
        EXPECT_FALSE(queue.isCurrent());
        int seen = -1;
        queue.sync([&] { seen = int(order.size()); });
        EXPECT_EQ(seen, 100);
        for (int i = 100; i < 200; ++i) queue.async([&, i] { order.push_back(i); });
    }
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(onQueue);
}

TEST(HostClock, IsMonotonic)
{
    const auto a = platform::HostClock::nowNanoseconds();
    const auto b = platform::HostClock::nowNanoseconds();
    EXPECT_LE(a, b);
    EXPECT_GT(a, 0);
}
