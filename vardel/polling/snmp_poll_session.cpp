#include "vardel/polling/snmp_poll_session.h"

#include "snmp/snmp_qt.h"

SnmpPollSession::SnmpPollSession(std::unique_ptr<Snmp> session)
    : m_session(std::move(session)), m_driver(std::make_unique<SnmpQtDriver>(*m_session)) {}

SnmpPollSession::~SnmpPollSession() {
    m_driver.reset();
    m_session.reset();
}

int SnmpPollSession::get(const Pdu& pdu, const SnmpTarget& target, std::function<void(int reason)> done) {
    auto request = std::make_unique<Request>(Request{this, std::move(done)});
    Request* key = request.get();
    m_requests.emplace(key, std::move(request));
    const int status = m_session->get(pdu, target, &SnmpPollSession::onResponse, key);
    if (status != kSnmpSuccess)
        m_requests.erase(key); // refused at once: no callback will come
    return status;
}

void SnmpPollSession::onResponse(int reason, Snmp*, Pdu&, SnmpTarget&, void* data) {
    auto* key = static_cast<Request*>(data);
    SnmpPollSession* owner = key->owner;
    auto it = owner->m_requests.find(key);
    if (it == owner->m_requests.end())
        return;
    std::unique_ptr<Request> request = std::move(it->second);
    owner->m_requests.erase(it);
    request->done(reason);
}
