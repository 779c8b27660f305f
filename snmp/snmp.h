#pragma once
// SNMP layer: sessions, PDUs, variable bindings, identifiers, addresses and
// targets, carried out by Net-SNMP. Object identifiers are numeric only.
//
// Threads: snmpInit() runs once on the main thread before any other thread
// uses the layer. A session is driven by one thread only (its own run() loop,
// a Qt event loop through SnmpQtDriver, or the synchronous calls); its
// callbacks run on that thread. Only stop() may be called from elsewhere.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Results of the layer's calls and reasons given to callbacks.
enum SnmpResult : int {
    kSnmpSuccess = 0,
    kSnmpError = -1,
    kSnmpResourceUnavailable = -2,
    kSnmpInternalError = -3,
    kSnmpUnsupported = -4,
    kSnmpTimeout = -5,       // reason: a request got no answer after all retries
    kSnmpAsyncResponse = -6, // reason: the answer to an asynchronous request
    kSnmpNotification = -7,  // reason: a trap or an inform arrived
    kSnmpSessionDestroyed = -8,
    kSnmpInvalid = -10,
    kSnmpInvalidPdu = -11,
    kSnmpInvalidTarget = -12,
    kSnmpInvalidCallback = -13,
    kSnmpInvalidOid = -17,
    kSnmpInvalidAddress = -18,
    kSnmpTransportUnsupported = -20,
    kSnmpTransportInUse = -21,
    kSnmpTransportFailed = -22,
    kSnmpTransportAccessDenied = -23, // a privileged port without the right to bind it
    // SNMPv3: the agent answered but refused the request (its usmStats report),
    // or its answer could not be decrypted here. Also callback reasons.
    kSnmpUsmUnknownUser = -30,
    kSnmpUsmWrongDigest = -31,
    kSnmpUsmDecryptionError = -32,
    kSnmpUsmNotInTimeWindow = -33,
    kSnmpUsmUnknownEngineId = -34,
    kSnmpUsmUnsupportedLevel = -35,
};
// True for the SNMPv3 refusals above: the agent is there, the credentials are not right.
inline bool snmpIsRefusal(int status) {
    return status <= kSnmpUsmUnknownUser && status >= kSnmpUsmUnsupportedLevel;
}
// A synchronous get/set whose answer carries an error status returns that
// status (1 tooBig, 2 noSuchName, ..., 17 notWritable, ...) as a positive value.

// ASN.1 tags as returned by Vb::get_syntax.
enum SnmpSyntax : std::int32_t {
    sNMP_SYNTAX_INT = 0x02,
    sNMP_SYNTAX_OCTETS = 0x04,
    sNMP_SYNTAX_NULL = 0x05,
    sNMP_SYNTAX_OID = 0x06,
    sNMP_SYNTAX_IPADDR = 0x40,
    sNMP_SYNTAX_CNTR32 = 0x41,
    sNMP_SYNTAX_GAUGE32 = 0x42,
    sNMP_SYNTAX_TIMETICKS = 0x43,
    sNMP_SYNTAX_OPAQUE = 0x44,
    sNMP_SYNTAX_CNTR64 = 0x46,
    sNMP_SYNTAX_UINT32 = 0x47,
    sNMP_SYNTAX_NOSUCHOBJECT = 0x80,
    sNMP_SYNTAX_NOSUCHINSTANCE = 0x81,
    sNMP_SYNTAX_ENDOFMIBVIEW = 0x82,
};

enum snmp_version : int { version1 = 0, version2c = 1, version3 = 3 };

// Initialises Net-SNMP once: no configuration files, no MIB files. Later calls
// return the first result. 0 on success.
int snmpInit();

class Oid {
public:
    Oid() = default;
    explicit Oid(const char* dotted); // "1.3.6.1" or ".1.3.6.1"; anything else is invalid
    explicit Oid(const std::string& dotted) : Oid(dotted.c_str()) {}
    Oid(const std::uint32_t* ids, std::size_t count);

    bool valid() const { return m_valid && !m_ids.empty(); }
    std::size_t len() const { return m_ids.size(); }
    std::uint32_t operator[](std::size_t i) const { return m_ids[i]; }
    const std::vector<std::uint32_t>& ids() const { return m_ids; }
    std::string get_printable() const;
    // True when this identifier starts with all of prefix's sub-identifiers.
    bool startsWith(const Oid& prefix) const;
    Oid& operator+=(std::uint32_t id);
    Oid& operator+=(const char* dotted);
    void trim(std::size_t count = 1);
    bool operator==(const Oid& other) const { return m_valid == other.m_valid && m_ids == other.m_ids; }

private:
    std::vector<std::uint32_t> m_ids;
    bool m_valid = true;
};

class OctetStr {
public:
    OctetStr() = default;
    OctetStr(const char* text); // NOLINT: implicit as with a string literal
    OctetStr(const unsigned char* data, std::size_t length);

    bool valid() const { return true; }
    std::size_t len() const { return m_bytes.size(); }
    const unsigned char* data() const { return m_bytes.data(); }
    unsigned char operator[](std::size_t i) const { return m_bytes[i]; }
    // The octets as text when all are printable, else as hexadecimal pairs.
    std::string get_printable() const;
    bool operator==(const OctetStr& other) const { return m_bytes == other.m_bytes; }

private:
    std::vector<unsigned char> m_bytes;
};

class Address {
public:
    enum addr_type { type_ip, type_ipx, type_udp, type_ipxsock, type_mac, type_invalid };

    virtual ~Address() = default;
    bool valid() const { return m_type != type_invalid; }
    addr_type get_type() const { return m_type; }
    const std::string& get_printable() const { return m_text; }
    // IPv4 address in network byte order (IP and UDP addresses only).
    std::uint32_t ipv4() const { return m_ipv4; }
    // An IP or UDP address of the IPv6 family, whose 16 bytes ipv6() holds
    // (ipv4() is then 0).
    bool isIpv6() const { return m_isIpv6; }
    const unsigned char* ipv6() const { return m_ipv6; }
    // UDP port, 0 when the address does not name one.
    std::uint16_t port() const { return m_port; }
    // Network (4 bytes) and node (6 bytes) of an IPX address.
    const unsigned char* ipx() const { return m_ipx; }

protected:
    void setIp(std::uint32_t networkOrder, std::uint16_t port);
    void setIp6(const unsigned char* bytes, std::uint16_t port);
    // A dotted IPv4 text, or an IPv6 text (no zone).
    bool parseIp(const char* text);
    bool parseIpx(const char* text);

    addr_type m_type = type_invalid;
    std::uint32_t m_ipv4 = 0;
    std::uint16_t m_port = 0;
    unsigned char m_ipx[10] = {};
    bool m_isIpv6 = false;
    unsigned char m_ipv6[16] = {};
    std::string m_text;
};

// Dotted IPv4 address "a.b.c.d", or an IPv6 address ("fd00::1"), printed in
// its canonical form.
class IpAddress : public Address {
public:
    IpAddress() = default;
    explicit IpAddress(const char* text);
    explicit IpAddress(const std::string& text) : IpAddress(text.c_str()) {}
    static IpAddress fromNetworkOrder(std::uint32_t address);
    static IpAddress fromIpv6(const unsigned char* bytes);
};

// IP address with a UDP port: "a.b.c.d/port" (or "fd00::1/port").
class UdpAddress : public Address {
public:
    UdpAddress() = default;
    explicit UdpAddress(const char* text);
    UdpAddress(const IpAddress& ip, std::uint16_t port);
};

// IPX address: 8 hexadecimal digits of network, a separator ('-', ':' or '.')
// and 12 of node; printed as "NNNNNNNN-HHHHHHHHHHHH".
class IpxAddress : public Address {
public:
    IpxAddress() = default;
    explicit IpxAddress(const char* text);
    explicit IpxAddress(const std::string& text) : IpxAddress(text.c_str()) {}
};

// Any of the above, recognised from its text or copied from another address.
class GenAddress : public Address {
public:
    GenAddress() = default;
    explicit GenAddress(const char* text);
    GenAddress(const Address& other); // NOLINT: converting as Address slices
};

class SnmpTarget {
public:
    SnmpTarget() = default;
    explicit SnmpTarget(const Address& address) : m_address(address) {}
    virtual ~SnmpTarget() = default;
    virtual std::unique_ptr<SnmpTarget> clone() const { return std::make_unique<SnmpTarget>(*this); }

    bool valid() const { return m_address.valid(); }
    void set_retry(int retries) { m_retries = retries < 0 ? 0 : retries; }
    int get_retry() const { return m_retries; }
    // Time-out of one attempt in hundredths of a second.
    void set_timeout(unsigned long hundredths) { m_timeout = hundredths; }
    unsigned long get_timeout() const { return m_timeout; }
    int get_address(GenAddress& address) const;
    void set_address(const Address& address) { m_address = address; }
    snmp_version get_version() const { return m_version; }
    void set_version(snmp_version version) { m_version = version; }
    const OctetStr& readCommunity() const { return m_readCommunity; }
    const OctetStr& writeCommunity() const { return m_writeCommunity; }
    // SNMPv3 (version3): the USM user, its level (snmpv3::Level) and the
    // agent's engine ID as raw octets (empty: the session discovers it).
    void set_security(const std::string& user, int level) {
        m_securityName = user;
        m_securityLevel = level;
    }
    const std::string& securityName() const { return m_securityName; }
    int securityLevel() const { return m_securityLevel; }
    void set_engine_id(const std::string& engineId) { m_engineId = engineId; }
    const std::string& engineId() const { return m_engineId; }

protected:
    GenAddress m_address;
    int m_retries = 1;
    unsigned long m_timeout = 100;
    snmp_version m_version = version1;
    OctetStr m_readCommunity{"public"};
    OctetStr m_writeCommunity{"public"};
    std::string m_securityName;
    int m_securityLevel = 1;
    std::string m_engineId;
};

// Community-based target (SNMPv1 unless set otherwise).
class CTarget : public SnmpTarget {
public:
    CTarget() = default;
    explicit CTarget(const Address& address) : SnmpTarget(address) {}
    CTarget(const Address& address, const OctetStr& readCommunity, const OctetStr& writeCommunity);
    std::unique_ptr<SnmpTarget> clone() const override { return std::make_unique<CTarget>(*this); }

    void set_readcommunity(const OctetStr& community) { m_readCommunity = community; }
    void set_writecommunity(const OctetStr& community) { m_writeCommunity = community; }
    void get_readcommunity(OctetStr& community) const { community = m_readCommunity; }
    void get_writecommunity(OctetStr& community) const { community = m_writeCommunity; }
    int resolve_to_C(OctetStr& readCommunity, OctetStr& writeCommunity, GenAddress& address,
                     unsigned long& timeout, int& retries, snmp_version& version) const;
};

class Vb {
public:
    Vb() = default;
    explicit Vb(const Oid& oid) : m_oid(oid) {}

    void set_oid(const Oid& oid) { m_oid = oid; }
    void get_oid(Oid& oid) const { oid = m_oid; }
    const Oid& oid() const { return m_oid; }
    std::string get_printable_oid() const { return m_oid.get_printable(); }

    void set_value(const char* text); // OCTET STRING without a terminating zero
    void set_value(const OctetStr& octets);
    void set_value(std::int32_t integer);
    void set_value(const Oid& oid);
    void set_value(const IpAddress& address);
    // Counter32, Gauge32, TimeTicks or UInteger32.
    void set_unsigned(std::uint32_t value, SnmpSyntax syntax);
    void set_counter64(std::uint64_t value);
    void set_opaque(const OctetStr& octets);
    void set_null();
    // Exception values (noSuchObject, ...) and types the layer does not model.
    void set_raw(std::int32_t syntax, const unsigned char* data, std::size_t length);

    std::int32_t get_syntax() const { return m_syntax; }
    int get_value(OctetStr& octets) const;
    // Copies at most maxlen octets (one less with addNull, which then ends them with 0).
    int get_value(unsigned char* buffer, unsigned long& length, unsigned long maxlen,
                  bool addNull = false) const;
    int get_value(std::int32_t& integer) const;
    int get_value(std::uint32_t& value) const;
    int get_value(std::uint64_t& value) const;
    int get_value(Oid& oid) const;
    std::string get_printable_value() const;

private:
    Oid m_oid;
    std::int32_t m_syntax = sNMP_SYNTAX_NULL;
    std::uint64_t m_number = 0;         // integers, counters, ticks (signed values as two's complement)
    std::vector<unsigned char> m_bytes; // octets, opaque, raw
    Oid m_oidValue;                     // OBJECT IDENTIFIER values
    std::uint32_t m_ip = 0;             // IpAddress values, network order
};

class Pdu {
public:
    Pdu() = default;
    Pdu& operator+=(const Vb& vb) {
        m_vbs.push_back(vb);
        return *this;
    }
    int get_vb_count() const { return static_cast<int>(m_vbs.size()); }
    bool get_vb(Vb& vb, int index) const;
    const std::vector<Vb>& vbs() const { return m_vbs; }
    void clear_vbs() { m_vbs.clear(); }

    // Notification identifier and enterprise (for traps: RFC 3584 mapping).
    int get_notify_id(Oid& id) const;
    int get_notify_enterprise(Oid& enterprise) const;
    void set_notify_id(const Oid& id) { m_notifyId = id; }
    void set_notify_enterprise(const Oid& enterprise) { m_notifyEnterprise = enterprise; }
    std::uint32_t get_notify_timestamp() const { return m_timestamp; }
    void set_notify_timestamp(std::uint32_t ticks) { m_timestamp = ticks; }

    int get_error_status() const { return m_errorStatus; }
    int get_error_index() const { return m_errorIndex; }
    void set_error(int status, int index) {
        m_errorStatus = status;
        m_errorIndex = index;
    }
    // Net-SNMP message type (0xA0 get, 0xA2 response, 0xA4 v1 trap, 0xA6 inform, 0xA7 v2 trap).
    int get_type() const { return m_type; }
    void set_type(int type) { m_type = type; }

private:
    std::vector<Vb> m_vbs;
    Oid m_notifyId;
    Oid m_notifyEnterprise;
    std::uint32_t m_timestamp = 0;
    int m_errorStatus = 0;
    int m_errorIndex = 0;
    int m_type = 0;
};

class OidCollection {
public:
    OidCollection& operator+=(const Oid& oid) {
        m_items.push_back(oid);
        return *this;
    }
    int size() const { return static_cast<int>(m_items.size()); }
    const std::vector<Oid>& items() const { return m_items; }

private:
    std::vector<Oid> m_items;
};

class TargetCollection {
public:
    TargetCollection& operator+=(const SnmpTarget& target) {
        m_items.push_back(target.clone());
        return *this;
    }
    int size() const { return static_cast<int>(m_items.size()); }
    const std::vector<std::shared_ptr<SnmpTarget>>& items() const { return m_items; }

private:
    std::vector<std::shared_ptr<SnmpTarget>> m_items;
};

// SNMPv3 messages the security subsystem refused (its usmStats counters).
struct UsmRefusals {
    std::string sender; // dotted IPv4, or empty for the whole process
    std::uint64_t unknownEngineIds = 0;
    std::uint64_t unknownUserNames = 0;
    std::uint64_t wrongDigests = 0;
    std::uint64_t notInTimeWindows = 0;
    std::uint64_t decryptionErrors = 0;
    std::uint64_t unsupportedLevels = 0;
    std::uint64_t total() const {
        return unknownEngineIds + unknownUserNames + wrongDigests + notInTimeWindows + decryptionErrors +
               unsupportedLevels;
    }
};

class Snmp;
using snmp_callback = void (*)(int reason, Snmp* session, Pdu& pdu, SnmpTarget& target, void* data);

class Snmp {
public:
    // Opens a UDP session on local port `port` of every local IPv4 address
    // (0: any free port). status: 0, or kSnmpTransportInUse / kSnmpTransportAccessDenied
    // / kSnmpTransportFailed / kSnmpResourceUnavailable. Beside it the session
    // holds a UDP socket of the IPv6 family on the same port (bound IPv6-only;
    // its own free port for 0), through which IPv6 targets are reached and
    // IPv6 senders heard; ip6Status() says whether it opened. When the machine has
    // IPX, the session also holds IPX socket `ipxSocket` (0: any free one) and
    // IpxAddress targets are reached over it (agent socket 0x900F); without
    // IPX, or with that socket taken, their attempts are lost.
    explicit Snmp(int& status, std::uint16_t port = 0, std::uint16_t ipxSocket = 0);
    ~Snmp();
    Snmp(const Snmp&) = delete;
    Snmp& operator=(const Snmp&) = delete;

    // Notifications (v1 and v2c traps, informs) whose identifier starts with one
    // of ids (all when empty) from one of targets' addresses (all when empty)
    // reach callback with reason -7. Informs are answered whether or not they
    // pass. A second call replaces the first. 0 on success.
    int notify_register(const OidCollection& ids, const TargetCollection& targets, snmp_callback callback,
                        const void* data = nullptr);
    void notify_unregister();

    // Asynchronous get: callback gets -6 with the answer or -5 after
    // retry + 1 attempts of timeout each. 0 when sent.
    int get(const Pdu& pdu, const SnmpTarget& target, snmp_callback callback, void* data);
    // Synchronous get and set: wait for the answer; pdu receives its bindings.
    int get(Pdu& pdu, const SnmpTarget& target);
    int set(Pdu& pdu, const SnmpTarget& target);

    // Driving the session.
    // Runs the session until stop(); returns 0, or -1 when waiting failed.
    int run();
    // Ends run() for good; callable from any thread.
    void stop();
    int socketDescriptor() const;
    // The IPX socket, -1 when the session has none; a driver watches it too.
    int ipxSocketDescriptor() const;
    // The IPv6 socket, -1 when the session has none; a driver watches it too.
    int ip6SocketDescriptor() const;
    // 0 when the IPv6 socket opened; kSnmpUnsupported when the machine has no
    // IPv6, else a status as the constructor's. Without it the attempts to
    // IPv6 targets are lost.
    int ip6Status() const;
    std::uint16_t localPort() const;
    // Reads what the socket holds (at most max datagrams), handles time-outs
    // and calls the callbacks that are due.
    void processReadable(int max = 256);
    void processTimeouts();
    // Milliseconds until the next time-out to handle, -1 when none is pending.
    int nextTimeoutMs() const;
    // Called (on the driving thread) after a request was sent or handled, so a
    // driver can re-arm its timer.
    void setScheduleHook(std::function<void()> hook);

    // Receiving through a thread of the session's own that only copies
    // datagrams off the socket into memory (recvmmsg, in batches), so the
    // kernel's buffer empties as fast as senders fill it; run() and
    // processReadable() then parse from that memory, and answers still leave
    // through the socket. Asks for a receive buffer of bufferBytes
    // (SO_RCVBUFFORCE, else SO_RCVBUF, which net.core.rmem_max caps); at most
    // queueBytes of datagrams wait in memory, those beyond are dropped. Call
    // once, before the session is driven. 0 on success.
    int receiveInBackground(int bufferBytes, std::size_t queueBytes = kDefaultReceiveQueue);
    static constexpr std::size_t kDefaultReceiveQueue = 32u << 20;
    // Datagrams lost on the way in: dropped by the kernel for want of buffer
    // space, dropped by the receiving thread for want of room in its queue,
    // and notifications the user could not take (countLost).
    std::uint64_t droppedDatagrams() const;
    // Called by run() on the driving thread when datagrams were lost, with
    // the number lost since the last call: once per burst, when the socket
    // has been quiet for half a second (or every 5 s while it never is).
    void setLossHook(std::function<void(std::uint64_t lost)> hook);
    // A notification callback could not take count notifications: they are
    // lost, reported with the others. Callable from any thread.
    void countLost(std::uint64_t count);
    // Called by run() of a session that receives in the background, once per
    // burst like the loss hook, with each sender (dotted IPv4) whose SNMPv3
    // messages the security subsystem refused since the last call.
    void setRefusalHook(std::function<void(const std::vector<UsmRefusals>&)> hook);

    struct Impl;

private:
    friend struct SnmpAccess;
    int request(int command, Pdu* pdu, const SnmpTarget& target, snmp_callback callback, void* data,
                bool wait);
    std::unique_ptr<Impl> m_impl;
};

// ---- SNMPv3 (USM), on Net-SNMP's user list, keys and counters. The user list
// is the process's: a user serves every session. Calls from any thread.
// ---- SNMPv3 (USM), on Net-SNMP's user list, keys and counters. The user list
// is the process's: a user serves every session. Calls from any thread.
namespace snmpv3 {
enum Level : int { kNoAuthNoPriv = 1, kAuthNoPriv = 2, kAuthPriv = 3 };
enum Auth : int { kAuthNone = 0, kAuthMd5, kAuthSha, kAuthSha224, kAuthSha256, kAuthSha384, kAuthSha512 };
enum Priv : int { kPrivNone = 0, kPrivDes, kPrivAes, kPrivAes192, kPrivAes256 };

// Turns SNMPv3 on for the process (off until then: v3 messages are refused
// unread), with engineId (raw octets, 5 to 32) as the console's own engine
// ID. 0 on success.
int enable(const std::string& engineId);
bool enabled();
// A fresh engine ID: RFC 3411 format, Net-SNMP's enterprise, random octets.
std::string generateEngineId();
std::string localEngineId();

// The master key of a pass phrase (RFC 3414 password to key); empty when the
// phrase is refused (fewer than 8 characters) or the protocol is none.
std::string passwordToKey(int auth, const std::string& passphrase);
// A master key localized for an engine; the privacy key is cut, or extended,
// to the length its protocol needs.
std::string localizeAuthKey(int auth, const std::string& masterKey, const std::string& engineId);
std::string localizePrivKey(int auth, int priv, const std::string& masterKey, const std::string& engineId);

// Puts user name of engineId (its keys localized for that engine) into the
// user list, in place of one of that name and engine. 0 on success.
int addUser(const std::string& name, const std::string& engineId, int level, int auth,
            const std::string& authKey, int priv, const std::string& privKey);
void removeUser(const std::string& name, const std::string& engineId);
// Master keys of user name for the agent at address:port (an IPv4 or IPv6
// text; port 0 for 161): when a request discovers that agent's engine, the
// user is added localized for it.
void setMasterKeys(const std::string& address, std::uint16_t port, const std::string& name, int level,
                   int auth, const std::string& authMaster, int priv, const std::string& privMaster);
void clearMasterKeys(const std::string& address, std::uint16_t port);
// The engine ID a request discovered for the agent at address:port; empty when none.
std::string learntEngineId(const std::string& address, std::uint16_t port = 161);
// The process's usmStats counters.
UsmRefusals refusals();

// Raw octets as hexadecimal pairs and back; false for text that is none.
std::string toHex(const std::string& octets);
bool fromHex(const std::string& text, std::string& octets);
} // namespace snmpv3
