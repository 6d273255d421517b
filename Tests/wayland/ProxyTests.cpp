// The test session's Wayland proxy (Tests/support/wayland/WaylandProxy.cpp)
// between a client and a stand-in compositor: it passes requests, events and
// descriptors unchanged, and adds a linux_dmabuf event before each screencopy
// frame's buffer_done that came without one.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Words = std::vector<std::uint32_t>;

// One message: object, opcode, arguments (words).
Words message(std::uint32_t object, std::uint16_t opcode, const Words& args)
{
    Words m{object, std::uint32_t(8 + 4 * args.size()) << 16 | opcode};
    m.insert(m.end(), args.begin(), args.end());
    return m;
}

// A string argument: its length with the NUL, then the padded bytes.
Words text(const std::string& s)
{
    Words w{std::uint32_t(s.size() + 1)};
    std::vector<char> bytes(s.begin(), s.end());
    bytes.resize((s.size() + 4) / 4 * 4, 0);
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        std::uint32_t word;
        std::memcpy(&word, bytes.data() + i, 4);
        w.push_back(word);
    }
    return w;
}

Words join(std::initializer_list<Words> parts)
{
    Words all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

void sendWords(int fd, const Words& words, int passFd = -1)
{
    iovec iov{const_cast<std::uint32_t*>(words.data()), words.size() * 4};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    union {
        char buffer[CMSG_SPACE(sizeof(int))];
        cmsghdr align;
    } control;
    if (passFd >= 0) {
        msg.msg_control = control.buffer;
        msg.msg_controllen = sizeof control.buffer;
        cmsghdr* cm = CMSG_FIRSTHDR(&msg);
        cm->cmsg_level = SOL_SOCKET;
        cm->cmsg_type = SCM_RIGHTS;
        cm->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(cm), &passFd, sizeof(int));
    }
    ASSERT_EQ(::sendmsg(fd, &msg, MSG_NOSIGNAL), ssize_t(iov.iov_len));
}

// Reads `count` words (waiting up to 5 s), collecting descriptors passed along.
Words receiveWords(int fd, std::size_t count, std::vector<int>* fds = nullptr)
{
    Words out;
    std::vector<std::uint8_t> bytes;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (bytes.size() < count * 4 && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        std::uint8_t data[4096];
        union {
            char buffer[CMSG_SPACE(sizeof(int) * 8)];
            cmsghdr align;
        } control;
        iovec iov{data, std::min(sizeof data, count * 4 - bytes.size())};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control.buffer;
        msg.msg_controllen = sizeof control.buffer;
        const ssize_t n = ::recvmsg(fd, &msg, 0);
        if (n <= 0) break;
        for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm))
            for (std::size_t i = 0; i < (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
                int received;
                std::memcpy(&received, CMSG_DATA(cm) + i * sizeof(int), sizeof(int));
                if (fds)
                    fds->push_back(received);
                else
                    ::close(received);
            }
        bytes.insert(bytes.end(), data, data + n);
    }
    out.resize(bytes.size() / 4);
    std::memcpy(out.data(), bytes.data(), out.size() * 4);
    return out;
}

// Nothing more arrives within a short while.
bool quiet(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 200) == 0;
}

sockaddr_un addressOf(const std::string& path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    return a;
}

// A fresh folder (short: socket paths must fit in sun_path).
class Folder {
public:
    Folder()
    {
        char name[] = "/tmp/wlproxy-XXXXXX";
        if (::mkdtemp(name)) path_ = name;
    }
    ~Folder()
    {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The proxy running between a client connection and a stand-in compositor.
class ProxyFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string compositorPath = folder_.path() + "/compositor", proxyPath = folder_.path() + "/proxy";
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un a = addressOf(compositorPath);
        ASSERT_EQ(::bind(listener_, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(listener_, 4), 0);
        proxy_ = ::fork();
        if (proxy_ == 0) {
            ::execl(WAYLAND_PROXY, WAYLAND_PROXY, proxyPath.c_str(), compositorPath.c_str(), nullptr);
            ::_exit(127);
        }
        struct stat s {};
        for (int i = 0; i < 100 && ::stat(proxyPath.c_str(), &s) != 0; ++i) std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(S_ISSOCK(s.st_mode)) << "the proxy does not listen";
        client_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un p = addressOf(proxyPath);
        ASSERT_EQ(::connect(client_, reinterpret_cast<const sockaddr*>(&p), sizeof p), 0);
        compositor_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(compositor_, 0);
    }

    void TearDown() override
    {
        for (int fd : {client_, compositor_, listener_})
            if (fd >= 0) ::close(fd);
        if (proxy_ > 0) {
            ::kill(proxy_, SIGTERM);
            int status = 0;
            ::waitpid(proxy_, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the proxy failed: " << status;
        }
    }

    // The client binds the screencopy manager at `version` as object 3 and
    // asks for frame 5 of output 4; the compositor gets exactly that.
    void captureOneFrame(std::uint32_t version)
    {
        const Words requests = join({message(1, 1, {2}),  // wl_display.get_registry → 2
                                     message(2, 0, join({{7}, text("zwlr_screencopy_manager_v1"), {version, 3}})),
                                     message(3, 0, {5, 0, 4})});  // capture_output(frame 5, no cursor, output 4)
        sendWords(client_, requests);
        EXPECT_EQ(receiveWords(compositor_, requests.size()), requests);
    }

    Folder folder_;
    int listener_ = -1, client_ = -1, compositor_ = -1;
    pid_t proxy_ = -1;
};

constexpr std::uint32_t xrgb8888 = 1;            // wl_shm
constexpr std::uint32_t drmXrgb8888 = 0x34325258;  // 'XR24'

} // namespace

TEST_F(ProxyFixture, announcesTheSharedMemoryFormatAsADmabufFormatBeforeEachFramesBufferDone)
{
    captureOneFrame(3);
    const Words buffer = message(5, 0, {xrgb8888, 1920, 1080, 7680}), done = message(5, 6, {});
    // Split inside a message: the proxy must wait for the whole of it.
    const Words events = join({buffer, done});
    sendWords(compositor_, Words(events.begin(), events.begin() + 3));
    std::this_thread::sleep_for(50ms);
    sendWords(compositor_, Words(events.begin() + 3, events.end()));
    const Words expected = join({buffer, message(5, 5, {drmXrgb8888, 1920, 1080}), done});
    EXPECT_EQ(receiveWords(client_, expected.size()), expected);
    EXPECT_TRUE(quiet(client_));

    // The next frame (a new object, of a region) gets its own, in its format.
    const Words region = message(3, 1, {6, 1, 4, 10, 20, 640, 480});  // capture_output_region
    sendWords(client_, region);
    EXPECT_EQ(receiveWords(compositor_, region.size()), region);
    sendWords(compositor_, join({message(6, 0, {0, 640, 480, 2560}), message(6, 6, {})}));
    const Words second =
        join({message(6, 0, {0, 640, 480, 2560}), message(6, 5, {0x34325241 /* 'AR24' */, 640, 480}), message(6, 6, {})});
    EXPECT_EQ(receiveWords(client_, second.size()), second);
}

TEST_F(ProxyFixture, addsNothingWhereTheCompositorAnnouncedADmabufOrTheObjectIsNoLongerAFrame)
{
    captureOneFrame(3);
    const Words own = join({message(5, 0, {xrgb8888, 64, 64, 256}), message(5, 5, {drmXrgb8888, 64, 64}),
                            message(5, 6, {})});
    sendWords(compositor_, own);
    EXPECT_EQ(receiveWords(client_, own.size()), own);
    EXPECT_TRUE(quiet(client_));

    // wl_display.delete_id frees id 5; the client reuses it for something else.
    const Words reused = join({message(1, 1, {5}), message(5, 0, {xrgb8888, 64, 64, 256}), message(5, 6, {})});
    sendWords(compositor_, reused);
    EXPECT_EQ(receiveWords(client_, reused.size()), reused);
    EXPECT_TRUE(quiet(client_));
}

TEST_F(ProxyFixture, leavesAnOldManagerAloneAndPassesDescriptorsBothWays)
{
    captureOneFrame(2);  // no buffer_done before version 3: nothing to add
    const Words events = join({message(5, 0, {xrgb8888, 64, 64, 256}), message(5, 6, {})});
    sendWords(compositor_, events);
    EXPECT_EQ(receiveWords(client_, events.size()), events);
    EXPECT_TRUE(quiet(client_));

    // A request with a descriptor (wl_shm.create_pool) and an event with one
    // (wl_keyboard.keymap) arrive with the same open file behind them.
    const std::string file = folder_.path() + "/pool";
    const int pool = ::open(file.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(pool, 0);
    const Words createPool = message(6, 0, {8, 4096});
    sendWords(client_, createPool, pool);
    std::vector<int> atCompositor;
    EXPECT_EQ(receiveWords(compositor_, createPool.size(), &atCompositor), createPool);
    ASSERT_EQ(atCompositor.size(), 1u);
    const Words keymap = message(9, 0, {1, 4096});
    sendWords(compositor_, keymap, atCompositor[0]);
    std::vector<int> atClient;
    EXPECT_EQ(receiveWords(client_, keymap.size(), &atClient), keymap);
    ASSERT_EQ(atClient.size(), 1u);
    struct stat original {}, passed {};
    ::fstat(pool, &original);
    ::fstat(atClient[0], &passed);
    EXPECT_EQ(original.st_ino, passed.st_ino);
    for (int fd : {pool, atCompositor[0], atClient[0]}) ::close(fd);
}
