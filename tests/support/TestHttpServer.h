#pragma once
// A tiny HTTP/1.1 server on 127.0.0.1 for tests: one thread, one connection at a time, replies
// from a table of paths. It stops (and closes every socket) when destroyed.
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace vaultry::test {

class TestHttpServer {
public:
    struct Reply {
        Reply(int status = 200, std::string body = {}, std::vector<std::string> headers = {},
              bool sendLength = true, bool hang = false)
            : status(status),
              body(std::move(body)),
              headers(std::move(headers)),
              sendLength(sendLength),
              hang(hang) {}
        int status = 200;
        std::string body;
        std::vector<std::string> headers;  // "Location: /x"
        bool sendLength = true;            // false: the body ends when the connection closes
        bool hang = false;                 // read the request, then never answer
    };
    explicit TestHttpServer(std::map<std::string, Reply> routes);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::string url(const std::string& path) const;
    int requests() const { return requests_.load(); }

    // An address on 127.0.0.1 where nothing listens.
    static std::string refusedUrl();

private:
    void serve();
    void answer(int fd);
    bool waitReadable(int fd, int timeoutMs);  // false on stop or time-out

    std::map<std::string, Reply> routes_;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::thread thread_;
};

}  // namespace vaultry::test
