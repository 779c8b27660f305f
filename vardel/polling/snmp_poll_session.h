#pragma once
// The polling SNMP session on the user-interface thread's event loop.

#include "snmp/snmp.h"
#include "vardel/polling/poll_cycle.h"

#include <functional>
#include <memory>
#include <unordered_map>

class SnmpQtDriver;

class SnmpPollSession : public PollSession {
public:
    // Takes the session and drives it from this thread's event loop.
    explicit SnmpPollSession(std::unique_ptr<Snmp> session);
    // Ends the session first: no callback runs afterwards.
    ~SnmpPollSession() override;

    int get(const Pdu& pdu, const SnmpTarget& target, std::function<void(int reason)> done) override;
    Snmp& snmp() { return *m_session; }

private:
    struct Request {
        SnmpPollSession* owner;
        std::function<void(int)> done;
    };
    static void onResponse(int reason, Snmp*, Pdu&, SnmpTarget&, void* data);

    std::unique_ptr<Snmp> m_session;
    std::unique_ptr<SnmpQtDriver> m_driver;
    std::unordered_map<Request*, std::unique_ptr<Request>> m_requests;
};
