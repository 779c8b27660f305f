#include "vardel/alerts/trap_listener.h"

#include "vardel/definitions/definitions.h"
#include "vardel/store/config_store.h"
#include "vardel/store/program_env.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Where traps arrive over IPX when the machine has it.
constexpr std::uint16_t kIpxTrapSocket = 0x9010;

bool listed(const std::list<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

std::string portFailure(int status, std::uint16_t port) {
    const std::string udp = "UDP port " + std::to_string(port);
    switch (status) {
    case kSnmpTransportInUse:
        return udp + " is in use by another program";
    case kSnmpTransportAccessDenied:
        return "no permission to bind " + udp + " (the program needs cap_net_bind_service)";
    default:
        return udp + " could not be opened (SNMP status " + std::to_string(status) + ")";
    }
}

const Oid& snmpTraps() {
    static const Oid oid(kSnmpTrapsEnterprise);
    return oid;
}

bool underAny(const Oid& id, const std::vector<Oid>& prefixes) {
    if (prefixes.empty())
        return true;
    for (const Oid& prefix : prefixes)
        if (id.startsWith(prefix))
            return true;
    return false;
}

// The texts of a trap that no definition classifies: its name (the MIB's
// where a loaded module knows it, else its identifier) as the description,
// and the name with every binding, name = value, as the alert text.
void describeUnclassified(AlertRecord& record, const std::string& notifyId,
                          const TrapRegistration& registration) {
    std::vector<std::string> oids;
    if (record.reception == kReceptionUnclassified)
        for (const AlertBinding& b : record.bindings)
            oids.push_back(b.oid);
    definitions::OidNames names;
    definitions::NameNotification(registration.mibFolders, notifyId, oids, names);
    const std::string name = names.notification.empty() ? notifyId : names.notification;
    record.description = fitField(name, alert_width::kDescription);
    if (record.reception != kReceptionUnclassified)
        return;
    std::string text = name;
    for (std::size_t i = 0; i < record.bindings.size(); ++i) {
        const AlertBinding& b = record.bindings[i];
        const std::string& object =
            i < names.objects.size() && !names.objects[i].empty() ? names.objects[i] : b.oid;
        text += (i == 0 ? ": " : ", ") + object + " = " + b.value;
        if (text.size() >= alert_width::kAlertText)
            break;
    }
    record.alertText = fitField(std::move(text), alert_width::kAlertText);
}

} // namespace

int StandardTrapNumber(const Oid& notifyId) {
    const Oid& base = snmpTraps();
    if (notifyId.len() != base.len() + 1 || !notifyId.startsWith(base))
        return 0;
    const std::uint32_t n = notifyId[notifyId.len() - 1];
    return n >= 1 && n <= 6 ? static_cast<int>(n) : 0;
}

int BuildTrapKey(std::string& enterprise, const std::string& notifyId, std::string& trapKey,
                 const TrapRegistration& registration) {
    if (listed(registration.suffixed, enterprise))
        enterprise.erase(enterprise.size() - 3);
    else if (!listed(registration.registered, enterprise))
        return -1;
    if (NotificationKeyOf(enterprise, notifyId, trapKey, registration))
        return 0;
    const std::size_t at = notifyId.find(".0.");
    if (at == std::string::npos)
        return -1;
    trapKey = fitField(enterprise + "." + notifyId.substr(at + 3), alert_width::kTrapKey);
    return 0;
}

bool NotificationKeyOf(const std::string& enterprise, const std::string& notifyId, std::string& trapKey,
                       const TrapRegistration& registration) {
    const auto found = registration.notificationKeys.find(notifyId);
    if (found == registration.notificationKeys.end() || found->second.size() <= enterprise.size() ||
        found->second.compare(0, enterprise.size(), enterprise) != 0 ||
        found->second[enterprise.size()] != '.')
        return false;
    trapKey = fitField(found->second, alert_width::kTrapKey);
    return true;
}

void OnTrapNotification(int reason, Snmp* session, Pdu& pdu, SnmpTarget& target, void* data) {
    if (reason != kSnmpNotification || data == nullptr)
        return;
    const auto& registration = *static_cast<const TrapRegistration*>(data);
    // Called from the SNMP layer: nothing may escape, a failed allocation drops the trap.
    try {
        GenAddress address;
        target.get_address(address);
        Oid enterprise;
        pdu.get_notify_enterprise(enterprise);

        Oid id;
        pdu.get_notify_id(id);
        // A standard trap's key is its identifier, whatever enterprise the
        // agent names; it is taken before the listed enterprises, and
        // ClassifyAlert still prefers their definitions (see there). The
        // console's own state-change alerts never pass here.
        const bool standard = registration.receiveStandard.on() && StandardTrapNumber(id) != 0;
        const bool unclassified = registration.showUnclassified.on();
        const bool ofListed = underAny(id, registration.prefixes);
        if (!standard && !ofListed && !unclassified)
            return;

        std::unique_ptr<AlertRecord> record(new (std::nothrow) AlertRecord);
        if (!record)
            return;
        record->origin = kOriginTrap;
        record->enterprise = fitField(enterprise.get_printable(), alert_width::kEnterprise);

        const std::string idText = id.get_printable();
        if (standard) {
            record->reception = kReceptionStandard;
            record->enterprise = kSnmpTrapsEnterprise;
            record->trapKey = idText;
        } else if (!ofListed ||
                   BuildTrapKey(record->enterprise, idText, record->trapKey, registration) != 0) {
            if (!unclassified)
                return;
            // Keyed as an import of its MIB would key it (RFC 3584).
            std::string ownEnterprise, key;
            if (!definitions::TrapKeyOf(idText, ownEnterprise, key))
                return;
            record->reception = kReceptionUnclassified;
            record->enterprise = fitField(ownEnterprise, alert_width::kEnterprise);
            record->trapKey = fitField(key, alert_width::kTrapKey);
        }

        record->dateTime = FormatNow();
        record->agentAddress = fitField(address.get_printable(), alert_width::kAgentAddress);
        record->snmpVersion = static_cast<std::uint8_t>(target.get_version());
        const OctetStr& community = target.readCommunity();
        record->community.assign(reinterpret_cast<const char*>(community.data()), community.len());
        record->addressType = static_cast<std::uint8_t>(address.get_type());

        record->bindingCount = std::min(pdu.get_vb_count(), kMaxBindings);
        record->bindings.resize(static_cast<std::size_t>(record->bindingCount));
        for (int i = 0; i < record->bindingCount; ++i) {
            Vb vb;
            pdu.get_vb(vb, i);
            AlertBinding& slot = record->bindings[static_cast<std::size_t>(i)];
            slot.oid = fitField(vb.get_printable_oid(), alert_width::kBindingOid);
            slot.syntax = vb.get_syntax();
            if (slot.syntax == sNMP_SYNTAX_OCTETS) {
                // The raw octets as text, up to the first zero byte.
                OctetStr octets;
                vb.get_value(octets);
                const char* bytes = reinterpret_cast<const char*>(octets.data());
                std::string text(bytes, bytes != nullptr ? strnlen(bytes, octets.len()) : 0);
                slot.value = fitField(std::move(text), alert_width::kBindingValue);
            } else {
                slot.value = fitField(vb.get_printable_value(), alert_width::kBindingValue);
            }
        }
        if (unclassified)
            describeUnclassified(*record, idText, registration);
        if (registration.sink && !registration.sink(std::move(record)) && session != nullptr)
            session->countLost(1);
    } catch (...) {
        // A record that could not be made (out of memory) is a lost trap.
        if (session != nullptr)
            session->countLost(1);
    }
}

TrapListenerThread::TrapListenerThread(std::string programDir, TrapSink sink, TrapFailureNotifier onFailure,
                                       std::uint16_t port)
    : m_programDir(std::move(programDir)), m_onFailure(std::move(onFailure)), m_port(port),
      m_sink(std::move(sink)) {}

TrapListenerThread::~TrapListenerThread() {
    stop();
}

void TrapListenerThread::setReceptions(bool receiveStandard, bool showUnclassified) {
    std::lock_guard<std::mutex> lock(m_registrationMutex);
    m_receiveStandard = receiveStandard;
    m_showUnclassified = showUnclassified;
    if (m_registered) {
        m_registered->registration.receiveStandard.set(receiveStandard);
        m_registered->registration.showUnclassified.set(showUnclassified);
    }
}

void TrapListenerThread::start() {
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
}

int TrapListenerThread::waitForRegistration() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_outcomeKnown; });
    return m_outcome;
}

void TrapListenerThread::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        if (m_session)
            m_session->stop();
    }
    if (m_thread.joinable())
        m_thread.join();
    m_session.reset(); // frees the port
}

Snmp* TrapListenerThread::session() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_session.get();
}

void TrapListenerThread::setOutcome(int outcome) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outcome = outcome;
    m_outcomeKnown = true;
    m_changed.notify_all();
}

int TrapListenerThread::readRegistration(Registered& out) const {
    TrapRegistration& r = out.registration;
    r.sink = m_sink;
    const int listed = ReadKeyList(m_programDir + "VDTrap.ini", r.registered, "EnterpriseList");
    if (listed != 0) {
        r.registered.clear();
        return listed;
    }
    for (const std::string& enterprise : r.registered) {
        // A key that is no numeric identifier could never match; registering
        // it would leave an empty prefix that matches every notification.
        Oid oid(enterprise);
        Oid suffixed(enterprise + ".19");
        if (oid.valid())
            r.prefixes.push_back(oid);
        if (suffixed.valid())
            r.prefixes.push_back(suffixed);
        r.suffixed.push_back(enterprise + ".19");
    }
    for (auto& [id, key] : definitions::ReadNotificationKeys(m_programDir))
        r.notificationKeys.emplace(std::move(id), std::move(key));
    r.mibFolders = definitions::NameSearchPath(m_programDir);
    return 0;
}

std::shared_ptr<TrapListenerThread::Registered> TrapListenerThread::currentRegistration() const {
    std::lock_guard<std::mutex> lock(m_registrationMutex);
    return m_registered;
}

void TrapListenerThread::install(std::shared_ptr<Registered> fresh) {
    std::lock_guard<std::mutex> lock(m_registrationMutex);
    fresh->registration.receiveStandard.set(m_receiveStandard);
    fresh->registration.showUnclassified.set(m_showUnclassified);
    m_registered = std::move(fresh);
}

int TrapListenerThread::refreshRegistration() {
    auto fresh = std::make_shared<Registered>();
    const int result = readRegistration(*fresh);
    install(std::move(fresh));
    return result;
}

void TrapListenerThread::OnRegisteredNotification(int reason, Snmp* session, Pdu& pdu, SnmpTarget& target,
                                                  void* data) {
    const std::shared_ptr<Registered> current =
        static_cast<const TrapListenerThread*>(data)->currentRegistration();
    if (current)
        OnTrapNotification(reason, session, pdu, target, &current->registration);
}

int TrapListenerThread::registerSession() {
    const std::string indexPath = m_programDir + "VDTrap.ini";
    // No box from this thread: the failure goes to the window, which shows it.
    auto registered = std::make_shared<Registered>();
    if (readRegistration(*registered) != 0) {
        m_failureReason = "no enterprise list in " + indexPath;
        return -1;
    }

    int status = kSnmpError;
    auto session = std::make_unique<Snmp>(status, m_port, kIpxTrapSocket);
    if (status != kSnmpSuccess) {
        m_failureReason = portFailure(status, m_port);
        return -1;
    }

    // IPv6 senders arrive on a socket of their own; without it IPv4 still works.
    if (const int ip6 = session->ip6Status(); ip6 != kSnmpSuccess && ip6 != kSnmpUnsupported) {
        const std::string line = "vardel: cannot receive traps over IPv6: " + portFailure(ip6, m_port) + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }

    install(std::move(registered));
    // Every notification reaches OnRegisteredNotification, which filters by
    // the lists in force, so that a refresh needs no new registration.
    if (session->notify_register(OidCollection(), TargetCollection(), OnRegisteredNotification, this) !=
        kSnmpSuccess) {
        m_failureReason = "the SNMP session refused the registration";
        return -1;
    }
    if (session->receiveInBackground(m_receiveBuffer, m_receiveQueue) != kSnmpSuccess) {
        m_failureReason = "the receiving thread could not start";
        return -1;
    }
    session->setLossHook(m_onLoss);
    session->setRefusalHook(m_onRefusal);

    std::lock_guard<std::mutex> lock(m_mutex);
    m_session = std::move(session);
    if (m_stopping)
        m_session->stop();
    return 0;
}

void TrapListenerThread::run() {
    int outcome = -1;
    try {
        outcome = registerSession();
    } catch (...) {
        outcome = -1;
        m_failureReason = "out of memory";
    }
    setOutcome(outcome);
    if (outcome != 0) {
        // The reason goes to standard error, beside the box the failure brings.
        const std::string line = "vardel: cannot receive traps: " + m_failureReason + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        if (m_onFailure)
            m_onFailure();
        return;
    }
    m_session->run();
}
