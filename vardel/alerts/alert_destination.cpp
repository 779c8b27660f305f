#include "vardel/alerts/alert_destination.h"

#include "hostlore/hostlore.h"
#include "snmp/snmp.h"
#include "vardel/alerts/wait_box.h"
#include "vardel/resources/qt_text.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/snmpv3_store.h"

#include <QApplication>
#include <cstdio>

namespace {

constexpr int kRetries = 3;
constexpr unsigned long kTimeout = 800; // hundredths of a second

// What a worker needs: copies, so that it never touches the server record.
struct SetRequest {
    bool byIp = false;
    std::string address;
    std::string community;
    std::string value;
    SnmpV3Credentials v3;
};

// Runs on a worker thread: a fresh session, one SET. The SNMP status, 0 when written.
int WriteDestination(const SetRequest& request) {
    int status = kSnmpSuccess;
    Snmp snmp(status, 0);
    if (status != kSnmpSuccess)
        return status;
    CTarget target;
    if (request.byIp) {
        target.set_address(IpAddress(request.address));
        target.set_readcommunity(OctetStr(request.community.c_str()));
        target.set_writecommunity(OctetStr(request.community.c_str()));
        ApplyV3Target(request.v3, target);
    } else {
        target.set_address(IpxAddress(request.address));
    }
    target.set_retry(kRetries);
    target.set_timeout(kTimeout);
    Vb vb;
    vb.set_oid(Oid(kAlertDestinationOid));
    vb.set_value(request.value.c_str());
    Pdu pdu;
    pdu += vb;
    return snmp.set(pdu, target);
}

} // namespace

std::string AlertDestinationValue(const ManagedServer& server, const std::string& consoleIp,
                                  const std::string& consoleIpx, const std::string& hostName, int useDhcp) {
    if (server.nosCode == kNosNT && useDhcp == 1)
        return hostName;
    if (server.ipAddress.empty() && !server.ip6Address.empty()) {
        // The console's own IPv6 address that the server's traps can come back to.
        char own[HOSTLORE_IP6_SIZE] = {};
        return DLLGetIp6AddressTowards(server.ip6Address.c_str(), own) == HOSTLORE_OK ? own : std::string();
    }
    return server.ipAddress.empty() ? consoleIpx : consoleIp;
}

std::string AlertDestinationReason(int status) {
    switch (status) {
    case kSnmpSuccess:
        return {};
    case kSnmpTimeout:
        return LoadString(IDS_DESTINATION_NO_ANSWER);
    case 2:  // noSuchName
    case 11: // noCreation
        return LoadString(IDS_DESTINATION_NO_SUCH_OBJECT);
    case 4:  // readOnly
    case 17: // notWritable
        return LoadString(IDS_DESTINATION_NOT_WRITABLE);
    default:
        if (snmpIsRefusal(status))
            return SnmpRefusalText(status);
        if (status > 0)
            return LoadString(IDS_DESTINATION_REFUSED) + " " + std::to_string(status) + ".";
        return LoadString(IDS_DESTINATION_NOT_SENT);
    }
}

void SetAlertDestination(ManagedServer& server, const std::string& consoleIp, const std::string& consoleIpx,
                         const std::string& hostName, int useDhcp) {
    SetAlertDestinations({&server}, consoleIp, consoleIpx, hostName, useDhcp);
}

void SetAlertDestinations(const std::vector<ManagedServer*>& servers, const std::string& consoleIp,
                          const std::string& consoleIpx, const std::string& hostName, int useDhcp,
                          const std::function<void(ManagedServer&)>& applied) {
    WaitCursor cursor;
    WorkerGroup workers;
    for (ManagedServer* server : servers) {
        SetRequest request;
        request.byIp = !ServerIpAddress(*server).empty();
        request.address = request.byIp ? ServerIpAddress(*server) : server->ipxAddress;
        request.community = server->community;
        request.v3 = server->v3;
        request.value = AlertDestinationValue(*server, consoleIp, consoleIpx, hostName, useDhcp);
        workers.start([server, request, &applied](const WorkerGroup::Post& post) {
            const int status = WriteDestination(request);
            post([server, status, &applied] {
                server->alertDestination = status == kSnmpSuccess ? 1 : -1;
                server->alertDestinationStatus = status;
                if (status != kSnmpSuccess) {
                    const std::string line = "vardel: alert destination NOT SET on " + server->name + ": " +
                                             AlertDestinationReason(status) + "\n";
                    std::fputs(line.c_str(), stderr);
                    std::fflush(stderr);
                }
                if (applied)
                    applied(*server);
            });
        });
    }
    workers.wait();
}
