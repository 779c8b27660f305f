#pragma once
// The outstanding alerts as a table, for the Alerts page: a view over the
// alert store that keeps pointers to its records, never copies of them.
//
// Rows are alerts, or with grouping on, groups of the same server's same trap
// (the newest alert stands for the group). A new filter or grouping is worked
// out in slices over the store while the old rows stay shown; the store's
// changes are applied together by a short timer, so a storm of alerts costs a
// few row insertions per tick rather than one per alert.

#include "vardel/alerts/alert_store.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class AlertListModel : public QAbstractTableModel, private AlertStoreObserver {
    Q_OBJECT

public:
    enum Column {
        kSequenceCol,
        kTimeCol,
        kServerCol,
        kSeverityCol,
        kDescriptionCol,
        kAlertTextCol,
        kAcknowledgedCol,
        kCountCol,
        kColumns
    };
    // Severity filter: every alert, or those of one severity code.
    static constexpr int kAnySeverity = -1;

    struct Filter {
        int severity = kAnySeverity;
        std::string server; // part of the server name, any case
        std::string text;   // part of the server, description or alert text, any case
        bool grouped = false;
        bool operator==(const Filter&) const = default;
    };

    explicit AlertListModel(AlertStore& store, QObject* parent = nullptr);
    ~AlertListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // Starts working out the rows of a new filter (nothing when unchanged).
    void setFilter(const Filter& filter);
    const Filter& filter() const { return m_filter; }
    // A filter, grouping or large sort is being worked out.
    bool passRunning() const { return m_passRunning; }
    // A filter or grouping is.
    bool filtering() const { return m_passRunning && !m_passResort; }
    // Works the pass out to its end now.
    void finishPass();
    // Applies the store's changes now rather than at the next tick.
    void flush();

    // The alert a row shows (a group's newest); nullptr for a row on its way out.
    const AlertRecord* alertAt(int row) const;
    // The alerts of a row: the one, or every member of a group, oldest first.
    std::vector<const AlertRecord*> alertsAt(int row) const;
    // The row showing this alert (in a group: the group's row); -1 if none.
    int rowOf(const AlertRecord* alert) const;
    // The row of the newest critical alert shown; -1 if none.
    int newestCriticalRow() const;
    // Alerts in the rows shown (groups counted by their members).
    std::size_t alertsShown() const;

    // The word for a severity code ("Critical" ... "Unknown").
    static QString severityWord(int severity);
    static QColor severityColour(int severity);

    // The longest a slice of a pass runs before the event loop turns.
    std::chrono::milliseconds sliceBudget{8};
    // How long the store's changes wait to be applied together.
    int flushDelayMs = 100;
    // Up to this many ungrouped rows are sorted at once; more, by a pass
    // while they stay shown in their old order.
    std::size_t sortedAtOnce = 100000;

signals:
    // Rows came or went, or a pass finished: the counts may have changed.
    void rowsChangedTogether();
    void passFinished();

private:
    struct Group {
        std::deque<const AlertRecord*> members; // oldest first
    };
    // One arrangement of rows: alerts, or groups (then entries are Group*).
    struct Rows {
        bool grouped = false;
        std::vector<const void*> entries;
        std::unordered_map<std::string, std::unique_ptr<Group>> groups;
    };

    void alertStored(const AlertRecord& alert) override;
    void alertRemoving(const AlertRecord& alert) override;
    void alertsClearing() override;
    void alertAcknowledged(const AlertRecord& alert) override;

    bool matches(const AlertRecord& alert) const;
    const AlertRecord* representative(const Rows& rows, const void* entry) const;
    int memberCount(const Rows& rows, const void* entry) const;
    static std::string groupKey(const AlertRecord& alert);
    // Adds to a grouped arrangement (older: before the group's members);
    // true when the alert opened a new group.
    bool addToGroups(Rows& rows, const AlertRecord& alert, Group** group = nullptr, bool older = false);
    void removeFromGroups(Rows& rows, const AlertRecord& alert);
    // -1, 0, 1 for a before b in the current order.
    int compare(const AlertRecord& a, int countA, const AlertRecord& b, int countB) const;
    bool entryBefore(const Rows& rows, const void* a, const void* b) const;
    void sortEntries(Rows& rows) const;
    void rearrangeShown();
    // resort: the filter is the same, the rows keep their selection.
    void startPass(bool resort);
    void runSlice();
    void endPass();
    void showResorted();
    // The key of the pass's sort column (a text's number as first met).
    std::uint32_t passKey(const AlertRecord& alert);
    // Puts the alerts an ungrouped pass took, and the newcomers, in order.
    void arrangePassed(const std::vector<const AlertRecord*>& newcomers);
    void clearPassKeys();
    void scheduleFlush();
    // Entries on their way out: dead alerts, emptied groups.
    bool gone(const Rows& rows, const void* entry) const;
    void compactShown();
    void compactNext();
    void mergePending();
    // Ungrouped: the dead rows leave and the pending alerts come in at their
    // places, told to the views run by run, or as one change of layout when
    // the runs are many.
    void applyRowChanges();

    AlertStore& m_store;
    Filter m_filter;
    std::string m_serverNeedle, m_textNeedle; // lower case
    int m_sortColumn = kSequenceCol;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;

    Rows m_shown;
    // Alerts stored since the last flush that match the filter.
    std::vector<const AlertRecord*> m_pending;
    std::unordered_set<const AlertRecord*> m_pendingSet;
    // Alerts removed from the store but still among the shown entries of an
    // ungrouped arrangement, until the next flush.
    std::unordered_set<const void*> m_dead;
    bool m_groupEmptied = false;
    bool m_acknowledgedSince = false;

    // The pass: the store walked from its newest alert at the start (passFirst)
    // to its oldest; alerts stored meanwhile are taken at its end.
    bool m_passRunning = false;
    bool m_passResort = false;
    Rows m_next;
    AlertList::iterator m_passFirst, m_passAt;
    // Of an ungrouped pass, beside its entries (nullptr for one removed
    // meanwhile): their alert ids, descending as in the store, and their
    // keys for the column it sorts by.
    std::vector<std::uint64_t> m_passIds;
    std::vector<std::uint32_t> m_passKeys;
    int m_passKeyColumn = -1;
    std::unordered_map<std::string, std::uint32_t> m_passTextIds;
    std::vector<const std::string*> m_passTexts; // by number
    QTimer m_sliceTimer;
    QTimer m_flushTimer;
};
