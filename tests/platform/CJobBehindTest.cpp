// The job runner the batch downloader checks its files on: one thread, kept from the first job to the end.

#include "platform/CJobBehind.h"
#include "platform/CUniqueHandle.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace
{

// Many jobs, a few of them slow: Run then both waits for a job still running and hands over to a thread that may
// not be back at its wait yet.
TEST(CJobBehindTest, JobsRunInTheirOrderOnOneThreadThatEndsWithTheObject)
{
    constexpr int kJobs = 300;
    std::vector<int> done; // written by the jobs only, read once they are waited for
    std::set<DWORD> threads;
    CHandle worker;
    {
        CJobBehind jobs;
        for (int i = 0; i < kJobs; ++i)
            jobs.Run([&, i] {
                if (i == 0)
                    worker.Reset(::OpenThread(SYNCHRONIZE, FALSE, ::GetCurrentThreadId()));
                threads.insert(::GetCurrentThreadId());
                if (i % 30 == 0)
                    ::Sleep(2);
                done.push_back(i);
            });
        jobs.Wait();
        ASSERT_EQ(done.size(), static_cast<size_t>(kJobs));
        jobs.Run([&] {
            ::Sleep(20);
            done.push_back(kJobs);
        });
    }
    ASSERT_EQ(done.size(), static_cast<size_t>(kJobs + 1)) << "the destructor did not wait for the last job";
    for (int i = 0; i <= kJobs; ++i)
        EXPECT_EQ(done[i], i);
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), ::GetCurrentThreadId());
    ASSERT_TRUE(worker);
    EXPECT_EQ(::WaitForSingleObject(worker.Get(), 0), WAIT_OBJECT_0) << "the thread outlived its object";
}

} // namespace
