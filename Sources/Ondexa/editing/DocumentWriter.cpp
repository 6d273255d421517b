#include "Ondexa/editing/DocumentWriter.h"
#include "Platform/core/HandOff.h"
#include "Ondexa/editing/WorkPools.h"

#include <QThreadPool>

#include <map>
#include <string>

namespace ondexa {

namespace fs = std::filesystem;

namespace {

// The file's identity: absolute, links and ".." resolved as far as the
// path exists, without a trailing slash.
std::string identity(const fs::path& document)
{
    std::error_code error;
    fs::path path = fs::absolute(document, error);
    if (error) path = document;
    fs::path resolved = fs::weakly_canonical(path, error);
    if (error) resolved = path.lexically_normal();
    std::string key = resolved.string();
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
}

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<DocumentWriter>> writers;  // guarded by mutex
};

Registry& registry()
{
    // Never destroyed: pool threads may still end writes while the program exits.
    static Registry* shared = new Registry;
    return *shared;
}

} // namespace

std::shared_ptr<DocumentWriter> DocumentWriter::of(const fs::path& document)
{
    const std::string key = identity(document);
    Registry& shared = registry();
    std::lock_guard lock(shared.mutex);
    std::erase_if(shared.writers, [](const auto& entry) { return entry.second.expired(); });
    std::weak_ptr<DocumentWriter>& slot = shared.writers[key];
    if (auto writer = slot.lock()) return writer;
    auto writer = std::make_shared<DocumentWriter>();
    slot = writer;
    return writer;
}

void DocumentWriter::save(std::function<void()> write)
{
    enqueue(Job{std::move(write), true});
}

void DocumentWriter::run(std::function<void()> job)
{
    enqueue(Job{std::move(job), false});
}

void DocumentWriter::whenDone(QObject* receiver, std::function<void()> done)
{
    run<bool>(receiver, [] { return true; }, [done = std::move(done)](bool) {
        if (done) done();
    });
}

void DocumentWriter::enqueue(Job job)
{
    Job replaced;  // let go outside the lock: its captures may be large
    {
        std::lock_guard lock(mutex_);
        if (job.stateWrite && !jobs_.empty() && jobs_.back().stateWrite) {
            replaced = std::exchange(jobs_.back(), std::move(job));
        } else {
            jobs_.push_back(std::move(job));
        }
        if (running_) return;
        running_ = true;
    }
    // The task holds the writer: it stays the file's one writer until its
    // last job has ended.
    workPool(WorkPool::files).start(platform::handedOver([self = shared_from_this()] { self->drain(); }));
}

void DocumentWriter::drain()
{
    for (;;) {
        Job job;
        {
            std::lock_guard lock(mutex_);
            if (jobs_.empty()) {
                running_ = false;
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job.work();
    }
}

} // namespace ondexa
