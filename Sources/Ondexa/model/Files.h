#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondexa {

// No side file or project comes near this; anything bigger was not written by
// us, and reading it whole could take all the memory there is.
constexpr std::uintmax_t largestReadableFile = 256 * 1024 * 1024;

// The whole content of a regular file of at most `limit` bytes. Pipes,
// devices and folders are refused without waiting on them. Throws OndexaError
// naming the file and the reason.
std::string readFile(const std::filesystem::path& path, std::uintmax_t limit = largestReadableFile);

// Replaces the file with the bytes, or leaves the old file as it was: the
// bytes go to a new temporary file in the same folder, which is flushed to
// disk and then renamed over the target. Temporary files that an interrupted
// earlier write left in the folder are removed first. Throws OndexaError on
// failure.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// A temporary name (see temporaryName) beside `file` for a writer that
// fills it by path (an export, say): while this lives, the cleanups of this
// process leave it alone. Nothing is created or removed here.
class TemporaryPath {
public:
    explicit TemporaryPath(const std::filesystem::path& file);
    ~TemporaryPath();
    TemporaryPath(const TemporaryPath&) = delete;
    TemporaryPath& operator=(const TemporaryPath&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::uint64_t device_ = 0;  // of the folder
    std::uint64_t inode_ = 0;
};

// Closes the descriptor when it goes out of scope.
struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int fd = -1) : fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();
    // Closes now and reports close's result.
    int close();
};

// True when anything stands at the path: a file, a folder, a device, even a
// symbolic link that points nowhere.
bool entryExists(const std::filesystem::path& path);

// The path made absolute, with "." and ".." and symbolic links resolved as
// far as it exists.
std::filesystem::path normalisedPath(const std::filesystem::path& path);

// One file under two names: the same path once normalised, or the same file
// on disk (a folder mounted twice, say).
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Our temporary files: ".<name>.<16 hex digits>.<pid>-<12 hex digits>.vdltmp",
// the last part naming the writing process and the running system it belongs
// to. They live only until the write that made them renames them into place.
// Names of the older form ".<name>.<16 hex digits>.vdltmp" count as ours too.
std::string temporaryName(std::string_view name);
bool isTemporaryName(std::string_view name);

// Removes the regular files named like our temporary files from the folder
// open at `folder` (a descriptor) that no living writer can still rename into
// place: those whose process has ended on this system, those of the older
// form, and any not written to for an hour. Files this process is writing
// stay, and so do links and everything else. Failures are ignored: the files
// are only litter.
void removeTemporaryFiles(int folder);

// Copies the regular file at `source` into the folder open at `folder`: first
// to a temporary name (created exclusively, never through a link), synced,
// then renamed to the first of name(1), name(2), … at which nothing stands.
// Returns the name used. A failed copy leaves nothing behind; throws
// std::system_error.
std::string copyFileInto(const std::filesystem::path& source, int folder,
                         const std::function<std::string(int)>& name);

// The name of a regular file in the folder open at `folder` that is the file
// at `source` itself (the same file by identity) or holds the same bytes;
// the names in `first` are tried before the others, which go in name order.
// None when there is no such file or `source` can't be read.
std::optional<std::string> findSameFile(const std::filesystem::path& source, int folder,
                                        const std::vector<std::string>& first = {});

} // namespace ondexa
