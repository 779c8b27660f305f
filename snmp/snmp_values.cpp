// Identifiers, octet strings, addresses, targets, bindings and PDUs.

#include "snmp/snmp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

// ---- Oid

namespace {

bool parseDotted(const char* text, std::vector<std::uint32_t>& out) {
    if (text == nullptr)
        return false;
    const char* p = text;
    if (*p == '.')
        ++p;
    if (*p == '\0')
        return false;
    while (*p != '\0') {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
        std::uint64_t value = 0;
        while (std::isdigit(static_cast<unsigned char>(*p))) {
            value = value * 10 + static_cast<std::uint64_t>(*p - '0');
            if (value > 0xFFFFFFFFull)
                return false;
            ++p;
        }
        out.push_back(static_cast<std::uint32_t>(value));
        if (*p == '.') {
            ++p;
            if (*p == '\0')
                return false;
        } else if (*p != '\0') {
            return false;
        }
    }
    return true;
}

} // namespace

Oid::Oid(const char* dotted) {
    m_valid = parseDotted(dotted, m_ids);
    if (!m_valid)
        m_ids.clear();
}

Oid::Oid(const std::uint32_t* ids, std::size_t count) : m_ids(ids, ids + count) {}

std::string Oid::get_printable() const {
    std::string text;
    text.reserve(m_ids.size() * 4);
    char buffer[16];
    for (std::size_t i = 0; i < m_ids.size(); ++i) {
        int n = std::snprintf(buffer, sizeof buffer, i == 0 ? "%" PRIu32 : ".%" PRIu32, m_ids[i]);
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

bool Oid::startsWith(const Oid& prefix) const {
    if (prefix.m_ids.size() > m_ids.size())
        return false;
    return std::equal(prefix.m_ids.begin(), prefix.m_ids.end(), m_ids.begin());
}

Oid& Oid::operator+=(std::uint32_t id) {
    m_ids.push_back(id);
    return *this;
}

Oid& Oid::operator+=(const char* dotted) {
    std::vector<std::uint32_t> more;
    if (parseDotted(dotted, more))
        m_ids.insert(m_ids.end(), more.begin(), more.end());
    else
        m_valid = false;
    return *this;
}

void Oid::trim(std::size_t count) {
    m_ids.resize(count >= m_ids.size() ? 0 : m_ids.size() - count);
}

// ---- OctetStr

OctetStr::OctetStr(const char* text) {
    if (text != nullptr)
        m_bytes.assign(text, text + std::strlen(text));
}

OctetStr::OctetStr(const unsigned char* data, std::size_t length) {
    if (data != nullptr && length > 0)
        m_bytes.assign(data, data + length);
}

std::string OctetStr::get_printable() const {
    bool printable = true;
    for (unsigned char c : m_bytes) {
        if (!std::isprint(c) && !std::isspace(c)) {
            printable = false;
            break;
        }
    }
    if (printable)
        return std::string(m_bytes.begin(), m_bytes.end());
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(m_bytes.size() * 3);
    for (std::size_t i = 0; i < m_bytes.size(); ++i) {
        if (i > 0)
            hex += ' ';
        hex += digits[m_bytes[i] >> 4];
        hex += digits[m_bytes[i] & 0x0F];
    }
    return hex;
}

// ---- Addresses

void Address::setIp(std::uint32_t networkOrder, std::uint16_t port) {
    m_isIpv6 = false;
    std::memset(m_ipv6, 0, sizeof m_ipv6);
    m_ipv4 = networkOrder;
    m_port = port;
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = networkOrder;
    inet_ntop(AF_INET, &a, text, sizeof text);
    m_text = text;
    if (port != 0) {
        m_type = type_udp;
        m_text += '/';
        m_text += std::to_string(port);
    } else {
        m_type = type_ip;
    }
}

void Address::setIp6(const unsigned char* bytes, std::uint16_t port) {
    m_isIpv6 = true;
    std::memcpy(m_ipv6, bytes, sizeof m_ipv6);
    m_ipv4 = 0;
    m_port = port;
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, m_ipv6, text, sizeof text);
    m_text = text;
    if (port != 0) {
        m_type = type_udp;
        m_text += '/';
        m_text += std::to_string(port);
    } else {
        m_type = type_ip;
    }
}

bool Address::parseIp(const char* text) {
    if (text == nullptr)
        return false;
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) == 1) {
        setIp(a.s_addr, 0);
        return true;
    }
    in6_addr a6{};
    if (inet_pton(AF_INET6, text, &a6) == 1) {
        setIp6(a6.s6_addr, 0);
        return true;
    }
    return false;
}

bool Address::parseIpx(const char* text) {
    if (text == nullptr || std::strlen(text) != 21)
        return false;
    if (text[8] != '-' && text[8] != ':' && text[8] != '.')
        return false;
    unsigned char bytes[10];
    int digit = 0;
    for (int i = 0; i < 21; ++i) {
        if (i == 8)
            continue;
        int c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c))
            return false;
        int v = std::isdigit(c) ? c - '0' : std::toupper(c) - 'A' + 10;
        if (digit % 2 == 0)
            bytes[digit / 2] = static_cast<unsigned char>(v << 4);
        else
            bytes[digit / 2] |= static_cast<unsigned char>(v);
        ++digit;
    }
    std::memcpy(m_ipx, bytes, sizeof m_ipx);
    char out[22];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9]);
    m_text = out;
    m_type = type_ipx;
    return true;
}

IpAddress::IpAddress(const char* text) {
    parseIp(text);
}

IpAddress IpAddress::fromNetworkOrder(std::uint32_t address) {
    IpAddress ip;
    ip.setIp(address, 0);
    return ip;
}

IpAddress IpAddress::fromIpv6(const unsigned char* bytes) {
    IpAddress ip;
    ip.setIp6(bytes, 0);
    return ip;
}

UdpAddress::UdpAddress(const char* text) {
    if (text == nullptr)
        return;
    const char* slash = std::strchr(text, '/');
    if (slash == nullptr)
        return;
    std::string host(text, slash);
    char* end = nullptr;
    unsigned long port = std::strtoul(slash + 1, &end, 10);
    if (end == slash + 1 || *end != '\0' || port == 0 || port > 65535)
        return;
    IpAddress ip(host.c_str());
    if (ip.valid() && ip.isIpv6())
        setIp6(ip.ipv6(), static_cast<std::uint16_t>(port));
    else if (ip.valid())
        setIp(ip.ipv4(), static_cast<std::uint16_t>(port));
}

UdpAddress::UdpAddress(const IpAddress& ip, std::uint16_t port) {
    if (ip.valid() && port != 0 && ip.isIpv6())
        setIp6(ip.ipv6(), port);
    else if (ip.valid() && port != 0)
        setIp(ip.ipv4(), port);
}

IpxAddress::IpxAddress(const char* text) {
    parseIpx(text);
}

GenAddress::GenAddress(const char* text) {
    if (parseIp(text) || parseIpx(text))
        return;
    UdpAddress udp(text);
    if (udp.valid())
        *static_cast<Address*>(this) = udp;
}

GenAddress::GenAddress(const Address& other) : Address(other) {}

// ---- Targets

int SnmpTarget::get_address(GenAddress& address) const {
    address = m_address;
    return m_address.valid() ? kSnmpSuccess : kSnmpInvalidAddress;
}

CTarget::CTarget(const Address& address, const OctetStr& readCommunity, const OctetStr& writeCommunity)
    : SnmpTarget(address) {
    m_readCommunity = readCommunity;
    m_writeCommunity = writeCommunity;
}

int CTarget::resolve_to_C(OctetStr& readCommunity, OctetStr& writeCommunity, GenAddress& address,
                          unsigned long& timeout, int& retries, snmp_version& version) const {
    readCommunity = m_readCommunity;
    writeCommunity = m_writeCommunity;
    address = m_address;
    timeout = m_timeout;
    retries = m_retries;
    version = m_version;
    return valid() ? 1 : 0;
}

// ---- Vb

void Vb::set_value(const char* text) {
    set_value(OctetStr(text));
}

void Vb::set_value(const OctetStr& octets) {
    m_syntax = sNMP_SYNTAX_OCTETS;
    m_bytes.assign(octets.data(), octets.data() + octets.len());
}

void Vb::set_value(std::int32_t integer) {
    m_syntax = sNMP_SYNTAX_INT;
    m_number = static_cast<std::uint64_t>(static_cast<std::int64_t>(integer));
}

void Vb::set_value(const Oid& oid) {
    m_syntax = sNMP_SYNTAX_OID;
    m_oidValue = oid;
}

void Vb::set_value(const IpAddress& address) {
    m_syntax = sNMP_SYNTAX_IPADDR;
    m_ip = address.ipv4();
}

void Vb::set_unsigned(std::uint32_t value, SnmpSyntax syntax) {
    m_syntax = syntax;
    m_number = value;
}

void Vb::set_counter64(std::uint64_t value) {
    m_syntax = sNMP_SYNTAX_CNTR64;
    m_number = value;
}

void Vb::set_opaque(const OctetStr& octets) {
    set_value(octets);
    m_syntax = sNMP_SYNTAX_OPAQUE;
}

void Vb::set_null() {
    m_syntax = sNMP_SYNTAX_NULL;
    m_bytes.clear();
}

void Vb::set_raw(std::int32_t syntax, const unsigned char* data, std::size_t length) {
    m_syntax = syntax;
    if (data != nullptr && length > 0)
        m_bytes.assign(data, data + length);
    else
        m_bytes.clear();
}

int Vb::get_value(OctetStr& octets) const {
    if (m_syntax != sNMP_SYNTAX_OCTETS && m_syntax != sNMP_SYNTAX_OPAQUE)
        return kSnmpInvalid;
    octets = OctetStr(m_bytes.data(), m_bytes.size());
    return kSnmpSuccess;
}

int Vb::get_value(unsigned char* buffer, unsigned long& length, unsigned long maxlen, bool addNull) const {
    if ((m_syntax != sNMP_SYNTAX_OCTETS && m_syntax != sNMP_SYNTAX_OPAQUE) || buffer == nullptr ||
        maxlen == 0 || (addNull && maxlen < 1)) {
        length = 0;
        return kSnmpInvalid;
    }
    unsigned long room = addNull ? maxlen - 1 : maxlen;
    length = m_bytes.size() < room ? m_bytes.size() : room;
    if (length > 0)
        std::memcpy(buffer, m_bytes.data(), length);
    if (addNull)
        buffer[length] = 0;
    return kSnmpSuccess;
}

int Vb::get_value(std::int32_t& integer) const {
    if (m_syntax != sNMP_SYNTAX_INT)
        return kSnmpInvalid;
    integer = static_cast<std::int32_t>(static_cast<std::int64_t>(m_number));
    return kSnmpSuccess;
}

int Vb::get_value(std::uint32_t& value) const {
    switch (m_syntax) {
    case sNMP_SYNTAX_CNTR32:
    case sNMP_SYNTAX_GAUGE32:
    case sNMP_SYNTAX_TIMETICKS:
    case sNMP_SYNTAX_UINT32:
        value = static_cast<std::uint32_t>(m_number);
        return kSnmpSuccess;
    default:
        return kSnmpInvalid;
    }
}

int Vb::get_value(std::uint64_t& value) const {
    if (m_syntax != sNMP_SYNTAX_CNTR64)
        return kSnmpInvalid;
    value = m_number;
    return kSnmpSuccess;
}

int Vb::get_value(Oid& oid) const {
    if (m_syntax != sNMP_SYNTAX_OID)
        return kSnmpInvalid;
    oid = m_oidValue;
    return kSnmpSuccess;
}

std::string Vb::get_printable_value() const {
    char buffer[64];
    switch (m_syntax) {
    case sNMP_SYNTAX_INT:
        std::snprintf(buffer, sizeof buffer, "%" PRId32, static_cast<std::int32_t>(m_number));
        return buffer;
    case sNMP_SYNTAX_CNTR32:
    case sNMP_SYNTAX_GAUGE32:
    case sNMP_SYNTAX_UINT32:
    case sNMP_SYNTAX_CNTR64:
        std::snprintf(buffer, sizeof buffer, "%" PRIu64, m_number);
        return buffer;
    case sNMP_SYNTAX_TIMETICKS: {
        std::uint64_t t = m_number;
        std::snprintf(buffer, sizeof buffer, "%" PRIu64 " days, %02u:%02u:%02u.%02u", t / 8640000,
                      static_cast<unsigned>(t / 360000 % 24), static_cast<unsigned>(t / 6000 % 60),
                      static_cast<unsigned>(t / 100 % 60), static_cast<unsigned>(t % 100));
        return buffer;
    }
    case sNMP_SYNTAX_OCTETS:
    case sNMP_SYNTAX_OPAQUE:
        return OctetStr(m_bytes.data(), m_bytes.size()).get_printable();
    case sNMP_SYNTAX_OID:
        return m_oidValue.get_printable();
    case sNMP_SYNTAX_IPADDR:
        return IpAddress::fromNetworkOrder(m_ip).get_printable();
    case sNMP_SYNTAX_NULL:
        return {};
    case sNMP_SYNTAX_NOSUCHOBJECT:
        return "noSuchObject";
    case sNMP_SYNTAX_NOSUCHINSTANCE:
        return "noSuchInstance";
    case sNMP_SYNTAX_ENDOFMIBVIEW:
        return "endOfMibView";
    default:
        return OctetStr(m_bytes.data(), m_bytes.size()).get_printable();
    }
}

// ---- Pdu

bool Pdu::get_vb(Vb& vb, int index) const {
    if (index < 0 || index >= get_vb_count())
        return false;
    vb = m_vbs[static_cast<std::size_t>(index)];
    return true;
}

int Pdu::get_notify_id(Oid& id) const {
    id = m_notifyId;
    return m_notifyId.valid() ? kSnmpSuccess : kSnmpInvalid;
}

int Pdu::get_notify_enterprise(Oid& enterprise) const {
    enterprise = m_notifyEnterprise;
    return kSnmpSuccess;
}
