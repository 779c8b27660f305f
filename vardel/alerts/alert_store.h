#pragma once
// The outstanding alerts, their classification from the trap-definition
// files, and the alerts raised by a server's change of state.

#include "vardel/alerts/alert_record.h"
#include "vardel/store/console_settings.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

// Makes a new alert noticeable when it is about to be stored.
class AlertAnnouncer {
public:
    virtual ~AlertAnnouncer() = default;
    virtual void announce(const AlertRecord& record) = 0;
};

// Announces nothing (benchmarks, tests).
class SilentAnnouncer : public AlertAnnouncer {
public:
    void announce(const AlertRecord&) override {}
};

using AlertList = std::list<std::unique_ptr<AlertRecord>>;

// Told of the store's changes as they happen. A record told of is alive for
// the call; one being removed is still in the list.
class AlertStoreObserver {
public:
    virtual ~AlertStoreObserver() = default;
    virtual void alertStored(const AlertRecord&) {}
    // Removed, dropped for the ceiling, or one by one before ClearAll.
    virtual void alertRemoving(const AlertRecord&) {}
    virtual void alertsClearing() {}
    virtual void alertAcknowledged(const AlertRecord&) {}
};

// State-change sources: the agent file VDTRAP2.INI (any value but 1000) and
// the network file VDTRAPSW1.INI.
inline constexpr int kStateSourceNetwork = 1000;
inline constexpr int kStateSourceAgent = 2000;

class AlertStore {
public:
    // announcer: nullptr announces through the desktop sound (SoundAnnouncer).
    explicit AlertStore(AlertAnnouncer* announcer = nullptr);

    std::int32_t count = 0;
    std::string programDir; // with its trailing '/'
    AlertList alerts;       // newest at the front; sequence count..1
    // Outstanding alerts kept: storing one more drops the oldest from memory
    // (the log still has it). Below 1 counts as 1.
    std::int32_t ceiling = kDefaultAlertCeiling;
    // Told of each alert dropped for the ceiling, just after the new alert is
    // stored; first: the first one dropped since the store was last empty.
    std::function<void(const AlertRecord& dropped, bool first)> onDropped;

    // Told of each alert just after it is stored (sequence assigned).
    std::function<void(const AlertRecord& stored)> onStored;
    // Decides, just before a new alert is announced, the kNotice* ways it is
    // made noticeable (kept in its notice); empty: every way. Without
    // kNoticeSound it is not announced.
    std::function<std::uint8_t(const AlertRecord& alert)> noticeOf;

    // Told of each alert just after it was acknowledged.
    std::function<void(const AlertRecord& acknowledged)> onAcknowledged;

    void setAnnouncer(AlertAnnouncer* announcer);

    // How many stored alerts have this severity code (any code not one of
    // the four severities counts as unclassified, 0).
    std::int32_t severityTally(int severity) const;

    // Like severityTally, for the alerts not acknowledged.
    std::int32_t outstandingTally(int severity) const;
    // Stored alerts not acknowledged, and acknowledged.
    std::int32_t outstandingCount() const { return count - m_acknowledged; }
    std::int32_t acknowledgedCount() const { return m_acknowledged; }

    AlertRecord* findBySequence(int sequence);
    const AlertRecord* findBySequence(int sequence) const;
    // The sequence of a stored alert: its field less the alerts dropped since
    // the store was last renumbered (dropping the oldest renumbers lazily).
    int sequenceOf(const AlertRecord& alert) const { return alert.sequence - m_dropped; }

    // Fills alertText, description, help and severity from the definition
    // file of the record's enterprise, numbers it, announces it and stores it
    // at the front. 0 when stored, -1 for a null record.
    int ClassifyAlert(std::unique_ptr<AlertRecord> record);

    // Makes and stores an alert from VDTRAP2.INI (source other than 1000) or
    // VDTRAPSW1.INI (1000): the UP section when state is "UP", else the DOWN
    // one. now: the time to stamp; 0 takes the current time. Returns the new
    // count (the alert's sequence).
    int RaiseStateAlert(const std::string& serverName, const std::string& state, int source,
                        std::time_t now = 0);

    AlertRecord* findById(std::uint64_t alertId);
    const AlertRecord* findById(std::uint64_t alertId) const;

    // Marks the stored alert acknowledged by user at now (0: the current
    // time). 0 when done, 1 when it already was (nothing changes), -1 when no
    // stored alert has that sequence or id.
    int Acknowledge(int sequence, const std::string& user, std::time_t now = 0);
    int AcknowledgeById(std::uint64_t alertId, const std::string& user, std::time_t now = 0);

    // Numbers, announces and stores an alert the console made itself (its
    // texts and severity filled in). Returns the new count, -1 for null.
    int AddConsoleAlert(std::unique_ptr<AlertRecord> record);

    // Removes the alert with this sequence, takes one off count and
    // renumbers the rest 1.. from the oldest. nullptr when none has it.
    std::unique_ptr<AlertRecord> RemoveAlert(int sequence);
    // Removes every alert; count becomes 0.
    void ClearAll();

    // Removes these stored alerts (others are ignored) with one renumbering:
    // what RemoveAlert of each in turn leaves. Returned oldest first.
    std::vector<std::unique_ptr<AlertRecord>> RemoveAlerts(const std::vector<const AlertRecord*>& which);

    void addObserver(AlertStoreObserver* observer);
    void removeObserver(AlertStoreObserver* observer);

private:
    void store(std::unique_ptr<AlertRecord> record);
    void dropOldest();
    void renumber();
    void tally(const AlertRecord& record, int step);
    int acknowledge(AlertRecord* alert, const std::string& user, std::time_t now);

    AlertAnnouncer* m_announcer;
    std::int32_t m_dropped = 0;
    bool m_droppedSinceEmpty = false;
    // Stored alerts per severity: critical, warning, informational, normal, other.
    std::int32_t m_tally[5] = {};
    std::vector<AlertStoreObserver*> m_observers;
    // The same for the acknowledged ones, and their number.
    std::int32_t m_ackTally[5] = {};
    std::int32_t m_acknowledged = 0;
    std::uint64_t m_lastId = 0;
};
