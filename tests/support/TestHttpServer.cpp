#include "support/TestHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace vaultry::test {
namespace {

int listenOnLoopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        throw std::runtime_error("bind/listen on 127.0.0.1");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;  // the client gave up
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

TestHttpServer::TestHttpServer(std::map<std::string, Reply> routes) : routes_(std::move(routes)) {
    // A proxy from the environment must not stand between the client and this server.
    setenv("no_proxy", "127.0.0.1", 1);
    setenv("NO_PROXY", "127.0.0.1", 1);
    listenFd_ = listenOnLoopback(port_);
    if (pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    thread_ = std::thread([this] { serve(); });
}

TestHttpServer::~TestHttpServer() {
    const char stop = 's';
    (void)!write(wake_[1], &stop, 1);
    thread_.join();
    close(listenFd_);
    close(wake_[0]);
    close(wake_[1]);
}

std::string TestHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string TestHttpServer::refusedUrl() {
    int port = 0;
    close(listenOnLoopback(port));  // bound and released: nothing listens there now
    return "http://127.0.0.1:" + std::to_string(port) + "/product/vaultryVersion.plist";
}

bool TestHttpServer::waitReadable(int fd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) return false;
    return !(fds[1].revents & POLLIN) && (fds[0].revents & (POLLIN | POLLHUP | POLLERR));
}

void TestHttpServer::serve() {
    for (;;) {
        if (!waitReadable(listenFd_, -1)) return;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        answer(fd);
        close(fd);
    }
}

void TestHttpServer::answer(int fd) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (!waitReadable(fd, 5000)) return;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        request.append(buf, static_cast<std::size_t>(n));
    }
    ++requests_;
    // "GET /path HTTP/1.1"
    const auto first = request.find(' ');
    const auto second = request.find(' ', first + 1);
    const std::string path = request.substr(first + 1, second - first - 1);
    auto it = routes_.find(path);
    Reply reply = it != routes_.end() ? it->second : Reply{404, "<html><body>Not Found</body></html>"};
    if (reply.hang) {
        // Wait until the client gives up and closes, or the server stops; bounded either way.
        while (waitReadable(fd, 10'000) && recv(fd, buf, sizeof buf, 0) > 0) {
        }
        return;
    }
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Test\r\nConnection: close\r\n";
    if (reply.sendLength) head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    for (const auto& h : reply.headers) head += h + "\r\n";
    if (sendAll(fd, head + "\r\n")) sendAll(fd, reply.body);
}

}  // namespace vaultry::test
