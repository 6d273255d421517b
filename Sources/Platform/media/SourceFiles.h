#pragma once

#include <filesystem>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace platform {

namespace readsupport {
class SharedDemuxer;
}

class Asset;

// The files that the readers of one composition read, each opened once: the
// readers of every stream used from one file (screen and camera pictures on
// one thread, its sound on another) take their packets from one demuxer, each
// at its own position. Readers made without one open the file themselves.
// Thread-safe; a file closes when its last reader goes.
class SourceFiles {
public:
    SourceFiles();
    ~SourceFiles();
    SourceFiles(const SourceFiles&) = delete;
    SourceFiles& operator=(const SourceFiles&) = delete;

    // Internal to the readers: the demuxer of `asset`'s file, opened on first
    // use. Throws MediaError.
    std::shared_ptr<readsupport::SharedDemuxer> demuxer(const Asset& asset);

private:
    struct File {
        std::weak_ptr<readsupport::SharedDemuxer> demuxer;
        bool opening = false;  // a thread opens it now; the others wait for it
    };

    std::mutex mutex_;
    std::condition_variable opened_;
    std::map<std::string, File> open_;  // by asset identity; guarded by mutex_
};

} // namespace platform
