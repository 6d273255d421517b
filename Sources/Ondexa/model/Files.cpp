#include "Files.h"

#include "OndexaError.h"
#include "Uuid.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <tuple>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ondexa {

namespace {

constexpr std::string_view temporarySuffix = ".vdltmp";
constexpr std::size_t temporaryDigits = 16;
constexpr std::size_t hostDigits = 12;
// Past this age without a write, a temporary file is litter whoever made it:
// the owner may be alive on another machine sharing the folder, or a new
// process may have been given a dead writer's id.
constexpr std::time_t abandonedAfter = 60 * 60;

constexpr char hexDigits[] = "0123456789abcdef";

bool isHex(std::string_view text, std::size_t length)
{
    return text.size() == length && text.find_first_not_of(hexDigits) == std::string_view::npos;
}

// Says which running system a writer's process id belongs to: the boot and
// the process-id namespace (a sandboxed program sharing the folder counts its
// processes apart from ours). Where either can't be read, a random value: our
// ids are then never judged by anyone else, only by age.
const std::string& hostToken()
{
    static const std::string token = [] {
        std::string identity;
        char boot[64] = {};
        if (FILE* file = std::fopen("/proc/sys/kernel/random/boot_id", "re")) {
            if (std::fgets(boot, sizeof boot, file)) identity = boot;
            std::fclose(file);
        }
        char space[64] = {};
        const ssize_t length = ::readlink("/proc/self/ns/pid", space, sizeof space - 1);
        if (identity.empty() || length <= 0) identity = Uuid::random().string();
        identity.append(space, length > 0 ? std::size_t(length) : 0);
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (const unsigned char c : identity) hash = (hash ^ c) * 1099511628211ull;
        std::string digits;
        for (std::size_t i = 0; i < hostDigits; ++i) digits += hexDigits[(hash >> (4 * i)) & 15];
        return digits;
    }();
    return token;
}

// The part of a temporary name that says who writes it: "<pid>-<host>".
std::string ownerTag() { return std::to_string(::getpid()) + "-" + hostToken(); }

// What a temporary name says about its writer.
struct TemporaryOwner {
    bool named = false;  // false: the older form, without a writer
    pid_t pid = 0;
    std::string_view host;
};

std::optional<TemporaryOwner> parseTemporaryName(std::string_view name)
{
    if (name.size() < 2 || name.front() != '.' || !name.ends_with(temporarySuffix)) return std::nullopt;
    std::string_view rest = name.substr(1, name.size() - 1 - temporarySuffix.size());
    const auto lastSegment = [&]() -> std::optional<std::string_view> {
        const std::size_t dot = rest.rfind('.');
        if (dot == std::string_view::npos || dot == 0) return std::nullopt;  // the name itself may not be empty
        const std::string_view segment = rest.substr(dot + 1);
        rest = rest.substr(0, dot);
        return segment;
    };
    auto segment = lastSegment();
    if (!segment) return std::nullopt;
    if (isHex(*segment, temporaryDigits)) return TemporaryOwner{};

    // "<pid>-<host>", preceded by the random digits.
    const std::size_t dash = segment->find('-');
    if (dash == std::string_view::npos || !isHex(segment->substr(dash + 1), hostDigits)) return std::nullopt;
    const std::string_view digits = segment->substr(0, dash);
    TemporaryOwner owner{true, 0, segment->substr(dash + 1)};
    const char* end = digits.data() + digits.size();
    const auto parsed = std::from_chars(digits.data(), end, owner.pid);
    if (digits.empty() || digits.front() == '0' || parsed.ec != std::errc{} || parsed.ptr != end) return std::nullopt;
    const auto random = lastSegment();
    if (!random || !isHex(*random, temporaryDigits)) return std::nullopt;
    return owner;
}

// Whether a temporary file may still become someone's file: its writer runs
// on this system and is alive, or it is unknown and the file is fresh.
bool mayBeWritten(const TemporaryOwner& owner, const struct stat& info)
{
    if (!owner.named) return false;  // written by an earlier version, which is gone
    if (std::time(nullptr) - info.st_mtime > abandonedAfter) return false;
    if (owner.host != hostToken()) return true;
    return ::kill(owner.pid, 0) == 0 || errno == EPERM;
}

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
// for litter. Both guarded by inFlightLock. Never destroyed: a write on a
// pool thread may still end while the program exits.
std::mutex& inFlightLock = *new std::mutex;
std::set<std::tuple<dev_t, ino_t, std::string>>& inFlight = *new std::set<std::tuple<dev_t, ino_t, std::string>>;

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

// Calls `visit` with the name of each entry of the folder open at `folder`
// ("." and ".." left out); a folder that can't be listed has none.
void forEachName(int folder, const std::function<void(const char*)>& visit)
{
    const int listing = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (listing < 0) return;
    DIR* directory = ::fdopendir(listing);
    if (!directory) {
        ::close(listing);
        return;
    }
    ::rewinddir(directory);  // the duplicate shares its position with the original
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") visit(entry->d_name);
    }
    ::closedir(directory);
}

// Fills the buffer as far as the file goes; the number of bytes read, or -1.
ssize_t readUpTo(int fd, char* buffer, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        got += std::size_t(n);
    }
    return ssize_t(got);
}

// Both files hold the same bytes from where they are read to their ends.
bool sameContent(int a, int b)
{
    constexpr std::size_t chunk = 1 << 20;
    std::string left(chunk, '\0'), right(chunk, '\0');
    for (;;) {
        const ssize_t l = readUpTo(a, left.data(), chunk), r = readUpTo(b, right.data(), chunk);
        if (l < 0 || r < 0 || l != r) return false;
        if (l == 0) return true;
        if (std::memcmp(left.data(), right.data(), std::size_t(l)) != 0) return false;
    }
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

std::filesystem::path normalisedPath(const std::filesystem::path& path)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    if (error) return path.lexically_normal();
    const auto canonical = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : canonical;
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    const auto first = normalisedPath(a), second = normalisedPath(b);
    if (first == second) return true;
    std::error_code error;
    return std::filesystem::equivalent(first, second, error) && !error;
}

std::string temporaryName(std::string_view name)
{
    // The name is shortened so that a long file name still leaves room for
    // the rest within the system's limit of 255 bytes.
    const std::string owner = ownerTag();
    std::string result;
    result.reserve(1 + 200 + 1 + temporaryDigits + 1 + owner.size() + temporarySuffix.size());
    result += '.';
    result += name.substr(0, 200);
    result += '.';
    const auto bytes = Uuid::random().bytes();
    for (std::size_t i = 0; i < temporaryDigits / 2; ++i) {
        result += hexDigits[bytes[i] >> 4];
        result += hexDigits[bytes[i] & 15];
    }
    result += '.';
    result += owner;
    return result += temporarySuffix;
}

bool isTemporaryName(std::string_view name)
{
    return parseTemporaryName(name).has_value();
}

void removeTemporaryFiles(int folder)
{
    auto key = entryKey(folder, {});
    forEachName(folder, [&](const char* name) {
        const auto owner = parseTemporaryName(name);
        if (!owner) return;
        std::get<2>(key) = name;
        {
            const std::lock_guard lock(inFlightLock);
            if (inFlight.contains(key)) return;  // being written right now
        }
        struct stat info {};
        if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)
            && !mayBeWritten(*owner, info))
            ::unlinkat(folder, name, 0);
    });
}

std::optional<std::string> findSameFile(const std::filesystem::path& source, int folder,
                                        const std::vector<std::string>& first)
{
    FileDescriptor in{::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    struct stat info {};
    if (in.fd < 0 || ::fstat(in.fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    ::fcntl(in.fd, F_SETFL, ::fcntl(in.fd, F_GETFL) & ~O_NONBLOCK);

    std::vector<std::string> names = first;
    std::vector<std::string> others;
    forEachName(folder, [&](const char* name) {
        if (!isTemporaryName(name) && std::find(first.begin(), first.end(), name) == first.end())
            others.emplace_back(name);
    });
    std::sort(others.begin(), others.end());
    names.insert(names.end(), others.begin(), others.end());

    for (const std::string& name : names) {
        struct stat candidate {};
        if (::fstatat(folder, name.c_str(), &candidate, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(candidate.st_mode))
            continue;
        if (candidate.st_dev == info.st_dev && candidate.st_ino == info.st_ino) return name;
        if (candidate.st_size != info.st_size) continue;
        FileDescriptor other{::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
        if (other.fd < 0 || ::fstat(other.fd, &candidate) != 0 || !S_ISREG(candidate.st_mode)) continue;
        ::fcntl(other.fd, F_SETFL, ::fcntl(other.fd, F_GETFL) & ~O_NONBLOCK);
        if (::lseek(in.fd, 0, SEEK_SET) != 0) return std::nullopt;
        if (sameContent(in.fd, other.fd)) return name;
    }
    return std::nullopt;
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
