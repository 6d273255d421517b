#include "MarkerWindowProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace markerschedule {

std::string MarkerWindowProcess::program()
{
    return WAYLAND_MARKER_WINDOW;
}

MarkerWindowProcess::MarkerWindowProcess(const std::vector<std::string>& arguments)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> all{program()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (pid_ < 0) {
        ::close(out[0]);
        return;
    }
    reader_ = std::thread([this, fd = out[0]] { read(fd); });
}

MarkerWindowProcess::~MarkerWindowProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (reader_.joinable()) reader_.join();  // its pipe ends with the process
}

void MarkerWindowProcess::read(int fd)
{
    std::string pending;
    char buffer[1024];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);) {
        if (n < 0) continue;
        pending.append(buffer, std::size_t(n));
        std::lock_guard lock(mutex_);
        output_.append(buffer, std::size_t(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::string line = pending.substr(0, end);
            std::istringstream in(line);
            std::string word;
            int w = 0, h = 0;
            if (in >> word && word == "size" && in >> w >> h) {
                size_ = QSize(w, h);
                markers_.clear();
            } else if (auto marker = parseMarkerLine(line)) {
                markers_.push_back(*marker);
            }
        }
        changed_.notify_all();
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

bool MarkerWindowProcess::waitUntilShown(QSize size, int steps, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return size_ == size && int(markers_.size()) >= steps; });
}

std::vector<MarkerLine> MarkerWindowProcess::markers() const
{
    std::lock_guard lock(mutex_);
    return markers_;
}

QSize MarkerWindowProcess::size() const
{
    std::lock_guard lock(mutex_);
    return size_;
}

std::string MarkerWindowProcess::output() const
{
    std::lock_guard lock(mutex_);
    return output_;
}

} // namespace markerschedule
