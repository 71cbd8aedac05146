#include "fake_pcp_server.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int BoundSocket(const char* host, std::uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, host, &address.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

void Put32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

void Put16(std::string& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<char>(value >> 8);
    out[at + 1] = static_cast<char>(value);
}

} // namespace

class cFakePcpServer::impl {
  public:
    explicit impl(const char* address) {
        fd = BoundSocket(address, port);
        std::uint16_t ignored = 0;
        otherFd = BoundSocket(address, ignored);
        thread = std::thread([this] { Run(); });
    }
    ~impl() {
        stop = true;
        thread.join();
        close(fd);
        close(otherFd);
    }

    void Run() {
        while (!stop) {
            pollfd waiting{fd, POLLIN, 0};
            if (poll(&waiting, 1, 20) <= 0)
                continue;
            char buffer[2048];
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t got =
                recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size);
            if (got < 0)
                continue;
            const std::string request(buffer, static_cast<std::size_t>(got));
            tHandler current;
            int index = 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                index = static_cast<int>(requests.size());
                requests.push_back(request);
                current = handler;
            }
            if (!current)
                continue;
            for (const cReply& reply : current(request, index)) {
                if (reply.delayMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
                sendto(reply.fromOtherPort ? otherFd : fd, reply.datagram.data(),
                       reply.datagram.size(), 0, reinterpret_cast<sockaddr*>(&from), size);
            }
        }
    }

    int fd = -1;
    int otherFd = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    mutable std::mutex mutex;
    tHandler handler;
    std::vector<std::string> requests;
    std::thread thread;
};

cFakePcpServer::cFakePcpServer(const char* address) : p(new impl(address)) {}
cFakePcpServer::~cFakePcpServer() = default;

std::uint16_t cFakePcpServer::Port() const {
    return p->port;
}

void cFakePcpServer::SetHandler(tHandler handler) {
    std::lock_guard<std::mutex> lock(p->mutex);
    p->handler = std::move(handler);
}

std::vector<std::string> cFakePcpServer::Requests() const {
    std::lock_guard<std::mutex> lock(p->mutex);
    return p->requests;
}

std::string cFakePcpServer::PcpMapAnswer(const std::string& request, int result,
                                         std::uint32_t lifetime, std::uint32_t epoch,
                                         std::uint16_t externalPort,
                                         std::uint32_t externalAddress) {
    // Header of 24 bytes, then the request's MAP payload with the assignment.
    std::string answer(60, '\0');
    answer[0] = 2;
    answer[1] = static_cast<char>(0x80 | (request.size() > 1 ? request[1] : 1));
    answer[3] = static_cast<char>(result);
    Put32(answer, 4, lifetime);
    Put32(answer, 8, epoch);
    if (request.size() >= 60)
        answer.replace(24, 36, request, 24, 36);
    Put16(answer, 42, externalPort);
    answer.replace(44, 12, std::string(10, '\0') + "\xFF\xFF");
    Put32(answer, 56, externalAddress);
    return answer;
}

std::string cFakePcpServer::NatPmpAnswer(const std::string& request, int result,
                                         std::uint32_t epoch, std::uint16_t externalPort) {
    const int opcode = request.size() > 1 ? static_cast<unsigned char>(request[1]) : 0;
    std::string answer(opcode == 0 ? 12 : 16, '\0');
    answer[1] = static_cast<char>(0x80 | opcode);
    Put16(answer, 2, static_cast<std::uint16_t>(result));
    Put32(answer, 4, epoch);
    if (opcode == 0) {
        Put32(answer, 8, 0xCB007107);
    } else if (request.size() >= 12) {
        answer.replace(8, 2, request, 4, 2);
        Put16(answer, 10, externalPort);
        answer.replace(12, 4, request, 8, 4);
    }
    return answer;
}
