#pragma once

// A fake Internet gateway device for tests: an HTTP server in its own thread
// that serves a device description and a strict SOAP control endpoint over an
// in-memory port-mapping table, and records every request byte for byte.
//
//   cFakeGateway::cOptions options;
//   options.address = kTestInterfaceAddress;      // default 127.0.0.1
//   options.controlUrlText = "ctl/ip";            // as written in the description
//   cFakeGateway gateway(options);                // listening when this returns
//   ASSERT_TRUE(gateway.IsRunning());
//   ... point the client at gateway.DescriptionUrl() ...
//   EXPECT_EQ(gateway.Requests().at(0).path, "/igd/desc.xml");
//
// Strictness: an unknown path gets 404; a POST to the control path without a
// SOAPAction, or with an unquoted one, gets 400; a body that is not well-formed
// XML gets 400; a SOAPAction naming a service type the description does not
// offer (another service, or a higher version) gets a 500 UPnP fault 401.
// Header blocks must end in CR LF CR LF (an LF-only block gets 400).
//
// Fault modes change how responses go out; they apply to the responses written
// after the call (SetMode for every path, or only the description or control
// responses). To add a mode: add an enumerator and one case in Framed()
// (fake_gateway.cpp), which composes a response as timed byte segments and
// says whether the connection closes afterwards.
//
// Bounds: everything runs on one poll loop with short waits; the destructor
// stops it and closes every connection, so a test never hangs on the fake.
// Linux only (POSIX sockets).

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class cFakeGateway {
  public:
    enum class eMode {
        kNormal,           // status, Content-Length, "Connection: close", then close
        kKeepAlive,        // Content-Length, connection kept open for the next request
        kChunked,          // Transfer-Encoding: chunked in several chunks, kept open
        kCloseWithoutData, // reads the request, closes without a byte
        kSilence,          // reads the request, never answers, keeps the connection
        kServerError,      // 500 with a UPnP fault 501 "Action Failed", then close
        kGarbage,          // 200 with a body that is not XML, then close
        kTrickle,          // as kNormal, in 64-byte pieces 20 ms apart
        kHuge,             // 200 with a 3 MiB body (Content-Length), then close
        kHeadersOnly,      // status and headers promising a body, then nothing, kept open
        kDrip,             // 200 promising 1 MB, then one byte every 100 ms for a minute
    };

    struct cOptions {
        std::string address = "127.0.0.1";
        std::uint16_t port = 0; // 0: an ephemeral port
        std::string descriptionPath = "/igd/desc.xml";
        // The path requests must be posted to. Empty: derived from
        // controlUrlText resolved against the description (or URLBase), which
        // is what a correct client does.
        std::string controlPath;
        // The controlURL element's text. Empty: "/ctl/IPConn".
        std::string controlUrlText;
        // "{origin}" in urlBase, controlUrlText and rawDescription stands for
        // "http://address:port", known only once the server listens.
        std::string urlBase; // empty: no URLBase element
        std::string serviceType = "urn:schemas-upnp-org:service:WANIPConnection:1";
        std::string modelName = "Wendrel Test Gateway";
        // When not empty, served as the description instead of the built one.
        std::string rawDescription;
        std::string externalAddress = "203.0.113.7";
    };

    struct cHeader {
        std::string name; // as sent
        std::string value;
    };

    struct cRequest {
        std::string raw; // every byte of the request: header block and body
        std::string method;
        std::string path; // request target as sent
        std::string version;
        std::vector<cHeader> headers; // in the order sent
        std::string body;
        int connection = 0; // requests on one connection share this number

        // The value of the first header with this name (any letter case), or "".
        std::string Header(const std::string& name) const;
        bool HasHeader(const std::string& name) const;
        // For a SOAP request: the text after '#' of the SOAPAction, unquoted.
        std::string Action() const;
    };

    struct cMapping {
        std::string remoteHost;
        std::string protocol = "TCP";
        int externalPort = 0;
        int internalPort = 0;
        std::string internalClient;
        bool enabled = true;
        std::string description;
        int leaseDuration = 0;
    };

    // How AddPortMapping treats what it is asked for: the refusals and quiet
    // changes of real gateways that miniupnpd does not show.
    struct cAddPolicy {
        bool onlyPermanent = false; // any non-zero lease: 725
        int maxLease = 0;           // when not 0, a longer lease (or 0): 402
        bool forget = false;        // answers 200 and keeps nothing
        std::string keptDescription; // when not empty, kept instead of the one asked
    };

    cFakeGateway();
    explicit cFakeGateway(const cOptions& options);
    ~cFakeGateway();
    cFakeGateway(const cFakeGateway&) = delete;
    cFakeGateway& operator=(const cFakeGateway&) = delete;

    // False when the listening socket could not be made (address not local).
    bool IsRunning() const;
    std::uint16_t GetPort() const;
    std::string GetAddress() const;
    // "http://address:port"
    std::string GetOrigin() const;
    std::string GetDescriptionUrl() const;
    // Absolute URL of the path the control endpoint serves.
    std::string GetControlUrl() const;
    std::string GetControlPath() const;
    std::string GetServiceType() const;
    // The description text as served (built or raw).
    std::string GetDescription() const;

    void SetMode(eMode mode);
    void SetDescriptionMode(eMode mode);
    void SetControlMode(eMode mode);
    // The description path answers this status (with an empty body) instead.
    void SetDescriptionStatus(int status);
    void SetExternalAddress(const std::string& address);
    // Every accepted control request (right path, quoted SOAPAction) is answered
    // with this status and body instead of the action's own; the table is left
    // alone. ClearCannedReply returns to the actions.
    void SetCannedReply(int status, const std::string& body);
    void ClearCannedReply();
    void SetAddPolicy(const cAddPolicy& policy);
    // Every request, whatever its path, is answered with exactly these bytes,
    // then the connection is closed (it is still recorded). Empty: off.
    void SetRawReply(const std::string& bytes);

    std::vector<cRequest> Requests() const;
    std::size_t RequestCount() const;
    void ClearRequests();
    // Waits until at least count requests were recorded; false after timeoutMs.
    bool WaitForRequests(std::size_t count, int timeoutMs) const;
    // Connections accepted so far.
    int ConnectionCount() const;

    // The port-mapping table, in index order.
    void SetMappings(const std::vector<cMapping>& mappings);
    std::vector<cMapping> Mappings() const;

    // ---- Bulk listing and status queries ----

    // How GetListOfPortMappings answers (on a version 2 service; a version 1
    // service refuses it with 401 whatever is set).
    enum class eListing {
        kHonest,         // the table's mappings in range, in table order, escaped
        kTruncated,      // the honest escaped document cut off halfway
        kOverBound,      // the honest answer padded past 3 MiB
        kTooManyEntries, // 4097 entries in one answer, whatever was asked
        kEndless,        // as many entries as asked, invented, in every range
        kStuck,          // as many entries as asked, every one at the start port
        kNotXml,         // a listing that is not XML
        kWrongRoot,      // entries under another root than PortMappingList
        kBadPorts,       // entries with external ports 0, 65536 and "80x"
        kDoublyEscaped,  // the document escaped twice (&amp;lt;)
        kRefused,        // 401, as a gateway without the action
    };

    // What the query actions answer: the listing, and the outputs of the
    // status actions of the connection service and of WANCommonInterfaceConfig
    // (served at kCommonControlPath) by argument name. Any action named in
    // `refused` answers 401, as one the gateway does not offer.
    struct cQueryAnswers {
        eListing listing = eListing::kHonest;
        std::map<std::string, std::string> status = DefaultStatus();
        std::set<std::string> refused;
    };
    static std::map<std::string, std::string> DefaultStatus();
    static constexpr const char* kCommonControlPath = "/ctl/CmnIfCfg";

    void SetQueryAnswers(const cQueryAnswers& answers);

    class impl;

  private:
    std::unique_ptr<impl> pimpl;
};

// Builds a device description like a real gateway's: default namespace on
// <root>, the root device with modelName, a WANDevice and a
// WANConnectionDevice (with modelNames of their own) holding the service.
std::string BuildDescription(const std::string& urlBase, const std::string& serviceType,
                             const std::string& controlUrlText, const std::string& modelName);

// The UPnP fault body a gateway sends with status 500.
std::string BuildFault(int code, const std::string& description);
