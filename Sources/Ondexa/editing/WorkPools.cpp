#include "Ondexa/editing/WorkPools.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

#include <algorithm>

namespace ondexa {

namespace {

// Several documents may write at once; one copying a large medium must not
// hold up the autosave of another.
constexpr int kFileThreads = 4;

struct Pools {
    QThreadPool decoding;
    QThreadPool files;

    Pools()
    {
        files.setMaxThreadCount(std::max(kFileThreads, QThread::idealThreadCount()));
        // Like Qt's own pool: what runs when the application ends is waited
        // for, so that no write is cut off.
        qAddPostRoutine([] {
            shared().files.waitForDone();
            shared().decoding.waitForDone();
        });
    }

    static Pools& shared()
    {
        // Never destroyed: jobs may still end while the program exits.
        static Pools* pools = new Pools;
        return *pools;
    }
};

} // namespace

QThreadPool& workPool(WorkPool pool)
{
    switch (pool) {
    case WorkPool::decoding: return Pools::shared().decoding;
    case WorkPool::files: return Pools::shared().files;
    case WorkPool::general: break;
    }
    return *QThreadPool::globalInstance();
}

void waitForBackgroundWork()
{
    // Jobs queue further work only through the main thread, which waits here.
    for (WorkPool pool : {WorkPool::files, WorkPool::general, WorkPool::decoding}) workPool(pool).waitForDone();
}

} // namespace ondexa
