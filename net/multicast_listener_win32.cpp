#include "net/multicast_listener.h"

#include <cstring>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

// Console control events arrive on a thread of the system's: the handler only
// records the stop and sets an event that the wait includes.

namespace {

constexpr DWORD kCloseGraceMs = 4500;
HANDLE stopEvent = nullptr;
volatile LONG stopPending = 0;

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        InterlockedExchange(&stopPending, 1);
        SetEvent(stopEvent);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this handler returns: wait here, so that the
        // main thread can delete its mappings and exit first (the system
        // allows about 5 s).
        InterlockedExchange(&stopPending, 1);
        SetEvent(stopEvent);
        Sleep(kCloseGraceMs);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void CatchProcessSignals() {
    if (stopEvent)
        return;
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent)
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

eProcessSignal TakeProcessSignal() {
    if (!stopEvent || InterlockedExchange(&stopPending, 0) == 0)
        return eProcessSignal::kNone;
    ResetEvent(stopEvent);
    return eProcessSignal::kStop;
}

bool cMulticastListener::Open(const char* group, std::uint16_t port,
                              const std::string& interfaceAddress) {
    if (!Create())
        return false;
    const SOCKET socket = static_cast<SOCKET>(handle);
    const BOOL on = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    // Winsock does not bind to a group address: any address, the group's port.
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    ip_mreq membership;
    std::memset(&membership, 0, sizeof membership);
    membership.imr_multiaddr.s_addr = inet_addr(group);
    membership.imr_interface.s_addr = inet_addr(interfaceAddress.c_str());
    if (membership.imr_interface.s_addr == INADDR_NONE ||
        bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                   reinterpret_cast<const char*>(&membership), sizeof membership) != 0) {
        Close();
        return false;
    }
    this->port = port;
    return true;
}

void cMulticastListener::WaitForDatagramOrSignal(int timeoutMs) {
    const DWORD wait = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    if (!IsOpen() || !event) {
        if (stopEvent)
            WaitForSingleObject(stopEvent, wait);
        else
            Sleep(wait);
        return;
    }
    const WSAEVENT socketEvent = reinterpret_cast<WSAEVENT>(event);
    WSAResetEvent(socketEvent);
    if (WSAEventSelect(static_cast<SOCKET>(handle), socketEvent, FD_READ) == SOCKET_ERROR)
        return;
    WSAEVENT events[2] = {socketEvent, stopEvent};
    WSAWaitForMultipleEvents(stopEvent ? 2 : 1, events, FALSE, wait, FALSE);
}
