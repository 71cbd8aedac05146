#include "fake_ssdp.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using tClock = std::chrono::steady_clock;

constexpr const char* kGroup = "239.255.255.250";
constexpr std::uint16_t kPort = 1900;
constexpr int kTickMs = 50;

struct cScheduled {
    tClock::time_point due;
    std::string data;
    sockaddr_in to;
    int fd;
};

std::string HeaderValue(const std::string& datagram, const char* name) {
    std::size_t start = 0;
    while (start < datagram.size()) {
        std::size_t end = datagram.find('\n', start);
        std::string line = datagram.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t colon = line.find(':');
        if (colon != std::string::npos && colon == std::strlen(name) &&
            strncasecmp(line.data(), name, colon) == 0) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            value.erase(value.find_last_not_of(" \t") + 1);
            return value;
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return "";
}

} // namespace

class cFakeSsdp::impl {
  public:
    explicit impl(const std::string& interfaceAddress);
    ~impl();
    void Run();
    void Answer(const cDatagram& search, const sockaddr_in& from);

    int fd = -1;
    int wake[2] = {-1, -1};
    ip_mreq membership{};
    std::atomic<bool> stop{false};
    std::thread thread;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<cDatagram> received;
    std::vector<cAnswer> answers;
    std::map<std::string, std::vector<cAnswer>> answersFor;
    std::string echoLocation;
    int echoDelayMs = 0;
    std::vector<int> sources;          // answer sockets; the last one is used
    std::vector<cScheduled> scheduled; // only the thread touches it
};

cFakeSsdp::impl::impl(const std::string& interfaceAddress) {
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    ::inet_pton(AF_INET, kGroup, &membership.imr_multiaddr);
    bool ok =
        ::inet_pton(AF_INET, interfaceAddress.c_str(), &membership.imr_interface) == 1 &&
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0 &&
        ::pipe2(wake, O_NONBLOCK | O_CLOEXEC) == 0;
    if (!ok) {
        ::close(fd);
        fd = -1;
        return;
    }
    thread = std::thread([this] { Run(); });
}

cFakeSsdp::impl::~impl() {
    stop = true;
    if (wake[1] >= 0) {
        char byte = 0;
        [[maybe_unused]] auto ignored = ::write(wake[1], &byte, 1);
    }
    if (thread.joinable())
        thread.join();
    for (int source : sources)
        ::close(source);
    if (fd >= 0) {
        ::setsockopt(fd, IPPROTO_IP, IP_DROP_MEMBERSHIP, &membership, sizeof membership);
        ::close(fd);
    }
    for (int end : wake)
        if (end >= 0)
            ::close(end);
}

void cFakeSsdp::impl::Run() {
    while (!stop) {
        tClock::time_point now = tClock::now();
        int timeoutMs = kTickMs;
        for (const cScheduled& s : scheduled)
            timeoutMs = std::min<int>(
                timeoutMs,
                std::max<long>(
                    0, std::chrono::duration_cast<std::chrono::milliseconds>(s.due - now).count() +
                           1));
        pollfd fds[2] = {{wake[0], POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) < 0)
            continue;
        if (fds[0].revents) {
            char drain[64];
            while (::read(wake[0], drain, sizeof drain) > 0) {
            }
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                char block[65536];
                sockaddr_in from{};
                socklen_t length = sizeof from;
                ssize_t n = ::recvfrom(fd, block, sizeof block, 0,
                                       reinterpret_cast<sockaddr*>(&from), &length);
                if (n < 0)
                    break;
                cDatagram datagram;
                datagram.data.assign(block, n);
                char text[INET_ADDRSTRLEN] = "";
                ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
                datagram.fromAddress = text;
                datagram.fromPort = ntohs(from.sin_port);
                bool search = datagram.data.rfind("M-SEARCH ", 0) == 0;
                if (search)
                    datagram.st = HeaderValue(datagram.data, "ST");
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    received.push_back(datagram);
                    changed.notify_all();
                }
                if (search)
                    Answer(datagram, from);
            }
        }
        now = tClock::now();
        std::stable_sort(scheduled.begin(), scheduled.end(),
                         [](const cScheduled& a, const cScheduled& b) { return a.due < b.due; });
        while (!scheduled.empty() && scheduled.front().due <= now) {
            const cScheduled& s = scheduled.front();
            ::sendto(s.fd, s.data.data(), s.data.size(), 0,
                     reinterpret_cast<const sockaddr*>(&s.to), sizeof s.to);
            scheduled.erase(scheduled.begin());
        }
    }
}

void cFakeSsdp::impl::Answer(const cDatagram& search, const sockaddr_in& from) {
    std::vector<cAnswer> chosen;
    int source = fd;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!sources.empty())
            source = sources.back();
        auto it = answersFor.find(search.st);
        if (it != answersFor.end())
            chosen = it->second;
        else if (!echoLocation.empty())
            chosen = {{OkAnswer(search.st, echoLocation), echoDelayMs}};
        else
            chosen = answers;
    }
    tClock::time_point now = tClock::now();
    for (const cAnswer& answer : chosen)
        scheduled.push_back(
            {now + std::chrono::milliseconds(answer.delayMs), answer.datagram, from, source});
}

cFakeSsdp::cFakeSsdp(const std::string& interfaceAddress)
    : pimpl(std::make_unique<impl>(interfaceAddress)) {}

cFakeSsdp::~cFakeSsdp() = default;

bool cFakeSsdp::IsRunning() const {
    return pimpl->fd >= 0;
}

void cFakeSsdp::SetAnswers(const std::vector<cAnswer>& answers) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->answers = answers;
}

void cFakeSsdp::SetAnswersFor(const std::string& st, const std::vector<cAnswer>& answers) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->answersFor[st] = answers;
}

void cFakeSsdp::EchoSearches(const std::string& location, int delayMs) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->echoLocation = location;
    pimpl->echoDelayMs = delayMs;
}

bool cFakeSsdp::SetAnswerSource(const std::string& address) {
    int source = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (source < 0)
        return false;
    int on = 1;
    ::setsockopt(source, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        ::bind(source, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(source);
        return false;
    }
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->sources.push_back(source);
    return true;
}

std::vector<cFakeSsdp::cDatagram> cFakeSsdp::Searches() const {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    return pimpl->received;
}

bool cFakeSsdp::WaitForSearches(std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(pimpl->mutex);
    return pimpl->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return pimpl->received.size() >= count; });
}

std::string cFakeSsdp::OkAnswer(const std::string& st, const std::string& location) {
    return "HTTP/1.1 200 OK\r\n"
           "CACHE-CONTROL: max-age=120\r\n"
           "ST: " +
           st +
           "\r\n"
           "USN: uuid:00000000-0000-0000-0000-000000000001::" +
           st +
           "\r\n"
           "EXT:\r\n"
           "SERVER: Linux UPnP/1.1 WendrelFake/1.0\r\n"
           "LOCATION: " +
           location +
           "\r\n"
           "\r\n";
}
