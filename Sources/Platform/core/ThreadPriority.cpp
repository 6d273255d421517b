#include "Platform/core/ThreadPriority.h"

#include <cerrno>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

// On Linux the nice value belongs to each thread, named by its own id.
id_t threadID()
{
    return id_t(::syscall(SYS_gettid));
}

} // namespace

void lowerThreadPriority()
{
    if (threadNiceness() >= backgroundNiceness) return;
    // Lowering is always allowed; a failure leaves the thread as it was.
    ::setpriority(PRIO_PROCESS, threadID(), backgroundNiceness);
}

int threadNiceness()
{
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, threadID());
    return errno == 0 ? nice : 0;
}

} // namespace platform
