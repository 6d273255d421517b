#include "Files.h"

#include "OndexaError.h"
#include "Uuid.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>
#include <system_error>
#include <tuple>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ondexa {

namespace {

constexpr std::string_view temporarySuffix = ".vdltmp";
constexpr std::size_t temporaryDigits = 16;

std::string systemDetail(int error)
{
    return std::generic_category().message(error);
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Temporary files this process is writing at the moment, by folder and
// name: a write into the same folder on another thread must not take them
// for litter. Both guarded by inFlightLock.
std::mutex inFlightLock;
std::set<std::tuple<dev_t, ino_t, std::string>> inFlight;

std::tuple<dev_t, ino_t, std::string> entryKey(int folder, std::string name)
{
    struct stat info {};
    ::fstat(folder, &info);
    return {info.st_dev, info.st_ino, std::move(name)};
}

// A new temporary file for a name in the folder, created exclusively and
// never through a link. Removed again at the end unless kept (renamed).
class TemporaryFile {
public:
    TemporaryFile(int folder, std::string_view name, mode_t mode) : folder_(folder)
    {
        for (int attempt = 0;; ++attempt) {
            key_ = entryKey(folder, temporaryName(name));
            // Known before it exists, so that no cleanup ever sees it unknown.
            {
                const std::lock_guard lock(inFlightLock);
                inFlight.insert(key_);
            }
            const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
            file.fd = ::openat(folder, this->name().c_str(), flags, mode);
            if (file.fd >= 0) return;
            error = errno;
            forget();
            if (error != EEXIST || attempt == 100) return;
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (file.fd < 0 && error != 0) return;  // never created
        if (!kept_) ::unlinkat(folder_, name().c_str(), 0);
        forget();
    }

    const std::string& name() const { return std::get<2>(key_); }
    void keep() { kept_ = true; }

    FileDescriptor file;
    int error = 0;  // why the file could not be made

private:
    void forget()
    {
        const std::lock_guard lock(inFlightLock);
        inFlight.erase(key_);
    }

    int folder_;
    std::tuple<dev_t, ino_t, std::string> key_;
    bool kept_ = false;
};

// Copies everything from `in` to `out`; the kernel's copy where it can
// (which may share blocks on filesystems that allow it), else through a buffer.
bool copyContent(int in, int out)
{
    bool nothingCopied = true;
    for (;;) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (copied == 0) return true;
        if (copied > 0) {
            nothingCopied = false;  // once started, a fallback would lose the offsets
            continue;
        }
        if (errno == EINTR) continue;
        const bool unsupported = errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
        if (!(unsupported && nothingCopied)) return false;
        break;
    }
    std::string buffer(1 << 20, '\0');
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!writeAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) return false;
    }
}

// Renames without replacing anything: EEXIST when something stands at `to`.
int renameWithoutReplacing(int folder, const std::string& from, const std::string& to)
{
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    // Filesystems without the flag: look first, then rename.
    struct stat standing {};
    if (::fstatat(folder, to.c_str(), &standing, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? 0 : errno;
}

} // namespace

std::string readFile(const std::filesystem::path& path, std::uintmax_t limit)
{
    const auto fail = [&](int error) {
        return OndexaError("A fájl nem olvasható: " + path.string() + " (" + systemDetail(error) + ").");
    };
    const auto notRegular = [&] {
        return OndexaError("A fájl nem olvasható, mert nem szabályos fájl: " + path.string() + ".");
    };
    const auto tooBig = [&] { return OndexaError("A fájl túl nagy, nem olvasható be: " + path.string() + "."); };

    // Looked at before opening: opening a device may do something by itself.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) throw notRegular();
    // Without O_NONBLOCK, opening a pipe waits for a writer that may never come.
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) throw fail(errno);
    if (::fstat(file.fd, &info) != 0) throw fail(errno);
    if (!S_ISREG(info.st_mode)) throw notRegular();  // put there after the first look
    if (static_cast<std::uintmax_t>(info.st_size) > limit) throw tooBig();
    ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);

    // The size may be wrong (files of /proc say 0) or grow while we read:
    // the limit holds for what is read, too.
    std::string content;
    content.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const std::uintmax_t room = limit + 1 - content.size();
        const ssize_t got = ::read(file.fd, buffer, std::min<std::uintmax_t>(sizeof buffer, room));
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            throw fail(errno);
        }
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > limit) throw tooBig();
    }
    return content;
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    const std::filesystem::path folderPath = path.parent_path().empty() ? "." : path.parent_path();
    const std::string name = path.filename().string();
    const auto fail = [&](int error) {
        return OndexaError("A fájl nem írható: " + path.string() + " (" + systemDetail(error) + ").");
    };

    FileDescriptor folder{::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd < 0) throw fail(errno);
    removeTemporaryFiles(folder.fd);

    // Made like mkstemp (exclusive creation under a random name), but with
    // mode 0666 so that the umask, not 0600, decides who may read the file.
    TemporaryFile temporary(folder.fd, name, 0666);
    if (temporary.file.fd < 0) throw fail(temporary.error);

    int error = 0;
    if (!writeAll(temporary.file.fd, bytes) || ::fsync(temporary.file.fd) != 0) error = errno;
    if (temporary.file.close() != 0 && error == 0) error = errno;
    if (error == 0 && ::renameat(folder.fd, temporary.name().c_str(), folder.fd, name.c_str()) != 0) error = errno;
    if (error != 0) throw fail(error);
    temporary.keep();

    // Make the rename itself durable; the file is in place either way.
    ::fsync(folder.fd);
}

TemporaryPath::TemporaryPath(const std::filesystem::path& file)
{
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    const std::string name = temporaryName(file.filename().string());
    path_ = file.has_parent_path() ? folder / name : std::filesystem::path(name);
    struct stat info {};
    ::stat(folder.c_str(), &info);  // a folder that is not there holds no file to protect
    device_ = info.st_dev;
    inode_ = info.st_ino;
    const std::lock_guard lock(inFlightLock);
    inFlight.emplace(dev_t(device_), ino_t(inode_), name);
}

TemporaryPath::~TemporaryPath()
{
    const std::lock_guard lock(inFlightLock);
    inFlight.erase({dev_t(device_), ino_t(inode_), path_.filename().string()});
}

FileDescriptor::~FileDescriptor()
{
    if (fd >= 0) ::close(fd);
}

int FileDescriptor::close()
{
    const int result = ::close(fd);
    fd = -1;
    return result;
}

bool entryExists(const std::filesystem::path& path)
{
    std::error_code error;
    const auto type = std::filesystem::symlink_status(path, error).type();
    return type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::none;
}

std::string temporaryName(std::string_view name)
{
    // The name is shortened so that a long file name still leaves room for
    // the rest within the system's limit of 255 bytes.
    static constexpr char digits[] = "0123456789abcdef";
    std::string result;
    result.reserve(1 + 200 + 1 + temporaryDigits + temporarySuffix.size());
    result += '.';
    result += name.substr(0, 200);
    result += '.';
    const auto bytes = Uuid::random().bytes();
    for (std::size_t i = 0; i < temporaryDigits / 2; ++i) {
        result += digits[bytes[i] >> 4];
        result += digits[bytes[i] & 15];
    }
    return result += temporarySuffix;
}

bool isTemporaryName(std::string_view name)
{
    // ".", at least one character of the name, ".", the digits, the suffix.
    const std::size_t tail = 1 + temporaryDigits + temporarySuffix.size();
    if (name.size() < 2 + tail || name.front() != '.' || !name.ends_with(temporarySuffix)) return false;
    const std::string_view hex = name.substr(name.size() - temporarySuffix.size() - temporaryDigits, temporaryDigits);
    return name[name.size() - tail] == '.'
        && hex.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

void removeTemporaryFiles(int folder)
{
    const int listing = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (listing < 0) return;
    DIR* directory = ::fdopendir(listing);
    if (!directory) {
        ::close(listing);
        return;
    }
    ::rewinddir(directory);  // the duplicate shares its position with the original
    auto key = entryKey(folder, {});
    while (const dirent* entry = ::readdir(directory)) {
        if (!isTemporaryName(entry->d_name)) continue;
        std::get<2>(key) = entry->d_name;
        {
            const std::lock_guard lock(inFlightLock);
            if (inFlight.contains(key)) continue;  // being written right now
        }
        struct stat info {};
        if (::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(directory);
}

std::string copyFileInto(const std::filesystem::path& source, int folder,
                         const std::function<std::string(int)>& name)
{
    const auto fail = [](int error) { return std::system_error(error, std::generic_category()); };

    FileDescriptor in{::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (in.fd < 0) throw fail(errno);
    struct stat info {};
    if (::fstat(in.fd, &info) != 0) throw fail(errno);
    if (!S_ISREG(info.st_mode)) throw fail(EINVAL);
    ::fcntl(in.fd, F_SETFL, ::fcntl(in.fd, F_GETFL) & ~O_NONBLOCK);

    const std::string first = name(1);
    TemporaryFile temporary(folder, first, info.st_mode & 0777);
    if (temporary.file.fd < 0) throw fail(temporary.error);

    int error = 0;
    if (!copyContent(in.fd, temporary.file.fd) || ::fsync(temporary.file.fd) != 0) error = errno;
    if (temporary.file.close() != 0 && error == 0) error = errno;
    for (int n = 1; error == 0; ++n) {
        const std::string target = n == 1 ? first : name(n);
        error = renameWithoutReplacing(folder, temporary.name(), target);
        if (error == 0) {
            temporary.keep();
            return target;
        }
        if (error == EEXIST) error = 0;
    }
    throw fail(error);
}

} // namespace ondexa
