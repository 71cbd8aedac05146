#include "net/http.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "net/socket.h"
#include "net/url.h"
#include "support/text.h"

namespace {

using cClock = std::chrono::steady_clock;

// Where the header section ends: after the first empty line (LF or CR LF).
size_t HeaderEnd(const std::string& response) {
    for (size_t at = response.find('\n'); at != std::string::npos;
         at = response.find('\n', at + 1)) {
        const size_t next = at + 1;
        if (next < response.size() && response[next] == '\n')
            return next + 1;
        if (next + 1 < response.size() && response[next] == '\r' && response[next + 1] == '\n')
            return next + 2;
    }
    return std::string::npos;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes a chunked body as far as it has arrived. True once the last chunk
// is in; `malformed` when a chunk size cannot be read or exceeds the cap.
bool DecodeChunked(const std::string& raw, std::string& body, bool& malformed) {
    body.clear();
    malformed = false;
    for (size_t at = 0;;) {
        const size_t lineEnd = raw.find('\n', at);
        if (lineEnd == std::string::npos)
            return false;
        unsigned long long size = 0;
        size_t digits = 0;
        for (size_t i = at; i < lineEnd && HexDigit(raw[i]) >= 0; ++i, ++digits) {
            size = size * 16 + static_cast<unsigned>(HexDigit(raw[i]));
            if (size > kHttpMaxResponseBytes) {
                malformed = true;
                return false;
            }
        }
        if (digits == 0) {
            malformed = true;
            return false;
        }
        at = lineEnd + 1;
        if (size == 0)
            return true; // trailers are not needed
        if (raw.size() < at + size)
            return false;
        body.append(raw, at, size);
        const size_t dataEnd = raw.find('\n', at + size);
        if (dataEnd == std::string::npos)
            return false;
        at = dataEnd + 1;
    }
}

} // namespace

cHttpResponseReader::eProgress cHttpResponseReader::Append(const std::string& bytes) {
    response += bytes;
    if (response.size() > kHttpMaxResponseBytes)
        return kRefused;
    if (headerEnd == std::string::npos) {
        headerEnd = HeaderEnd(response);
        if (headerEnd == std::string::npos)
            return response.size() > kHttpMaxHeaderBytes ? kRefused : kMore;
        // A Content-Length that is not a plain decimal number is ignored: the
        // body then runs until the close.
        for (std::string line : SplitLines(response.substr(0, headerEnd))) {
            const std::string name = SplitPair(line, ":");
            if (CompareNoCase(name.c_str(), "Transfer-Encoding") == 0 &&
                CompareNoCase(line.c_str(), "chunked") == 0) {
                framing = kChunked;
                break;
            }
            if (CompareNoCase(name.c_str(), "Content-Length") == 0 && !line.empty() &&
                line.size() <= 10 && line.find_first_not_of("0123456789") == std::string::npos) {
                framing = kLength;
                contentLength = std::stoull(line);
            }
        }
    }
    if (framing == kLength)
        complete = response.size() - headerEnd >= contentLength;
    if (framing == kChunked) {
        // A chunk size that cannot be read, or that alone passes the cap, makes
        // the whole response unusable: refused like an oversized one.
        bool malformed = false;
        complete = DecodeChunked(response.substr(headerEnd), chunkedBody, malformed);
        if (malformed)
            return kRefused;
    }
    return complete ? kComplete : kMore;
}

cHttpResponseReader::eResult cHttpResponseReader::Finish(int& status, std::string& body) const {
    if (response.empty())
        return kNothing;
    if (headerEnd == std::string::npos)
        body.clear(); // headers ran to the end of the data
    else if (framing == kLength)
        body = response.substr(headerEnd, contentLength);
    else if (framing == kUntilClose)
        body = response.substr(headerEnd);
    else
        body = chunkedBody;
    const std::vector<std::string> lines = SplitLines(response.substr(0, response.find('\n')));
    const std::vector<std::string> words =
        lines.empty() ? std::vector<std::string>() : Split(lines.front(), " \t");
    status = words.size() < 2 ? 0 : ReadInt(words[1]);
    return framing != kUntilClose && !complete ? kPartial : kWhole;
}

class cHTTP::impl {
public:
    cSocketTCP tcp;
    int status = 0;
    std::string buffer;
    int timeoutMs = kHttpTimeoutMs;
    eHttpOutcome outcome = eHttpOutcome::kNotStarted;

    void Reset() {
        tcp.Close();
        status = 0;
        buffer.clear();
        outcome = eHttpOutcome::kNotStarted;
    }
    cHttpResponseReader::eResult ReadResponse(int silenceMs, int deadlineMs, int& statusOut,
                                              std::string& body);
};

cHTTP::cHTTP() : pimpl(new impl) {}

cHTTP::~cHTTP() = default;

bool cHTTP::Open(const char* method, const char* url, int connectTimeoutMs) {
    impl& self = *pimpl.Get();
    self.Reset();
    self.timeoutMs = connectTimeoutMs;
    cHttpUrl parts;
    if (!ParseHttpUrl(url, parts)) {
        self.outcome = eHttpOutcome::kBadUrl;
        return false;
    }
    if (!self.tcp.Create(IsIpv6Literal(parts.host)) ||
        !self.tcp.Connect(parts.host.c_str(), parts.port, connectTimeoutMs)) {
        self.outcome = eHttpOutcome::kNoConnection;
        // A connect that timed out is still under way: close it, or it could
        // complete later and carry the request, and every wait on it would
        // cost the full time-out again.
        self.tcp.Close();
        return false;
    }
    self.buffer = FormatString("%s %s HTTP/1.1\r\n", method, parts.path.c_str());
    self.buffer += FormatString("HOST: %s:%d\r\n", UrlHost(parts.host).c_str(), parts.port);
    return true;
}

void cHTTP::SetHeader(const char* name, const char* value) {
    pimpl->buffer += FormatString("%s: %s\r\n", name, value);
}

bool cHTTP::Send(const char* body) {
    impl& self = *pimpl.Get();
    if (self.buffer.empty())
        return false;
    const std::string content(body);
    if (!content.empty())
        self.buffer += FormatString("Content-Length: %d\r\n", static_cast<int>(content.size()));
    self.buffer += "\r\n";
    self.buffer += content;
    if (self.tcp.Send(self.buffer, self.timeoutMs))
        return true;
    self.outcome = eHttpOutcome::kSendFailed;
    return false;
}

// Gathers one response: until its framing says it is complete, the server
// closes, it falls silent for silenceMs, or the deadline passes. One that grows
// past the cap is refused; one the deadline cut short is partial. `outcome`
// says which of these ended it.
cHttpResponseReader::eResult cHTTP::impl::ReadResponse(int silenceMs, int deadlineMs,
                                                       int& statusOut, std::string& body) {
    const cClock::time_point deadline = cClock::now() + std::chrono::milliseconds(deadlineMs);
    cHttpResponseReader reader;
    std::string block;
    cHttpResponseReader::eProgress progress = cHttpResponseReader::kMore;
    while (progress == cHttpResponseReader::kMore) {
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - cClock::now()).count();
        if (left <= 0 || !tcp.Recv(block, static_cast<int>(std::min<long long>(silenceMs, left))))
            break;
        block.pop_back(); // the terminating zero
        progress = reader.Append(block);
    }
    if (progress == cHttpResponseReader::kRefused) {
        outcome = eHttpOutcome::kTooLarge;
        return cHttpResponseReader::kNothing;
    }
    const cHttpResponseReader::eResult result = reader.Finish(statusOut, body);
    // Waits are cut to whole milliseconds: the last one may end a little short
    // of the deadline.
    const bool pastDeadline = deadline - cClock::now() < std::chrono::milliseconds(5);
    const bool complete = progress == cHttpResponseReader::kComplete;
    if (result == cHttpResponseReader::kNothing)
        outcome = tcp.ClosedByPeer() ? eHttpOutcome::kClosed
                  : pastDeadline     ? eHttpOutcome::kDeadline
                                     : eHttpOutcome::kSilence;
    else if (!complete && pastDeadline)
        outcome = eHttpOutcome::kDeadline;
    else if (result == cHttpResponseReader::kPartial)
        outcome = eHttpOutcome::kCutShort;
    else
        outcome = statusOut == 0 ? eHttpOutcome::kNotHttp : eHttpOutcome::kAnswered;
    if (result == cHttpResponseReader::kWhole && !complete && pastDeadline)
        return cHttpResponseReader::kPartial;
    return result;
}

bool cHTTP::Receive(int timeoutMs, int deadlineMs) {
    impl& self = *pimpl.Get();
    if (!self.tcp.IsOpen())
        return false; // Open failed: its outcome stands
    int status = 0;
    std::string body;
    const cHttpResponseReader::eResult result = self.ReadResponse(timeoutMs, deadlineMs, status, body);
    if (result == cHttpResponseReader::kNothing)
        return false;
    // A response cut short keeps its status for the caller to see, but is no
    // answer to act on: a gateway that sends a 200 header and then stalls must
    // not pass for one that succeeded.
    self.status = status;
    self.buffer = body;
    return result == cHttpResponseReader::kWhole;
}

int cHTTP::GetStatus() const { return pimpl->status; }

const char* cHTTP::GetBody() const { return pimpl->buffer.c_str(); }

eHttpOutcome cHTTP::GetOutcome() const { return pimpl->outcome; }
