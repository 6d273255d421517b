// A Wayland socket proxy for the test session's screen-cast backend.
//
//   ondexa-wayland-proxy LISTEN_SOCKET COMPOSITOR_SOCKET
//
// It passes every byte and file descriptor between each client and the
// compositor unchanged, with one addition: wlroots' software renderer never
// announces a DMA-BUF format on a screencopy frame, and the portal backend
// gives up on a frame without one. So before each screencopy frame's
// buffer_done event that came without a linux_dmabuf event, the proxy adds one
// naming the shared-memory buffer's format and size. The backend then finds no
// device to allocate DMA-BUFs on and casts through shared memory.
//
// The listening socket appears only once it accepts connections, so its path
// existing means the proxy is ready.

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// Wire format: object id, then size << 16 | opcode, then the arguments, all
// host-endian 32-bit words.
constexpr std::uint32_t displayId = 1;
constexpr std::uint16_t getRegistryRequest = 1;  // wl_display
constexpr std::uint16_t deleteIdEvent = 1;       // wl_display
constexpr std::uint16_t bindRequest = 0;         // wl_registry
constexpr std::uint16_t captureOutputRequest = 0;        // zwlr_screencopy_manager_v1
constexpr std::uint16_t captureOutputRegionRequest = 1;  // zwlr_screencopy_manager_v1
constexpr std::uint16_t bufferEvent = 0;         // zwlr_screencopy_frame_v1
constexpr std::uint16_t linuxDmabufEvent = 5;    // since version 3
constexpr std::uint16_t bufferDoneEvent = 6;     // since version 3
constexpr std::size_t headerSize = 8;
// libwayland takes at most this many descriptors with one read.
constexpr std::size_t maxFdsPerSend = 28;
constexpr std::size_t maxBuffered = 1 << 20;

std::uint32_t fourcc(char a, char b, char c, char d)
{
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 | std::uint32_t(std::uint8_t(c)) << 16
           | std::uint32_t(std::uint8_t(d)) << 24;
}

// wl_shm formats are DRM fourcc codes except for the two oldest.
std::uint32_t drmFormat(std::uint32_t shmFormat)
{
    if (shmFormat == 0) return fourcc('A', 'R', '2', '4');
    if (shmFormat == 1) return fourcc('X', 'R', '2', '4');
    return shmFormat;
}

bool verbose = false;

// One direction of a connection: what came in and has not been parsed into
// whole messages, and what waits to go out.
struct Stream {
    int from = -1;
    int to = -1;
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;
    std::deque<int> fds;  // received, not yet sent; they precede or go with their message's bytes
    bool closed = false;

    ~Stream()
    {
        for (int fd : fds) ::close(fd);
    }
};

struct Frame {
    std::uint32_t format = 0, width = 0, height = 0;
    bool sawBuffer = false, sawDmabuf = false;
};

struct Connection {
    int client = -1, server = -1;
    Stream requests, events;
    std::set<std::uint32_t> registries;
    std::map<std::uint32_t, std::uint32_t> managers;  // id → bound version
    std::map<std::uint32_t, Frame> frames;
    long injected = 0;

    ~Connection()
    {
        if (client >= 0) ::close(client);
        if (server >= 0) ::close(server);
    }
};

std::uint32_t word(const std::uint8_t* p)
{
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

void appendWords(std::vector<std::uint8_t>& out, std::initializer_list<std::uint32_t> words)
{
    for (std::uint32_t w : words) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&w);
        out.insert(out.end(), p, p + 4);
    }
}

void onRequest(Connection& c, const std::uint8_t* m, std::size_t size)
{
    const std::uint32_t object = word(m);
    const std::uint16_t opcode = std::uint16_t(word(m + 4) & 0xffff);
    const std::uint8_t* args = m + headerSize;
    const std::size_t argBytes = size - headerSize;
    if (object == displayId && opcode == getRegistryRequest && argBytes >= 4) {
        c.registries.insert(word(args));
    } else if (c.registries.count(object) && opcode == bindRequest && argBytes >= 8) {
        // name, interface (length with its NUL, then padded text), version, new id
        const std::uint32_t length = word(args + 4);
        const std::size_t padded = (std::size_t(length) + 3) & ~std::size_t(3);
        if (8 + padded + 8 > argBytes || length == 0) return;
        const std::string interface(reinterpret_cast<const char*>(args + 8), length - 1);
        const std::uint32_t version = word(args + 8 + padded);
        const std::uint32_t id = word(args + 8 + padded + 4);
        if (interface == "zwlr_screencopy_manager_v1") {
            c.managers[id] = version;
            if (verbose) std::fprintf(stderr, "proxy: screencopy manager %u, version %u\n", id, version);
        }
    } else if (c.managers.count(object) && (opcode == captureOutputRequest || opcode == captureOutputRegionRequest)
               && argBytes >= 4 && c.managers[object] >= 3) {
        c.frames[word(args)] = Frame{};
    }
}

void onEvent(Connection& c, const std::uint8_t* m, std::size_t size)
{
    const std::uint32_t object = word(m);
    const std::uint16_t opcode = std::uint16_t(word(m + 4) & 0xffff);
    const std::uint8_t* args = m + headerSize;
    const std::size_t argBytes = size - headerSize;
    if (object == displayId && opcode == deleteIdEvent && argBytes >= 4) {
        const std::uint32_t id = word(args);
        c.registries.erase(id);
        c.managers.erase(id);
        c.frames.erase(id);
        return;
    }
    auto frame = c.frames.find(object);
    if (frame == c.frames.end()) return;
    Frame& f = frame->second;
    if (opcode == bufferEvent && argBytes >= 16) {
        f.format = word(args);
        f.width = word(args + 4);
        f.height = word(args + 8);
        f.sawBuffer = true;
        f.sawDmabuf = false;
    } else if (opcode == linuxDmabufEvent) {
        f.sawDmabuf = true;
    } else if (opcode == bufferDoneEvent && f.sawBuffer && !f.sawDmabuf) {
        // Goes out before the buffer_done being handled, which is appended after it.
        appendWords(c.events.out, {object, std::uint32_t(headerSize + 12) << 16 | linuxDmabufEvent, drmFormat(f.format),
                                   f.width, f.height});
        f.sawDmabuf = true;
        if (verbose && c.injected == 0)
            std::fprintf(stderr, "proxy: frame %u: added linux_dmabuf %ux%u\n", object, f.width, f.height);
        ++c.injected;
    }
}

// Moves the whole messages of `s.in` to `s.out`, looking at each.
bool parse(Connection& c, Stream& s, bool requests)
{
    std::size_t at = 0;
    while (s.in.size() - at >= headerSize) {
        const std::size_t size = word(s.in.data() + at + 4) >> 16;
        if (size < headerSize || size % 4) {
            std::fprintf(stderr, "proxy: malformed message of %zu bytes\n", size);
            return false;
        }
        if (s.in.size() - at < size) break;
        const std::uint8_t* m = s.in.data() + at;
        if (requests)
            onRequest(c, m, size);
        else
            onEvent(c, m, size);
        s.out.insert(s.out.end(), m, m + size);
        at += size;
    }
    s.in.erase(s.in.begin(), s.in.begin() + std::ptrdiff_t(at));
    return true;
}

// Reads what is there; false when the sender is gone or broke the protocol.
bool receive(Connection& c, Stream& s, bool requests)
{
    std::uint8_t data[4096];
    union {
        char buffer[CMSG_SPACE(sizeof(int) * 64)];
        cmsghdr align;
    } control;
    iovec iov{data, sizeof data};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.buffer;
    msg.msg_controllen = sizeof control.buffer;
    const ssize_t n = ::recvmsg(s.from, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
        if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(cm) + i * sizeof(int), sizeof fd);
            s.fds.push_back(fd);
        }
    }
    if (msg.msg_flags & MSG_CTRUNC) {
        std::fprintf(stderr, "proxy: too many descriptors in one message\n");
        return false;
    }
    if (n == 0) return false;
    s.in.insert(s.in.end(), data, data + n);
    return parse(c, s, requests);
}

// Writes what the receiver takes; false when it is gone.
bool send(Stream& s)
{
    while (!s.out.empty()) {
        iovec iov{s.out.data(), s.out.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        union {
            char buffer[CMSG_SPACE(sizeof(int) * maxFdsPerSend)];
            cmsghdr align;
        } control;
        const std::size_t count = std::min(s.fds.size(), maxFdsPerSend);
        if (count) {
            msg.msg_control = control.buffer;
            msg.msg_controllen = CMSG_SPACE(sizeof(int) * count);
            cmsghdr* cm = CMSG_FIRSTHDR(&msg);
            cm->cmsg_level = SOL_SOCKET;
            cm->cmsg_type = SCM_RIGHTS;
            cm->cmsg_len = CMSG_LEN(sizeof(int) * count);
            for (std::size_t i = 0; i < count; ++i) std::memcpy(CMSG_DATA(cm) + i * sizeof(int), &s.fds[i], sizeof(int));
        }
        // Descriptors beyond one send's share go with the next bytes.
        if (count < s.fds.size()) iov.iov_len = std::min<std::size_t>(iov.iov_len, 4);
        const ssize_t n = ::sendmsg(s.to, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        for (std::size_t i = 0; i < count; ++i) {
            ::close(s.fds.front());
            s.fds.pop_front();
        }
        s.out.erase(s.out.begin(), s.out.begin() + n);
    }
    return true;
}

int connectTo(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

int listenAt(const std::string& path)
{
    // Bound under a temporary name and renamed once listening: whoever sees
    // the path can connect.
    const std::string temporary = path + ".new";
    if (temporary.size() >= sizeof(sockaddr_un::sun_path)) {
        std::fprintf(stderr, "proxy: socket path too long: %s\n", path.c_str());
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", temporary.c_str());
    ::unlink(temporary.c_str());
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0
        || ::chmod(temporary.c_str(), 0666) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "proxy: cannot listen at %s: %s\n", path.c_str(), std::strerror(errno));
        return -1;
    }
    return fd;
}

volatile std::sig_atomic_t stopping = 0;

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "-v") {
        verbose = true;
        args.erase(args.begin());
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s [-v] LISTEN_SOCKET COMPOSITOR_SOCKET\n", argv[0]);
        return 2;
    }
    const std::string listenPath = args[0], upstream = args[1];
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction stop {};
    stop.sa_handler = [](int) { stopping = 1; };
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    const int listener = listenAt(listenPath);
    if (listener < 0) return 1;
    std::vector<std::unique_ptr<Connection>> connections;

    while (!stopping) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        for (auto& c : connections) {
            // Stop reading a side whose output piles up until the other side drains it.
            const short readClient = c->requests.out.size() < maxBuffered ? POLLIN : 0;
            const short readServer = c->events.out.size() < maxBuffered ? POLLIN : 0;
            fds.push_back({c->client, short(readClient | (c->events.out.empty() ? 0 : POLLOUT)), 0});
            fds.push_back({c->server, short(readServer | (c->requests.out.empty() ? 0 : POLLOUT)), 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("proxy: poll");
            break;
        }
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                auto c = std::make_unique<Connection>();
                c->client = client;
                c->server = connectTo(upstream);
                if (c->server < 0) {
                    std::fprintf(stderr, "proxy: cannot reach the compositor at %s: %s\n", upstream.c_str(),
                                 std::strerror(errno));
                } else {
                    c->requests.from = c->events.to = client;
                    c->requests.to = c->events.from = c->server;
                    if (verbose) std::fprintf(stderr, "proxy: client connected\n");
                    connections.push_back(std::move(c));
                }
            }
        }
        // Only those polled: a connection accepted above has no entry yet.
        const std::size_t polled = (fds.size() - 1) / 2;
        for (std::size_t i = 0; i < polled; ++i) {
            Connection& c = *connections[i];
            const short client = fds[1 + 2 * i].revents, server = fds[2 + 2 * i].revents;
            bool ok = true;
            if (client & (POLLIN | POLLHUP | POLLERR)) ok = receive(c, c.requests, true) && ok;
            if (server & (POLLIN | POLLHUP | POLLERR)) ok = receive(c, c.events, false) && ok;
            ok = send(c.requests) && send(c.events) && ok;
            if (!ok) c.requests.closed = true;
        }
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->requests.closed) {
                if (verbose) std::fprintf(stderr, "proxy: client gone after %ld added events\n", (*it)->injected);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    ::unlink(listenPath.c_str());
    return 0;
}
