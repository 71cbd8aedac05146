#pragma once

#include <cstdint>
#include <vector>

#include "net/socket.h"

// One wait over several sockets, so that a single thread can wait for
// whichever answers first (a search and a PCP request, say). One platform
// file implements this header: socket_wait_posix.cpp (poll) or
// socket_wait_win32.cpp (WSAPoll).

// Waits up to timeoutMs until at least one open socket has data. Returns a
// mask: bit i set when sockets[i] is readable; 0 after the time-out or a
// failure. At most 32 sockets; null and closed entries are skipped.
std::uint32_t WaitForAnySocket(const std::vector<const cSocket*>& sockets, int timeoutMs);
