// Conversions between the layer's values and Net-SNMP's.

#include "snmp/snmp_session_impl.h"

#include <netinet/in.h>

namespace {
const std::uint32_t kSysUpTime0[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const std::uint32_t kSnmpTrapOid0[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const std::uint32_t kSnmpTrapEnterprise0[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 3, 0};
const std::uint32_t kSnmpTraps[] = {1, 3, 6, 1, 6, 3, 1, 1, 5};

bool sameOid(const netsnmp_variable_list* v, const std::uint32_t* ids, std::size_t count) {
    if (v->name == nullptr || v->name_length != count)
        return false;
    for (std::size_t i = 0; i < count; ++i)
        if (v->name[i] != ids[i])
            return false;
    return true;
}

Oid oidFrom(const oid* ids, std::size_t count) {
    std::vector<std::uint32_t> v(count);
    for (std::size_t i = 0; i < count; ++i)
        v[i] = static_cast<std::uint32_t>(ids[i]);
    return Oid(v.data(), v.size());
}

} // namespace

namespace snmp_detail {

Vb vbFrom(const netsnmp_variable_list* v) {
    Vb vb(v->name != nullptr ? oidFrom(v->name, v->name_length) : Oid());
    const bool hasValue = v->val.string != nullptr && v->val_len > 0;
    switch (v->type) {
    case ASN_INTEGER:
        if (hasValue && v->val_len >= sizeof(long))
            vb.set_value(static_cast<std::int32_t>(*v->val.integer));
        else
            vb.set_raw(v->type, nullptr, 0);
        break;
    case ASN_OCTET_STR:
        vb.set_value(OctetStr(hasValue ? v->val.string : nullptr, hasValue ? v->val_len : 0));
        break;
    case ASN_OPAQUE:
        vb.set_opaque(OctetStr(hasValue ? v->val.string : nullptr, hasValue ? v->val_len : 0));
        break;
    case ASN_OBJECT_ID:
        vb.set_value(hasValue ? oidFrom(v->val.objid, v->val_len / sizeof(oid)) : Oid());
        break;
    case ASN_IPADDRESS:
        if (hasValue && v->val_len == 4) {
            std::uint32_t a;
            std::memcpy(&a, v->val.string, 4);
            vb.set_value(IpAddress::fromNetworkOrder(a));
        } else {
            vb.set_raw(v->type, hasValue ? v->val.string : nullptr, hasValue ? v->val_len : 0);
        }
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
        if (hasValue && v->val_len >= sizeof(long))
            vb.set_unsigned(static_cast<std::uint32_t>(*v->val.integer), static_cast<SnmpSyntax>(v->type));
        else
            vb.set_raw(v->type, nullptr, 0);
        break;
    case ASN_COUNTER64:
        if (hasValue && v->val_len >= sizeof(counter64))
            vb.set_counter64((static_cast<std::uint64_t>(v->val.counter64->high) << 32) |
                             (v->val.counter64->low & 0xFFFFFFFFu));
        else
            vb.set_raw(v->type, nullptr, 0);
        break;
    case ASN_NULL:
        vb.set_null();
        break;
    default:
        vb.set_raw(v->type, hasValue ? v->val.string : nullptr, hasValue ? v->val_len : 0);
        break;
    }
    return vb;
}

bool senderOf(const netsnmp_pdu* pdu, std::uint32_t& ip, std::uint16_t& port) {
    if (pdu->transport_data == nullptr || pdu->transport_data_length != sizeof(netsnmp_indexed_addr_pair))
        return false;
    const auto* pair = static_cast<const netsnmp_indexed_addr_pair*>(pdu->transport_data);
    if (pair->remote_addr.sin.sin_family != AF_INET)
        return false;
    ip = pair->remote_addr.sin.sin_addr.s_addr;
    port = ntohs(pair->remote_addr.sin.sin_port);
    return true;
}

bool sender6Of(const netsnmp_pdu* pdu, unsigned char (&ip)[16], std::uint16_t& port) {
    const sockaddr_in6* from = nullptr;
    if (pdu->transport_data == nullptr)
        return false;
    // Net-SNMP's IPv6 receive gives the bare socket address.
    if (pdu->transport_data_length == sizeof(sockaddr_in6))
        from = static_cast<const sockaddr_in6*>(pdu->transport_data);
    else if (pdu->transport_data_length == sizeof(netsnmp_indexed_addr_pair))
        from = &static_cast<const netsnmp_indexed_addr_pair*>(pdu->transport_data)->remote_addr.sin6;
    if (from == nullptr || from->sin6_family != AF_INET6)
        return false;
    std::memcpy(ip, from->sin6_addr.s6_addr, sizeof ip);
    port = ntohs(from->sin6_port);
    return true;
}

// Fills out from a received notification: identifier and enterprise as RFC
// 3584 maps them, the bindings less sysUpTime.0 and snmpTrapOID.0.
bool notificationFrom(const netsnmp_pdu* pdu, Pdu& out) {
    out.set_type(pdu->command);
    if (pdu->command == SNMP_MSG_TRAP) {
        Oid enterprise =
            pdu->enterprise != nullptr ? oidFrom(pdu->enterprise, pdu->enterprise_length) : Oid();
        Oid id;
        if (pdu->trap_type == SNMP_TRAP_ENTERPRISESPECIFIC) {
            id = enterprise;
            id += 0u;
            id += static_cast<std::uint32_t>(pdu->specific_type);
        } else {
            id = Oid(kSnmpTraps, std::size(kSnmpTraps));
            id += static_cast<std::uint32_t>(pdu->trap_type + 1);
        }
        out.set_notify_id(id);
        out.set_notify_enterprise(enterprise);
        out.set_notify_timestamp(static_cast<std::uint32_t>(pdu->time));
        for (const netsnmp_variable_list* v = pdu->variables; v != nullptr; v = v->next_variable)
            out += vbFrom(v);
        return true;
    }
    const netsnmp_variable_list* upTime = pdu->variables;
    if (upTime == nullptr || !sameOid(upTime, kSysUpTime0, std::size(kSysUpTime0)))
        return false;
    const netsnmp_variable_list* trapOid = upTime->next_variable;
    if (trapOid == nullptr || !sameOid(trapOid, kSnmpTrapOid0, std::size(kSnmpTrapOid0)) ||
        trapOid->type != ASN_OBJECT_ID || trapOid->val.objid == nullptr || trapOid->val_len < sizeof(oid))
        return false;
    Oid id = oidFrom(trapOid->val.objid, trapOid->val_len / sizeof(oid));
    out.set_notify_id(id);
    if (upTime->type == ASN_TIMETICKS && upTime->val.integer != nullptr && upTime->val_len >= sizeof(long))
        out.set_notify_timestamp(static_cast<std::uint32_t>(*upTime->val.integer));
    bool haveEnterprise = false;
    for (const netsnmp_variable_list* v = trapOid->next_variable; v != nullptr; v = v->next_variable) {
        if (!haveEnterprise && sameOid(v, kSnmpTrapEnterprise0, std::size(kSnmpTrapEnterprise0)) &&
            v->type == ASN_OBJECT_ID && v->val.objid != nullptr) {
            out.set_notify_enterprise(oidFrom(v->val.objid, v->val_len / sizeof(oid)));
            haveEnterprise = true;
        }
        out += vbFrom(v);
    }
    if (!haveEnterprise) {
        Oid enterprise = id;
        enterprise.trim();
        if (enterprise.len() > 0 && enterprise[enterprise.len() - 1] == 0)
            enterprise.trim();
        out.set_notify_enterprise(enterprise);
    }
    return true;
}

int addBinding(netsnmp_pdu* message, const Vb& vb, bool withValue) {
    const Oid& name = vb.oid();
    if (!name.valid() || name.len() > MAX_OID_LEN)
        return kSnmpInvalidOid;
    std::vector<oid> ids(name.ids().begin(), name.ids().end());
    if (!withValue) {
        snmp_add_null_var(message, ids.data(), ids.size());
        return kSnmpSuccess;
    }
    netsnmp_variable_list* added = nullptr;
    switch (vb.get_syntax()) {
    case sNMP_SYNTAX_INT: {
        std::int32_t i = 0;
        vb.get_value(i);
        long value = i;
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), ASN_INTEGER, &value, sizeof value);
        break;
    }
    case sNMP_SYNTAX_OCTETS:
    case sNMP_SYNTAX_OPAQUE: {
        OctetStr octets;
        vb.get_value(octets);
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), static_cast<u_char>(vb.get_syntax()),
                                      octets.data(), octets.len());
        break;
    }
    case sNMP_SYNTAX_OID: {
        Oid value;
        vb.get_value(value);
        std::vector<oid> v(value.ids().begin(), value.ids().end());
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), ASN_OBJECT_ID, v.data(),
                                      v.size() * sizeof(oid));
        break;
    }
    case sNMP_SYNTAX_IPADDR: {
        IpAddress ip(vb.get_printable_value());
        std::uint32_t a = ip.ipv4();
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), ASN_IPADDRESS, &a, sizeof a);
        break;
    }
    case sNMP_SYNTAX_CNTR32:
    case sNMP_SYNTAX_GAUGE32:
    case sNMP_SYNTAX_TIMETICKS:
    case sNMP_SYNTAX_UINT32: {
        std::uint32_t u = 0;
        vb.get_value(u);
        unsigned long value = u;
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), static_cast<u_char>(vb.get_syntax()),
                                      &value, sizeof value);
        break;
    }
    case sNMP_SYNTAX_CNTR64: {
        std::uint64_t u = 0;
        vb.get_value(u);
        counter64 value{u >> 32, u & 0xFFFFFFFFu};
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), ASN_COUNTER64, &value, sizeof value);
        break;
    }
    case sNMP_SYNTAX_NULL:
        added = snmp_add_null_var(message, ids.data(), ids.size());
        break;
    default:
        return kSnmpInvalid;
    }
    return added != nullptr ? kSnmpSuccess : kSnmpInvalid;
}

} // namespace snmp_detail
