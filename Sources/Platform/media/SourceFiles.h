#pragma once

#include <filesystem>
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
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<readsupport::SharedDemuxer>> open_;  // by asset identity; guarded by mutex_
};

} // namespace platform
