#pragma once

#include <string>

#include "support/smart_ptr.h"

// Bounds of one exchange, whatever the server does: the connect and every
// silence end after the caller's time-out; the whole exchange ends after
// kHttpDeadlineMs; a response is cut off (and fails) past kHttpMaxResponseBytes.
constexpr int kHttpTimeoutMs = 3000;
constexpr int kHttpDeadlineMs = 10000;
constexpr unsigned kHttpMaxHeaderBytes = 64 * 1024;
constexpr unsigned kHttpMaxResponseBytes = 2 * 1024 * 1024;

// The response side of one exchange without the socket: the bytes go in as they
// arrive, and it says when the response is complete by its framing, or must be
// refused (past the size caps, or a chunk size past them).
class cHttpResponseReader {
public:
    enum eProgress { kMore, kComplete, kRefused };
    eProgress Append(const std::string& bytes);

    // kNothing: nothing arrived. Otherwise status and body of what arrived;
    // kPartial when a Content-Length or chunked response is not complete.
    enum eResult { kNothing, kPartial, kWhole };
    eResult Finish(int& status, std::string& body) const;

private:
    enum eFraming { kUntilClose, kLength, kChunked };
    std::string response;
    size_t headerEnd = std::string::npos;
    eFraming framing = kUntilClose;
    unsigned long long contentLength = 0;
    std::string chunkedBody;
    bool complete = false;
};

// How an exchange ended, so that a failure can say what happened.
enum class eHttpOutcome {
    kNotStarted,   // nothing opened yet
    kBadUrl,       // not a well-formed "http://" URL: nothing was sent
    kNoConnection, // no connection within the connect time-out
    kSendFailed,   // the connection broke while the request went out
    kSilence,      // nothing arrived within the silence time-out
    kClosed,       // the server closed the connection without a byte
    kTooLarge,     // past the size caps, or a chunk size beyond them
    kCutShort,     // the framing was not complete when the server stopped
    kDeadline,     // the overall deadline ended the exchange
    kNotHttp,      // what arrived has no readable status line
    kAnswered,     // a whole response, of any status
};

// One HTTP/1.1 exchange over one TCP connection.
class cHTTP {
public:
    cHTTP();
    virtual ~cHTTP();

    // Connects (within connectTimeoutMs) and starts the request. Only
    // well-formed "http://" URLs are opened.
    bool Open(const char* method, const char* url, int connectTimeoutMs = kHttpTimeoutMs);
    void SetHeader(const char* name, const char* value);
    bool Send(const char* body);
    // Reads one response: complete by its Content-Length or chunked framing,
    // else when the server closes. Silence of timeoutMs or the deadline end the
    // read with what has arrived. False when nothing arrived or the response
    // grew past the cap, and also, with the status kept, when the response was
    // cut short: its framing was not complete, or the deadline ended it. True
    // for any status. deadlineMs bounds the whole read.
    bool Receive(int timeoutMs, int deadlineMs = kHttpDeadlineMs);
    int GetStatus() const;
    const char* GetBody() const;
    eHttpOutcome GetOutcome() const;

    class impl;

private:
    cHTTP(const cHTTP&) = delete;
    cHTTP& operator=(const cHTTP&) = delete;
    smart_ptr<impl> pimpl;
};
