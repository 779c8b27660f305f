// Messages that come in: notifications (informs answered), and the answers
// and reports that settle the session's own requests.

#include "snmp/snmp_internal.h"
#include "snmp/snmp_ipx.h"
#include "snmp/snmp_session_impl.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>

using namespace snmp_detail;

int Snmp::Impl::onMessage(int op, netsnmp_session* session, int, netsnmp_pdu* pdu, void* magic) {
    auto* self = static_cast<Impl*>(magic);
    if (op != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || pdu == nullptr || self->closing)
        return 1;
    // Net-SNMP hands on a v3 message whose digest failed, with the error set:
    // it is no notification.
    if (pdu->version == SNMP_VERSION_3 && session->s_snmp_errno != SNMPERR_SUCCESS)
        return 1;
    const bool overIpx = self->ipxSessp != nullptr && session == snmp_sess_session(self->ipxSessp);
    const bool overUdp6 = self->udp6Sessp != nullptr && session == snmp_sess_session(self->udp6Sessp);
    if (pdu->command == SNMP_MSG_TRAP || pdu->command == SNMP_MSG_TRAP2 || pdu->command == SNMP_MSG_INFORM)
        self->handleNotification(pdu, overIpx, overUdp6);
    return 1;
}

void Snmp::Impl::handleNotification(netsnmp_pdu* pdu, bool overIpx, bool overUdp6) {
    if (pdu->version != SNMP_VERSION_1 && pdu->version != SNMP_VERSION_2c && pdu->version != SNMP_VERSION_3)
        return;
    if (pdu->command == SNMP_MSG_INFORM) {
        // Every receiver acknowledges an inform, whether it keeps it or not.
        netsnmp_pdu* reply = snmp_clone_pdu(pdu);
        if (reply != nullptr) {
            reply->command = SNMP_MSG_RESPONSE;
            reply->errstat = 0;
            reply->errindex = 0;
            if (snmp_sess_send(overIpx ? ipxSessp : overUdp6 ? udp6Sessp : sessp, reply) == 0)
                snmp_free_pdu(reply);
        }
    }
    std::uint32_t ip = 0;
    std::uint16_t fromPort = 0;
    unsigned char ipx[10] = {};
    unsigned char ip6[16] = {};
    if (!registered)
        return;
    if (overUdp6  ? !sender6Of(pdu, ip6, fromPort)
        : overIpx ? !snmp_ipx::peerOf(pdu->transport_data, static_cast<int>(pdu->transport_data_length), ipx,
                                      fromPort)
                  : !senderOf(pdu, ip, fromPort))
        return;
    Pdu notification;
    if (!notificationFrom(pdu, notification))
        return;
    Oid id;
    notification.get_notify_id(id);
    if (notifyIds.size() > 0) {
        bool wanted = false;
        for (const Oid& prefix : notifyIds.items())
            if (id.startsWith(prefix)) {
                wanted = true;
                break;
            }
        if (!wanted)
            return;
    }
    if (notifyTargets.size() > 0) {
        bool known = false;
        for (const auto& target : notifyTargets.items()) {
            GenAddress address;
            if (target->get_address(address) != kSnmpSuccess)
                continue;
            const Address::addr_type type = address.get_type();
            const bool ipType = type == Address::type_ip || type == Address::type_udp;
            const bool match =
                overUdp6  ? ipType && address.isIpv6() && std::memcmp(address.ipv6(), ip6, sizeof ip6) == 0
                : overIpx ? (type == Address::type_ipx || type == Address::type_ipxsock) &&
                                std::memcmp(address.ipx(), ipx, sizeof ipx) == 0
                          : ipType && !address.isIpv6() && address.ipv4() == ip;
            if (match) {
                known = true;
                break;
            }
        }
        if (!known)
            return;
    }
    OctetStr community(pdu->community, pdu->community_len);
    // An IPX sender is named in the servers' own form, NNNNNNNN-HHHHHHHHHHHH.
    char ipxText[22];
    std::snprintf(ipxText, sizeof ipxText, "%02X%02X%02X%02X-%02X%02X%02X%02X%02X%02X", ipx[0], ipx[1],
                  ipx[2], ipx[3], ipx[4], ipx[5], ipx[6], ipx[7], ipx[8], ipx[9]);
    auto target = overUdp6 ? std::make_unique<CTarget>(IpAddress::fromIpv6(ip6), community, community)
                  : overIpx
                      ? std::make_unique<CTarget>(IpxAddress(ipxText), community, community)
                      : std::make_unique<CTarget>(IpAddress::fromNetworkOrder(ip), community, community);
    target->set_version(pdu->version == SNMP_VERSION_3    ? version3
                        : pdu->version == SNMP_VERSION_2c ? version2c
                                                          : version1);
    if (pdu->version == SNMP_VERSION_3) {
        target->set_security(
            std::string(pdu->securityName != nullptr ? pdu->securityName : "", pdu->securityNameLen),
            pdu->securityLevel);
        target->set_engine_id(std::string(reinterpret_cast<const char*>(pdu->securityEngineID),
                                          pdu->securityEngineID != nullptr ? pdu->securityEngineIDLen : 0));
    }
    events.push_back(
        Event{kSnmpNotification, notifyCallback, notifyData, std::move(notification), std::move(target)});
}

// Net-SNMP's hook after parsing a message: a response is the answer to one
// of the session's own requests or to none, and is taken here (0 tells
// Net-SNMP to drop the message); everything else goes on to onMessage.
namespace {

// Whether a message came from the responder a request waits on.
bool fromPeerOf(const Snmp::Impl::Request& pending, netsnmp_pdu* pdu, bool overIpx, bool overUdp6) {
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    unsigned char ipx[10];
    unsigned char ip6[16] = {};
    if (pending.overUdp6)
        return overUdp6 && sender6Of(pdu, ip6, port) && std::memcmp(ip6, pending.peerIp6, sizeof ip6) == 0 &&
               port == pending.peerPort;
    if (pending.overIpx)
        return overIpx &&
               snmp_ipx::peerOf(pdu->transport_data, static_cast<int>(pdu->transport_data_length), ipx,
                                port) &&
               std::memcmp(ipx, pending.peerIpx, sizeof ipx) == 0 && port == pending.peerPort;
    return !overIpx && !overUdp6 && senderOf(pdu, ip, port) && ip == pending.peerIp &&
           port == pending.peerPort;
}

// The refusal a usmStats report stands for (RFC 3414 usmStats.N).
int refusalOfReport(const netsnmp_pdu* pdu) {
    static const oid usmStats[] = {1, 3, 6, 1, 6, 3, 15, 1, 1};
    const netsnmp_variable_list* v = pdu->variables;
    if (v == nullptr || v->name_length < 10 || snmp_oid_compare(v->name, 9, usmStats, 9) != 0)
        return kSnmpError;
    switch (v->name[9]) {
    case 1:
        return kSnmpUsmUnsupportedLevel;
    case 2:
        return kSnmpUsmNotInTimeWindow;
    case 3:
        return kSnmpUsmUnknownUser;
    case 4:
        return kSnmpUsmUnknownEngineId;
    case 5:
        return kSnmpUsmWrongDigest;
    case 6:
        return kSnmpUsmDecryptionError;
    default:
        return kSnmpError;
    }
}

// What an answer that Net-SNMP could not read means for its request.
int refusalOfParse(int parsed) {
    switch (parsed) {
    case SNMPERR_USM_DECRYPTIONERROR:
        return kSnmpUsmDecryptionError;
    case SNMPERR_USM_AUTHENTICATIONFAILURE:
        return kSnmpUsmWrongDigest;
    case SNMPERR_USM_UNKNOWNSECURITYNAME:
        return kSnmpUsmUnknownUser;
    default:
        return 0;
    }
}

} // namespace

namespace snmp_detail {

void setEngine(netsnmp_pdu* message, const std::string& engineId) {
    SNMP_FREE(message->securityEngineID);
    SNMP_FREE(message->contextEngineID);
    message->securityEngineID = static_cast<u_char*>(netsnmp_memdup(engineId.data(), engineId.size()));
    message->securityEngineIDLen = engineId.size();
    message->contextEngineID = static_cast<u_char*>(netsnmp_memdup(engineId.data(), engineId.size()));
    message->contextEngineIDLen = engineId.size();
}

} // namespace snmp_detail

void Snmp::Impl::takeReport(netsnmp_pdu* pdu, int parsed, bool overIpx, bool overUdp6) {
    const int refusal = parsed == SNMP_ERR_NOERROR ? refusalOfReport(pdu) : refusalOfParse(parsed);
    if (refusal == 0)
        return;
    auto it = requests.find(pdu->msgid);
    if (it == requests.end() || !it->second->v3 || !fromPeerOf(*it->second, pdu, overIpx, overUdp6))
        return;
    Request& pending = *it->second;
    if (pending.discovering) {
        if (parsed != SNMP_ERR_NOERROR || pdu->securityEngineID == nullptr || pdu->securityEngineIDLen == 0)
            return;
        const std::string engine(reinterpret_cast<const char*>(pdu->securityEngineID),
                                 pdu->securityEngineIDLen);
        learnEngine(pending.peerOctets(), pending.peerPort, engine);
        setEngine(pending.message, engine);
        pending.target->set_engine_id(engine);
        pending.discovering = false;
    } else if (refusal == kSnmpUsmNotInTimeWindow && !pending.timeRetried) {
        // The report brought the agent's clock: once more, in its window.
        pending.timeRetried = true;
    } else {
        std::unique_ptr<Request> request = std::move(it->second);
        requests.erase(it);
        complete(std::move(request), refusal, nullptr);
        return;
    }
    retries.push_back(std::move(it->second));
    requests.erase(it);
}

int Snmp::Impl::takeAnswer(netsnmp_session* session, netsnmp_pdu* pdu, int parsed) {
    auto* self = static_cast<Impl*>(session->callback_magic);
    if (pdu != nullptr && pdu->version == SNMP_VERSION_3 && !self->closing &&
        (parsed != SNMP_ERR_NOERROR || pdu->command == SNMP_MSG_REPORT)) {
        const bool viaIpx = self->ipxSessp != nullptr && session == snmp_sess_session(self->ipxSessp);
        const bool viaUdp6 = self->udp6Sessp != nullptr && session == snmp_sess_session(self->udp6Sessp);
        self->takeReport(pdu, parsed, viaIpx, viaUdp6);
        return parsed == SNMP_ERR_NOERROR ? 0 : 1;
    }
    if (parsed != SNMP_ERR_NOERROR || pdu == nullptr || pdu->command != SNMP_MSG_RESPONSE)
        return 1;
    if (self->closing)
        return 0;
    auto it = self->requests.find(pdu->reqid);
    if (it == self->requests.end())
        return 0;
    // v1 and v2c answers are matched by request id alone: one from another
    // address is not the target's, and the request goes on waiting.
    const bool overIpx = self->ipxSessp != nullptr && session == snmp_sess_session(self->ipxSessp);
    const bool overUdp6 = self->udp6Sessp != nullptr && session == snmp_sess_session(self->udp6Sessp);
    if (!fromPeerOf(*it->second, pdu, overIpx, overUdp6))
        return 0;
    Pdu answer;
    answer.set_type(pdu->command);
    answer.set_error(static_cast<int>(pdu->errstat), static_cast<int>(pdu->errindex));
    for (const netsnmp_variable_list* v = pdu->variables; v != nullptr; v = v->next_variable)
        answer += vbFrom(v);
    std::unique_ptr<Request> request = std::move(it->second);
    self->requests.erase(it);
    self->complete(std::move(request), kSnmpAsyncResponse, &answer);
    return 0;
}
