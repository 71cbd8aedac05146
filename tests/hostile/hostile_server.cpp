#include "hostile_server.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kTickMs = 50;
constexpr int kRequestWaitMs = 2000;
constexpr size_t kMaxRequestBytes = 1 << 20;

} // namespace

bool cHostileConnection::ReadRequest() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestWaitMs);
    char block[4096];
    while (!stopping && std::chrono::steady_clock::now() < until &&
           request.size() < kMaxRequestBytes) {
        const size_t end = request.find("\r\n\r\n");
        if (end != std::string::npos) {
            size_t length = 0;
            const size_t at = request.find("Content-Length: ");
            if (at != std::string::npos && at < end)
                length = std::strtoul(request.c_str() + at + 16, nullptr, 10);
            if (request.size() >= end + 4 + length)
                return true;
        }
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, kTickMs) <= 0)
            continue;
        const ssize_t got = recv(fd, block, sizeof block, 0);
        if (got <= 0)
            return false;
        request.append(block, static_cast<size_t>(got));
    }
    return false;
}

bool cHostileConnection::Write(const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        if (stopping)
            return false;
        pollfd entry{fd, POLLOUT, 0};
        if (poll(&entry, 1, kTickMs) <= 0)
            continue;
        if (entry.revents & (POLLERR | POLLHUP))
            return false;
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool cHostileConnection::Sleep(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (stopping)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 10)));
    }
    return !stopping;
}

void cHostileConnection::Hold() {
    while (Sleep(kTickMs)) {
    }
}

class cHostileServer::impl {
  public:
    int listener = -1;
    std::uint16_t port = 0;
    std::string address;
    cBehaviour behaviour;
    std::atomic<bool> stopping{false};
    std::atomic<int> connections{0};
    std::thread acceptor;
    std::mutex mutex;
    std::vector<std::thread> workers;
    std::string requests;

    void Accept() {
        while (!stopping) {
            pollfd entry{listener, POLLIN, 0};
            if (poll(&entry, 1, kTickMs) <= 0)
                continue;
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++connections;
            std::lock_guard<std::mutex> lock(mutex);
            workers.emplace_back([this, fd] {
                cHostileConnection connection(fd, stopping);
                const bool complete = connection.ReadRequest();
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    requests += connection.request;
                }
                if (complete)
                    behaviour(connection);
                close(fd);
            });
        }
    }
};

cHostileServer::cHostileServer(const std::string& address, cBehaviour behaviour) : pimpl(new impl) {
    pimpl->address = address;
    pimpl->behaviour = std::move(behaviour);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t size = sizeof local;
    if (fd < 0 || inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        if (fd >= 0)
            close(fd);
        return;
    }
    pimpl->listener = fd;
    pimpl->port = ntohs(local.sin_port);
    pimpl->acceptor = std::thread([this] { pimpl->Accept(); });
}

cHostileServer::~cHostileServer() {
    pimpl->stopping = true;
    if (pimpl->acceptor.joinable())
        pimpl->acceptor.join();
    for (std::thread& worker : pimpl->workers)
        worker.join();
    if (pimpl->listener >= 0)
        close(pimpl->listener);
}

bool cHostileServer::IsRunning() const {
    return pimpl->listener >= 0;
}

std::uint16_t cHostileServer::GetPort() const {
    return pimpl->port;
}

std::string cHostileServer::GetOrigin() const {
    return "http://" + pimpl->address + ":" + std::to_string(pimpl->port);
}

int cHostileServer::ConnectionCount() const {
    return pimpl->connections;
}

std::string cHostileServer::Requests() const {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    return pimpl->requests;
}
