#include "fake_gateway.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "fake_igd.h"

namespace {

using tClock = std::chrono::steady_clock;

// The loop never sleeps longer than this, so a stop request is seen quickly.
constexpr int kTickMs = 50;
// A request larger than this gets 413 and the connection is closed.
constexpr std::size_t kMaxRequestBytes = 1024 * 1024;
constexpr std::size_t kChunkPieces = 3;
constexpr int kChunkGapMs = 5;
constexpr std::size_t kTricklePiece = 64;
constexpr int kTrickleGapMs = 20;
constexpr std::size_t kHugeBodyBytes = 3 * 1024 * 1024;
constexpr int kDripBytes = 600;
constexpr int kDripGapMs = 100;

// Bytes to write once delayMs have passed since the previous segment went out.
struct cSegment {
    std::string data;
    int delayMs = 0;
};

// What one request makes the connection do.
struct cReply {
    std::vector<cSegment> segments;
    bool close = true; // close once the segments are out
    bool deaf = false; // from now on, read and drop everything, never answer
};

struct cConnection {
    int fd = -1;
    int number = 0;
    std::string in;
    std::deque<cSegment> out;
    std::size_t sent = 0; // of out.front()
    tClock::time_point due;
    bool closeWhenSent = false;
    bool peerClosed = false;
    bool deaf = false;
    bool dead = false;
};

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 500:
        return "Internal Server Error";
    default:
        return "Unknown";
    }
}

std::string StatusAndHeaders(int status, const std::string& extra) {
    return "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
           "\r\n"
           "Content-Type: text/xml; charset=\"utf-8\"\r\n"
           "Server: Linux UPnP/1.1 WendrelFake/1.0\r\n" +
           extra;
}

cReply Framed(cFakeGateway::eMode mode, int status, const std::string& body) {
    using eMode = cFakeGateway::eMode;
    cReply reply;
    switch (mode) {
    case eMode::kNormal:
        reply.segments.push_back(
            {StatusAndHeaders(status, "Content-Length: " + std::to_string(body.size()) +
                                          "\r\nConnection: close\r\n\r\n") +
             body});
        break;
    case eMode::kKeepAlive:
        reply.segments.push_back(
            {StatusAndHeaders(status,
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n") +
             body});
        reply.close = false;
        break;
    case eMode::kChunked: {
        reply.segments.push_back({StatusAndHeaders(status, "Transfer-Encoding: chunked\r\n\r\n")});
        std::size_t piece = body.size() / kChunkPieces + 1;
        for (std::size_t at = 0; at < body.size(); at += piece) {
            std::string chunk = body.substr(at, piece);
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
            reply.segments.push_back({size + chunk + "\r\n", kChunkGapMs});
        }
        reply.segments.push_back({"0\r\n\r\n", kChunkGapMs});
        reply.close = false;
        break;
    }
    case eMode::kCloseWithoutData:
        break;
    case eMode::kSilence:
        reply.close = false;
        reply.deaf = true;
        break;
    case eMode::kServerError:
        return Framed(eMode::kNormal, 500, BuildFault(501, "Action Failed"));
    case eMode::kGarbage:
        return Framed(eMode::kNormal, 200, "\x01\x02 this is <<< not & XML ]]>");
    case eMode::kTrickle: {
        std::string whole = Framed(eMode::kNormal, status, body).segments.front().data;
        for (std::size_t at = 0; at < whole.size(); at += kTricklePiece)
            reply.segments.push_back({whole.substr(at, kTricklePiece), at ? kTrickleGapMs : 0});
        break;
    }
    case eMode::kHuge:
        return Framed(eMode::kNormal, 200, std::string(kHugeBodyBytes, ' '));
    case eMode::kDrip:
        reply.segments.push_back({StatusAndHeaders(200, "Content-Length: 1000000\r\n\r\n")});
        for (int i = 0; i < kDripBytes; ++i)
            reply.segments.push_back({" ", kDripGapMs});
        reply.close = false;
        break;
    case eMode::kHeadersOnly:
        reply.segments.push_back({StatusAndHeaders(
            status, "Content-Length: " + std::to_string(body.size() + 1) + "\r\n\r\n")});
        reply.close = false;
        break;
    }
    return reply;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool ParseHeaderBlock(const std::string& block, cFakeGateway::cRequest& request) {
    std::size_t lineEnd = block.find("\r\n");
    std::string requestLine = block.substr(0, lineEnd);
    std::size_t s1 = requestLine.find(' ');
    std::size_t s2 = s1 == std::string::npos ? s1 : requestLine.find(' ', s1 + 1);
    if (s2 == std::string::npos)
        return false;
    request.method = requestLine.substr(0, s1);
    request.path = requestLine.substr(s1 + 1, s2 - s1 - 1);
    request.version = requestLine.substr(s2 + 1);
    while (lineEnd != std::string::npos) {
        std::size_t start = lineEnd + 2;
        lineEnd = block.find("\r\n", start);
        std::string line =
            block.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        if (line.empty())
            continue;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            return false;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t") + 1);
        request.headers.push_back({line.substr(0, colon), value});
    }
    return request.version == "HTTP/1.1" || request.version == "HTTP/1.0";
}

} // namespace

std::string cFakeGateway::cRequest::Header(const std::string& name) const {
    for (const cHeader& header : headers)
        if (EqualNoCase(header.name, name))
            return header.value;
    return "";
}

bool cFakeGateway::cRequest::HasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const cHeader& h) { return EqualNoCase(h.name, name); });
}

std::string cFakeGateway::cRequest::Action() const {
    std::string value = Header("SOAPAction");
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    std::size_t hash = value.find('#');
    return hash == std::string::npos ? "" : value.substr(hash + 1);
}

class cFakeGateway::impl {
  public:
    explicit impl(const cOptions& given);
    ~impl();

    void Run();
    void Accept(std::list<cConnection>& connections);
    void ReadFrom(cConnection& connection);
    bool TakeRequest(cConnection& connection);
    void Queue(cConnection& connection, const cReply& reply);
    void Flush(cConnection& connection);
    cReply Respond(const cRequest& request);
    cReply RespondCommonInterface(const cRequest& request);

    cOptions options;
    std::string origin;
    std::string description;
    std::string controlPath;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<cRequest> requests;
    std::vector<cMapping> mappings;
    eMode descriptionMode = eMode::kNormal;
    eMode controlMode = eMode::kNormal;
    int descriptionStatus = 200;
    int connectionCount = 0;
    bool canned = false;
    std::string rawReply;
    fake_igd::cOutcome cannedReply;
    cAddPolicy addPolicy;
    cQueryAnswers queries;

    int listenFd = -1;
    int wake[2] = {-1, -1};
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::thread thread;
};

cFakeGateway::impl::impl(const cOptions& given) : options(given) {
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd < 0)
        return;
    int on = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.port);
    socklen_t length = sizeof address;
    if (::inet_pton(AF_INET, options.address.c_str(), &address.sin_addr) != 1 ||
        ::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd, 16) != 0 ||
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        ::close(listenFd);
        listenFd = -1;
        return;
    }
    port = ntohs(address.sin_port);
    origin = "http://" + options.address + ":" + std::to_string(port);

    auto expand = [&](std::string text) {
        fake_igd::ReplaceAll(text, "{origin}", origin);
        return text;
    };
    std::string urlBase = expand(options.urlBase);
    std::string controlUrlText =
        options.controlUrlText.empty() ? "/ctl/IPConn" : expand(options.controlUrlText);
    description =
        options.rawDescription.empty()
            ? BuildDescription(urlBase, options.serviceType, controlUrlText, options.modelName)
            : expand(options.rawDescription);
    controlPath =
        !options.controlPath.empty()
            ? options.controlPath
            : fake_igd::PathOf(urlBase.empty() ? origin + options.descriptionPath : urlBase,
                               controlUrlText);
    thread = std::thread([this] { Run(); });
}

cFakeGateway::impl::~impl() {
    stop = true;
    if (wake[1] >= 0) {
        char byte = 0;
        [[maybe_unused]] auto ignored = ::write(wake[1], &byte, 1);
    }
    if (thread.joinable())
        thread.join();
    for (int fd : {listenFd, wake[0], wake[1]})
        if (fd >= 0)
            ::close(fd);
}

void cFakeGateway::impl::Run() {
    std::list<cConnection> connections;
    while (!stop) {
        tClock::time_point now = tClock::now();
        int timeoutMs = kTickMs;
        std::vector<pollfd> fds{{wake[0], POLLIN, 0}, {listenFd, POLLIN, 0}};
        for (cConnection& c : connections) {
            short events = c.peerClosed ? 0 : POLLIN;
            if (!c.out.empty()) {
                if (c.due <= now)
                    events |= POLLOUT;
                else
                    timeoutMs = std::min<int>(
                        timeoutMs,
                        std::chrono::duration_cast<std::chrono::milliseconds>(c.due - now).count() +
                            1);
            }
            fds.push_back({c.fd, events, 0});
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0)
            continue;
        if (fds[0].revents) {
            char drain[64];
            while (::read(wake[0], drain, sizeof drain) > 0) {
            }
        }
        std::size_t index = 2;
        for (cConnection& c : connections) {
            short revents = fds[index++].revents;
            if (revents & (POLLIN | POLLHUP | POLLERR))
                ReadFrom(c);
            while (!c.dead && !c.deaf && !c.closeWhenSent && TakeRequest(c)) {
            }
            if (!c.dead && !c.out.empty() && c.due <= tClock::now())
                Flush(c);
            if (c.out.empty() && (c.closeWhenSent || c.peerClosed))
                c.dead = true;
        }
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->dead) {
                ::close(it->fd);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
        if (fds[1].revents & POLLIN)
            Accept(connections);
    }
    for (cConnection& c : connections)
        ::close(c.fd);
}

void cFakeGateway::impl::Accept(std::list<cConnection>& connections) {
    for (;;) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        cConnection connection;
        connection.fd = fd;
        {
            std::lock_guard<std::mutex> lock(mutex);
            connection.number = ++connectionCount;
        }
        connections.push_back(std::move(connection));
    }
}

void cFakeGateway::impl::ReadFrom(cConnection& c) {
    char block[16384];
    for (;;) {
        ssize_t n = ::recv(c.fd, block, sizeof block, 0);
        if (n > 0) {
            if (!c.deaf)
                c.in.append(block, n);
            continue;
        }
        if (n == 0)
            c.peerClosed = true;
        else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            c.dead = true;
        return;
    }
}

bool cFakeGateway::impl::TakeRequest(cConnection& c) {
    cRequest request;
    request.connection = c.number;
    std::size_t end = c.in.find("\r\n\r\n");
    if (end == std::string::npos) {
        // LF-only header blocks are refused, as strict gateways do; oversized
        // ones too.
        bool lfOnly = c.in.find("\n\n") != std::string::npos;
        if (!lfOnly && c.in.size() <= kMaxRequestBytes)
            return false;
        request.raw = c.in;
        c.in.clear();
        ParseHeaderBlock(request.raw, request);
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(request);
        changed.notify_all();
        Queue(c, Framed(eMode::kNormal, lfOnly ? 400 : 413, ""));
        return false;
    }
    std::string block = c.in.substr(0, end);
    int status = ParseHeaderBlock(block, request) ? 0 : 400;
    std::size_t bodyLength = 0;
    if (status == 0 && request.HasHeader("Transfer-Encoding"))
        status = 400;
    if (status == 0 && request.HasHeader("Content-Length")) {
        std::string text = request.Header("Content-Length");
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
            text.size() > 9)
            status = 400;
        else
            bodyLength = std::stoul(text);
    } else if (status == 0 && request.method == "POST") {
        status = 411;
    }
    if (status == 0 && !request.HasHeader("HOST"))
        status = 400;
    if (end + 4 + bodyLength > kMaxRequestBytes)
        status = 413;
    if (status == 0 && c.in.size() < end + 4 + bodyLength)
        return false;
    std::size_t taken = status == 0 ? end + 4 + bodyLength : c.in.size();
    request.raw = c.in.substr(0, taken);
    request.body = request.raw.substr(std::min(taken, end + 4));
    c.in.erase(0, taken);
    {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(request);
        changed.notify_all();
    }
    if (status != 0) {
        Queue(c, Framed(eMode::kNormal, status, ""));
        return false;
    }
    Queue(c, Respond(request));
    return true;
}

cReply cFakeGateway::impl::Respond(const cRequest& request) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!rawReply.empty()) {
        cReply reply;
        reply.segments.push_back({rawReply});
        return reply;
    }
    if (request.path == options.descriptionPath) {
        if (request.method != "GET")
            return Framed(eMode::kNormal, 405, "");
        return Framed(descriptionMode, descriptionStatus,
                      descriptionStatus == 200 ? description : "");
    }
    if (request.path == controlPath) {
        if (request.method != "POST")
            return Framed(eMode::kNormal, 405, "");
        fake_igd::cOutcome outcome =
            fake_igd::HandleControl(request, options.serviceType, options.externalAddress, mappings,
                                    canned ? &cannedReply : nullptr, addPolicy, queries);
        return Framed(controlMode, outcome.status, outcome.body);
    }
    if (request.path == kCommonControlPath && options.rawDescription.empty())
        return RespondCommonInterface(request);
    return Framed(eMode::kNormal, 404, "");
}

// WANCommonInterfaceConfig, at the control URL the built description gives
// it. The caller holds the lock.
cReply cFakeGateway::impl::RespondCommonInterface(const cRequest& request) {
    if (request.method != "POST")
        return Framed(eMode::kNormal, 405, "");
    std::vector<cMapping> none;
    const fake_igd::cOutcome outcome = fake_igd::HandleControl(
        request, "urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1",
        options.externalAddress, none, canned ? &cannedReply : nullptr, addPolicy, queries);
    return Framed(controlMode, outcome.status, outcome.body);
}

void cFakeGateway::impl::Queue(cConnection& c, const cReply& reply) {
    if (c.out.empty() && !reply.segments.empty())
        c.due = tClock::now() + std::chrono::milliseconds(reply.segments.front().delayMs);
    for (const cSegment& segment : reply.segments)
        c.out.push_back(segment);
    c.closeWhenSent = c.closeWhenSent || reply.close;
    c.deaf = c.deaf || reply.deaf;
    if (c.deaf)
        c.in.clear();
}

void cFakeGateway::impl::Flush(cConnection& c) {
    while (!c.out.empty() && c.due <= tClock::now()) {
        const std::string& data = c.out.front().data;
        if (c.sent < data.size()) {
            ssize_t n = ::send(c.fd, data.data() + c.sent, data.size() - c.sent, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    c.dead = true;
                return;
            }
            c.sent += n;
            if (c.sent < data.size())
                return;
        }
        c.out.pop_front();
        c.sent = 0;
        if (!c.out.empty())
            c.due = tClock::now() + std::chrono::milliseconds(c.out.front().delayMs);
    }
}

cFakeGateway::cFakeGateway() : cFakeGateway(cOptions()) {}

cFakeGateway::cFakeGateway(const cOptions& options) : pimpl(std::make_unique<impl>(options)) {}

cFakeGateway::~cFakeGateway() = default;

bool cFakeGateway::IsRunning() const {
    return pimpl->listenFd >= 0;
}
std::uint16_t cFakeGateway::GetPort() const {
    return pimpl->port;
}
std::string cFakeGateway::GetAddress() const {
    return pimpl->options.address;
}
std::string cFakeGateway::GetOrigin() const {
    return pimpl->origin;
}
std::string cFakeGateway::GetDescriptionUrl() const {
    return pimpl->origin + pimpl->options.descriptionPath;
}
std::string cFakeGateway::GetControlUrl() const {
    return pimpl->origin + pimpl->controlPath;
}
std::string cFakeGateway::GetControlPath() const {
    return pimpl->controlPath;
}
std::string cFakeGateway::GetServiceType() const {
    return pimpl->options.serviceType;
}
std::string cFakeGateway::GetDescription() const {
    return pimpl->description;
}

void cFakeGateway::SetMode(eMode mode) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->descriptionMode = pimpl->controlMode = mode;
}

void cFakeGateway::SetDescriptionMode(eMode mode) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->descriptionMode = mode;
}

void cFakeGateway::SetControlMode(eMode mode) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->controlMode = mode;
}

void cFakeGateway::SetDescriptionStatus(int status) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->descriptionStatus = status;
}

void cFakeGateway::SetExternalAddress(const std::string& address) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->options.externalAddress = address;
}

void cFakeGateway::SetCannedReply(int status, const std::string& body) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->canned = true;
    pimpl->cannedReply = {status, body};
}

void cFakeGateway::SetRawReply(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->rawReply = bytes;
}

void cFakeGateway::SetAddPolicy(const cAddPolicy& policy) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->addPolicy = policy;
}

void cFakeGateway::ClearCannedReply() {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->canned = false;
}

std::vector<cFakeGateway::cRequest> cFakeGateway::Requests() const {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    return pimpl->requests;
}

std::size_t cFakeGateway::RequestCount() const {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    return pimpl->requests.size();
}

void cFakeGateway::ClearRequests() {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->requests.clear();
}

bool cFakeGateway::WaitForRequests(std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(pimpl->mutex);
    return pimpl->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return pimpl->requests.size() >= count; });
}

int cFakeGateway::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    return pimpl->connectionCount;
}

void cFakeGateway::SetMappings(const std::vector<cMapping>& mappings) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->mappings = mappings;
}

std::vector<cFakeGateway::cMapping> cFakeGateway::Mappings() const {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    return pimpl->mappings;
}

void cFakeGateway::SetQueryAnswers(const cQueryAnswers& answers) {
    std::lock_guard<std::mutex> lock(pimpl->mutex);
    pimpl->queries = answers;
}
