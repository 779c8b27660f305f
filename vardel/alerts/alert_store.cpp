#include "vardel/alerts/alert_store.h"

#include "platform/profile/profile.h"
#include "vardel/alerts/alert_sound.h"
#include "vardel/alerts/alert_text.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/program_env.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <unordered_set>

namespace {

constexpr std::size_t kValueBuffer = 512;

int tallyIndex(int severity) {
    switch (severity) {
    case kSeverityCritical:
        return 0;
    case kSeverityWarning:
        return 1;
    case kSeverityInformational:
        return 2;
    case kSeverityNormal:
        return 3;
    default:
        return 4;
    }
}

// A definition key; empty when missing.
std::string readKey(const profile::Document& definitions, const std::string& section, const char* key) {
    return definitions.getString(section, key, "", kValueBuffer);
}

// A definition file named by the index is taken only inside the program
// directory: a relative path none of whose parts is "..". Any other is read as
// a missing file, said once per name on standard error.
std::string definitionPath(const std::string& programDir, const std::string& enterprise,
                           const std::string& file) {
    bool inside = file.empty() || file.front() != '/';
    for (std::size_t begin = 0; inside && begin <= file.size();) {
        const std::size_t end = std::min(file.find('/', begin), file.size());
        inside = file.compare(begin, end - begin, "..") != 0;
        begin = end + 1;
    }
    if (inside)
        return programDir + file;
    static std::mutex mutex;
    static std::set<std::string> told;
    std::lock_guard lock(mutex);
    if (told.insert(file).second) {
        const std::string line = "vardel: VDTrap.ini: the definition file " + file + " of enterprise " +
                                 enterprise + " lies outside the program directory; it is not read\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }
    return {};
}

} // namespace

AlertStore::AlertStore(AlertAnnouncer* announcer) : m_announcer(announcer) {}

std::int32_t AlertStore::severityTally(int severity) const {
    return m_tally[tallyIndex(severity)];
}

std::int32_t AlertStore::outstandingTally(int severity) const {
    return m_tally[tallyIndex(severity)] - m_ackTally[tallyIndex(severity)];
}

void AlertStore::tally(const AlertRecord& record, int step) {
    m_tally[tallyIndex(record.severity)] += step;
    if (record.acknowledged) {
        m_ackTally[tallyIndex(record.severity)] += step;
        m_acknowledged += step;
    }
}

void AlertStore::setAnnouncer(AlertAnnouncer* announcer) {
    m_announcer = announcer;
}

AlertRecord* AlertStore::findBySequence(int sequence) {
    for (auto& a : alerts)
        if (a->sequence - m_dropped == sequence)
            return a.get();
    return nullptr;
}

const AlertRecord* AlertStore::findBySequence(int sequence) const {
    for (const auto& a : alerts)
        if (a->sequence - m_dropped == sequence)
            return a.get();
    return nullptr;
}

AlertRecord* AlertStore::findById(std::uint64_t alertId) {
    for (auto& a : alerts)
        if (a->alertId == alertId)
            return a.get();
    return nullptr;
}

const AlertRecord* AlertStore::findById(std::uint64_t alertId) const {
    for (const auto& a : alerts)
        if (a->alertId == alertId)
            return a.get();
    return nullptr;
}

int AlertStore::Acknowledge(int sequence, const std::string& user, std::time_t now) {
    return acknowledge(findBySequence(sequence), user, now);
}

int AlertStore::AcknowledgeById(std::uint64_t alertId, const std::string& user, std::time_t now) {
    return acknowledge(alertId == 0 ? nullptr : findById(alertId), user, now);
}

int AlertStore::acknowledge(AlertRecord* alert, const std::string& user, std::time_t now) {
    if (!alert)
        return -1;
    if (alert->acknowledged)
        return 1;
    tally(*alert, -1);
    alert->acknowledged = true;
    alert->acknowledgedBy = user;
    alert->acknowledgedTime = now ? now : std::time(nullptr);
    alert->acknowledgedAt = FormatLocalTime(alert->acknowledgedTime);
    tally(*alert, 1);
    for (AlertStoreObserver* o : m_observers)
        o->alertAcknowledged(*alert);
    if (onAcknowledged)
        onAcknowledged(*alert);
    return 0;
}

void AlertStore::store(std::unique_ptr<AlertRecord> record) {
    count += 1;
    record->alertId = ++m_lastId;
    record->sequence = count + m_dropped;
    record->notice = noticeOf ? noticeOf(*record) : std::uint8_t(kNoticeAll);
    if (record->notice & kNoticeSound)
        (m_announcer ? *m_announcer : DefaultAnnouncer()).announce(*record);
    // What a stored alert no longer needs: its bindings are in its text, and
    // its texts lose the room they were built in.
    std::vector<AlertBinding>().swap(record->bindings);
    for (std::string* text : {&record->alertText, &record->description, &record->helpFile, &record->dateTime})
        text->shrink_to_fit();
    tally(*record, 1);
    alerts.push_front(std::move(record));
    while (count > std::max(ceiling, 1))
        dropOldest();
    for (AlertStoreObserver* o : m_observers)
        o->alertStored(*alerts.front());
    if (onStored)
        onStored(*alerts.front());
}

// The oldest alert leaves memory; the others keep their fields and count one
// lower through m_dropped, until that is as large as the store.
void AlertStore::dropOldest() {
    for (AlertStoreObserver* o : m_observers)
        o->alertRemoving(*alerts.back());
    std::unique_ptr<AlertRecord> oldest = std::move(alerts.back());
    alerts.pop_back();
    tally(*oldest, -1);
    count -= 1;
    m_dropped += 1;
    const bool first = !m_droppedSinceEmpty;
    m_droppedSinceEmpty = true;
    if (m_dropped >= count)
        renumber();
    if (onDropped)
        onDropped(*oldest, first);
}

void AlertStore::renumber() {
    int next = 1;
    for (auto r = alerts.rbegin(); r != alerts.rend(); ++r)
        (*r)->sequence = next++;
    m_dropped = 0;
    if (count == 0)
        m_droppedSinceEmpty = false;
}

int AlertStore::ClassifyAlert(std::unique_ptr<AlertRecord> record) {
    if (!record)
        return -1;
    AlertRecord& r = *record;
    if (r.reception == kReceptionUnclassified) {
        // No definition: the listener made its texts from the trap itself.
        r.helpFile = fitField(programDir, alert_width::kHelpFile);
        r.helpId = 0;
        r.severity = kSeverityUnclassified;
        store(std::move(record));
        return 0;
    }
    const std::string definitionFile =
        profile::getString(programDir + "VDTrap.ini", "EnterpriseList", r.enterprise, "", kValueBuffer);
    // One look at the file for all keys of the alert.
    const std::string path = definitionPath(programDir, r.enterprise, definitionFile);
    profile::Document definitions = path.empty() ? profile::Document() : profile::load(path);
    // A standard trap takes the index's definition where it has one (an
    // imported SNMPv2-MIB or IF-MIB, which key these traps alike, or a
    // hand-written section): that wins, section by section; STANDARD.INI
    // classifies the others.
    const bool fromStandard = r.reception == kReceptionStandard && !definitions.hasSection(r.trapKey);
    if (fromStandard)
        definitions = profile::load(programDir + "STANDARD.INI");

    // Trap alerts take the defaults also for keys that are present but empty.
    r.alertText = readKey(definitions, r.trapKey, "AlarmString");
    if (r.alertText.empty())
        r.alertText = LoadString(IDS_UNKNOWN_ALERT);
    r.description = readKey(definitions, r.trapKey, "TrapString");
    if (r.description.empty())
        r.description = fitField(r.trapKey, alert_width::kDescription);
    r.helpFile = fitField(programDir + readKey(definitions, r.trapKey, "Helpfile"), alert_width::kHelpFile);
    r.helpId = definitions.getInt(r.trapKey, "HelpID", 0);
    std::string severity = readKey(definitions, r.trapKey, "Severity");
    if (severity.empty())
        severity = "INFORMATIONAL";

    if (r.bindingCount > 0)
        r.alertText = ExpandAlertText(r.alertText, r, fromStandard);
    if (fromStandard) {
        // A reference to a binding the agent did not send leaves a blank.
        while (!r.alertText.empty() && r.alertText.back() == ' ')
            r.alertText.pop_back();
    }
    r.severity = SeverityFromKeyword(severity);

    store(std::move(record));
    return 0;
}

int AlertStore::RaiseStateAlert(const std::string& serverName, const std::string& state, int source,
                                std::time_t now) {
    auto record = std::make_unique<AlertRecord>();
    AlertRecord& r = *record;
    r.dateTime = FormatLocalTime(now ? now : std::time(nullptr));
    r.serverName = fitField(serverName, alert_width::kServerName);
    // The console's sound settings are not copied on this path: the alert
    // beeps.
    r.playSound = 0;
    r.soundFile.clear();

    const bool up = state == LoadString(IDS_UP);
    const bool network = source == kStateSourceNetwork;
    r.launchAllowed = up ? 1 : 0;
    if (network)
        r.trapKey = up ? "1.1001" : "1.1002";
    else
        r.trapKey = up ? "1.3.6.1.6.3.1.1.5.1" : "1.3.6.1.2.1.1.2.0";

    const profile::Document definitions =
        profile::load(programDir + (network ? "VDTRAPSW1.INI" : "VDTRAP2.INI"));
    r.alertText = readKey(definitions, r.trapKey, "TrapString");
    r.description = readKey(definitions, r.trapKey, "AlarmString");
    r.helpFile = fitField(programDir + readKey(definitions, r.trapKey, "Helpfile"), alert_width::kHelpFile);
    r.helpId = definitions.getInt(r.trapKey, "HelpID", 0);
    r.severity = SeverityFromKeyword(readKey(definitions, r.trapKey, "Severity"));

    store(std::move(record));
    return count;
}

int AlertStore::AddConsoleAlert(std::unique_ptr<AlertRecord> record) {
    if (!record)
        return -1;
    store(std::move(record));
    return count;
}

std::unique_ptr<AlertRecord> AlertStore::RemoveAlert(int sequence) {
    for (auto it = alerts.begin(); it != alerts.end(); ++it) {
        if ((*it)->sequence - m_dropped != sequence)
            continue;
        for (AlertStoreObserver* o : m_observers)
            o->alertRemoving(**it);
        std::unique_ptr<AlertRecord> removed = std::move(*it);
        alerts.erase(it);
        tally(*removed, -1);
        count -= 1;
        removed->sequence = sequence;
        renumber();
        return removed;
    }
    return nullptr;
}

void AlertStore::ClearAll() {
    for (AlertStoreObserver* o : m_observers)
        o->alertsClearing();
    alerts.clear();
    std::fill(std::begin(m_tally), std::end(m_tally), 0);
    std::fill(std::begin(m_ackTally), std::end(m_ackTally), 0);
    m_acknowledged = 0;
    count = 0;
    renumber();
}

std::vector<std::unique_ptr<AlertRecord>>
AlertStore::RemoveAlerts(const std::vector<const AlertRecord*>& which) {
    std::vector<std::unique_ptr<AlertRecord>> removed;
    const std::unordered_set<const AlertRecord*> wanted(which.begin(), which.end());
    for (auto it = alerts.end(); it != alerts.begin() && removed.size() < wanted.size();) {
        --it;
        if (!wanted.count(it->get()))
            continue;
        for (AlertStoreObserver* o : m_observers)
            o->alertRemoving(**it);
        tally(**it, -1);
        count -= 1;
        (*it)->sequence -= m_dropped;
        removed.push_back(std::move(*it));
        it = alerts.erase(it);
    }
    if (!removed.empty())
        renumber();
    return removed;
}

void AlertStore::addObserver(AlertStoreObserver* observer) {
    m_observers.push_back(observer);
}

void AlertStore::removeObserver(AlertStoreObserver* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}
