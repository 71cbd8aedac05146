#include "net/multicast_listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Signals reach the poll through a pipe: the handler writes one byte, the
// wait wakes up, and nothing is done inside the handler.

namespace {

int signalPipe[2] = {-1, -1};
constexpr char kReloadByte = 'R';
constexpr char kStopByte = 'S';

void OnSignal(int signal) {
    const int saved = errno;
    const char byte = signal == SIGHUP ? kReloadByte : kStopByte;
    if (write(signalPipe[1], &byte, 1) < 0) {
        // The pipe is full: a byte of each kind is already waiting.
    }
    errno = saved;
}

} // namespace

void CatchProcessSignals() {
    if (signalPipe[0] >= 0 || pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGHUP, SIGTERM, SIGINT})
        sigaction(signal, &action, nullptr);
}

eProcessSignal TakeProcessSignal() {
    eProcessSignal taken = eProcessSignal::kNone;
    char byte = 0;
    while (signalPipe[0] >= 0 && read(signalPipe[0], &byte, 1) == 1) {
        if (byte == kStopByte)
            taken = eProcessSignal::kStop;
        else if (taken == eProcessSignal::kNone)
            taken = eProcessSignal::kReload;
    }
    return taken;
}

bool cMulticastListener::Open(const char* group, std::uint16_t port,
                              const std::string& interfaceAddress) {
    if (!Create())
        return false;
    const int fd = static_cast<int>(handle);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    // Bound to the group, so that only the group's datagrams arrive here.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ip_mreq membership{};
    if (inet_pton(AF_INET, group, &address.sin_addr) != 1 ||
        inet_pton(AF_INET, interfaceAddress.c_str(), &membership.imr_interface) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return false;
    }
    membership.imr_multiaddr = address.sin_addr;
    if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        Close();
        return false;
    }
    this->port = port;
    return true;
}

void cMulticastListener::WaitForDatagramOrSignal(int timeoutMs) {
    pollfd entries[2] = {{signalPipe[0], POLLIN, 0}, {-1, POLLIN, 0}};
    if (IsOpen())
        entries[1].fd = static_cast<int>(handle);
    // An interruption is a signal: the caller looks at once.
    poll(entries, 2, timeoutMs < 0 ? 0 : timeoutMs);
}
