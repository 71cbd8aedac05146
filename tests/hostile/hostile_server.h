#pragma once

// A TCP server that misbehaves on purpose. Each accepted connection gets its
// own thread, which reads the request and hands it to the behaviour; the
// destructor stops every behaviour (their writes and sleeps return false) and
// joins the threads, so a test never hangs on its server. Linux only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class cHostileConnection {
  public:
    cHostileConnection(int fd, const std::atomic<bool>& stopping) : fd(fd), stopping(stopping) {}

    // The request as sent: header block and Content-Length body (bounded).
    std::string request;

    // False once the peer has gone or the server is stopping.
    bool Write(const std::string& bytes);
    // Sleeps; false when the server is stopping.
    bool Sleep(int ms);
    // Keeps the connection open, sending nothing, until the server stops.
    void Hold();
    bool IsGet() const { return request.compare(0, 4, "GET ") == 0; }

  private:
    friend class cHostileServer;
    bool ReadRequest();
    int fd;
    const std::atomic<bool>& stopping;
};

class cHostileServer {
  public:
    using cBehaviour = std::function<void(cHostileConnection&)>;

    cHostileServer(const std::string& address, cBehaviour behaviour);
    ~cHostileServer();
    cHostileServer(const cHostileServer&) = delete;
    cHostileServer& operator=(const cHostileServer&) = delete;

    bool IsRunning() const;
    std::uint16_t GetPort() const;
    // "http://address:port"
    std::string GetOrigin() const;
    int ConnectionCount() const;
    // Every request received so far, concatenated.
    std::string Requests() const;

    class impl;

  private:
    std::unique_ptr<impl> pimpl;
};
