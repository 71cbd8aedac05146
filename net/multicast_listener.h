#pragma once

#include <cstdint>
#include <string>

#include "net/socket.h"

// Listens to a multicast group on one interface, for a process that also
// answers signals while it waits. One platform file implements this header:
// multicast_listener_posix.cpp or multicast_listener_win32.cpp.
class cMulticastListener : public cSocketUDP {
  public:
    // Binds the group's port (shared with other listeners on this host) and
    // joins the group on the interface that has interfaceAddress.
    bool Open(const char* group, std::uint16_t port, const std::string& interfaceAddress);
    // Waits up to timeoutMs until a datagram waits (when open) or a caught
    // signal arrives; returns early either way. Read with RecvFrom(buffer, 0).
    void WaitForDatagramOrSignal(int timeoutMs);
};

enum class eProcessSignal { kNone, kReload, kStop };

// From now on, signals are caught and queued instead of ending the process:
// POSIX SIGHUP asks for a reload, SIGTERM and SIGINT for a stop; on Windows
// Ctrl+C, Ctrl+Break and the console's close ask for a stop.
void CatchProcessSignals();
// The signal that arrived since the last call; a stop wins over a reload.
eProcessSignal TakeProcessSignal();
