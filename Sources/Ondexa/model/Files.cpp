#include "Files.h"

#include "OndexaError.h"
#include "Uuid.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace ondexa {

namespace {

std::string systemDetail(int error)
{
    return std::generic_category().message(error);
}

// Closes the descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
    int release()
    {
        const int result = ::close(fd);
        fd = -1;
        return result;
    }
};

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

} // namespace

std::string readFile(const std::filesystem::path& path)
{
    const auto fail = [&](int error) {
        return OndexaError("A fájl nem olvasható: " + path.string() + " (" + systemDetail(error) + ").");
    };
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) throw fail(errno);
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            throw fail(errno);
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    const auto fail = [&](int error) {
        return OndexaError("A fájl nem írható: " + path.string() + " (" + systemDetail(error) + ").");
    };

    // Made like mkstemp (exclusive creation under a random name), but with
    // mode 0666 so that the umask, not 0600, decides who may read the file.
    // The name is shortened so that a long file name still leaves room for
    // the suffix within the system's limit of 255 bytes.
    const std::string base = "." + path.filename().string().substr(0, 200) + ".";
    std::filesystem::path temporary;
    Descriptor file;
    for (int attempt = 0; file.fd < 0; ++attempt) {
        temporary = folder / (base + Uuid::random().string().substr(0, 8) + ".tmp");
        file.fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file.fd < 0 && (errno != EEXIST || attempt == 100)) throw fail(errno);
    }

    int error = 0;
    if (!writeAll(file.fd, bytes) || ::fsync(file.fd) != 0) error = errno;
    if (file.release() != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        throw fail(error);
    }

    // Make the rename itself durable; the file is in place either way.
    Descriptor directory{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (directory.fd >= 0) ::fsync(directory.fd);
}

bool entryExists(const std::filesystem::path& path)
{
    std::error_code error;
    const auto type = std::filesystem::symlink_status(path, error).type();
    return type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::none;
}

} // namespace ondexa
