#include "vardel/alerts/alert_list_model.h"

#include "vardel/resources/string_table.h"

#include <QColor>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

// needle is lower case; empty matches everything.
bool containsNoCase(const std::string& haystack, const std::string& needle) {
    if (needle.empty())
        return true;
    if (needle.size() > haystack.size())
        return false;
    const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                                [](char h, char n) { return lowerAscii(h) == n; });
    return it != haystack.end();
}

// Case-insensitive first, then byte by byte: a total order.
int compareText(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = lowerAscii(a[i]), y = lowerAscii(b[i]);
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int severityRank(int severity) {
    switch (severity) {
    case kSeverityCritical:
        return 4;
    case kSeverityWarning:
        return 3;
    case kSeverityInformational:
        return 2;
    case kSeverityNormal:
        return 1;
    default:
        return 0;
    }
}

const std::string* textKey(const AlertRecord& alert, int column) {
    switch (column) {
    case AlertListModel::kServerCol:
        return &alert.serverName;
    case AlertListModel::kDescriptionCol:
        return &alert.description;
    case AlertListModel::kAlertTextCol:
        return &alert.alertText;
    default:
        return nullptr;
    }
}

} // namespace

AlertListModel::AlertListModel(AlertStore& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store) {
    m_store.addObserver(this);
    m_sliceTimer.setSingleShot(true);
    connect(&m_sliceTimer, &QTimer::timeout, this, &AlertListModel::runSlice);
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &AlertListModel::flush);
    // The store as it is now.
    for (const auto& alert : m_store.alerts)
        m_shown.entries.push_back(alert.get());
}

AlertListModel::~AlertListModel() {
    m_store.removeObserver(this);
}

int AlertListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_shown.entries.size());
}

int AlertListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString AlertListModel::severityWord(int severity) {
    switch (severity) {
    case kSeverityCritical:
        return QString::fromStdString(LoadString(IDS_SEVERITY_CRITICAL));
    case kSeverityWarning:
        return QString::fromStdString(LoadString(IDS_SEVERITY_WARNING));
    case kSeverityInformational:
        return QString::fromStdString(LoadString(IDS_SEVERITY_INFORMATIONAL));
    case kSeverityNormal:
        return QString::fromStdString(LoadString(IDS_SEVERITY_NORMAL));
    default:
        return QString::fromStdString(LoadString(IDS_SEVERITY_UNKNOWN));
    }
}

// The lamps of the severity pictures.
QColor AlertListModel::severityColour(int severity) {
    switch (severity) {
    case kSeverityCritical:
        return QColor(210, 0, 0);
    case kSeverityWarning:
        return QColor(230, 190, 0);
    case kSeverityInformational:
        return QColor(0, 0, 255);
    case kSeverityNormal:
        return QColor(0, 157, 0);
    default:
        return QColor(128, 128, 128);
    }
}

QVariant AlertListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const void* entry = m_shown.entries[std::size_t(index.row())];
    const AlertRecord* alert = representative(m_shown, entry);
    if (!alert)
        return {};
    const int column = index.column();
    if (role == Qt::DecorationRole && column == kSeverityCol)
        return severityColour(alert->severity);
    if (role == Qt::ToolTipRole && (column == kDescriptionCol || column == kAlertTextCol))
        return QString::fromStdString(column == kDescriptionCol ? alert->description : alert->alertText);
    if (role != Qt::DisplayRole)
        return {};
    switch (column) {
    case kSequenceCol:
        return m_store.sequenceOf(*alert);
    case kTimeCol:
        return QString::fromStdString(alert->dateTime);
    case kServerCol:
        return QString::fromStdString(alert->serverName);
    case kSeverityCol:
        return severityWord(alert->severity);
    case kDescriptionCol:
        return QString::fromStdString(alert->description).simplified();
    case kAlertTextCol:
        return QString::fromStdString(alert->alertText).simplified();
    case kAcknowledgedCol: {
        if (!m_shown.grouped)
            return alert->acknowledged
                       ? QString::fromStdString(alert->acknowledgedBy + ", " + alert->acknowledgedAt)
                       : QString();
        const auto& members = static_cast<const Group*>(entry)->members;
        const auto done = std::count_if(members.begin(), members.end(),
                                        [](const AlertRecord* a) { return a->acknowledged; });
        if (done == 0)
            return QString();
        return QString::fromStdString(FormatString(IDS_ALERTS_PART_ACKNOWLEDGED,
                                                   {std::to_string(done), std::to_string(members.size())}));
    }
    case kCountCol:
        return memberCount(m_shown, entry);
    default:
        return {};
    }
}

QVariant AlertListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const int headers[kColumns] = {
        IDS_ALERTS_COL_NUMBER,      IDS_ALERTS_COL_TIME, IDS_ALERTS_COL_SERVER,       IDS_ALERTS_COL_SEVERITY,
        IDS_ALERTS_COL_DESCRIPTION, IDS_ALERTS_COL_TEXT, IDS_ALERTS_COL_ACKNOWLEDGED, IDS_ALERTS_COL_COUNT};
    if (section < 0 || section >= kColumns)
        return {};
    return QString::fromStdString(LoadString(headers[section]));
}

bool AlertListModel::matches(const AlertRecord& alert) const {
    if (m_filter.severity != kAnySeverity) {
        const bool known = severityRank(alert.severity) != 0;
        if (m_filter.severity == kSeverityUnclassified ? known : alert.severity != m_filter.severity)
            return false;
    }
    if (!containsNoCase(alert.serverName, m_serverNeedle))
        return false;
    return m_textNeedle.empty() || containsNoCase(alert.serverName, m_textNeedle) ||
           containsNoCase(alert.description, m_textNeedle) || containsNoCase(alert.alertText, m_textNeedle);
}

std::string AlertListModel::groupKey(const AlertRecord& alert) {
    std::string key = alert.serverName;
    key += '\x1f';
    key += alert.enterprise;
    key += '\x1f';
    key += alert.trapKey;
    key += alert.origin == kOriginTrap ? "\x1ft" : "\x1fs";
    return key;
}

const AlertRecord* AlertListModel::representative(const Rows& rows, const void* entry) const {
    if (rows.grouped) {
        const auto* group = static_cast<const Group*>(entry);
        return group->members.empty() ? nullptr : group->members.back();
    }
    return m_dead.count(entry) ? nullptr : static_cast<const AlertRecord*>(entry);
}

int AlertListModel::memberCount(const Rows& rows, const void* entry) const {
    if (rows.grouped)
        return static_cast<int>(static_cast<const Group*>(entry)->members.size());
    return m_dead.count(entry) ? 0 : 1;
}

bool AlertListModel::gone(const Rows& rows, const void* entry) const {
    return rows.grouped ? static_cast<const Group*>(entry)->members.empty() : m_dead.count(entry) != 0;
}

bool AlertListModel::addToGroups(Rows& rows, const AlertRecord& alert, Group** groupOut, bool older) {
    auto [it, fresh] = rows.groups.try_emplace(groupKey(alert));
    if (fresh)
        it->second = std::make_unique<Group>();
    if (older)
        it->second->members.push_front(&alert);
    else
        it->second->members.push_back(&alert);
    if (groupOut)
        *groupOut = it->second.get();
    return fresh;
}

void AlertListModel::removeFromGroups(Rows& rows, const AlertRecord& alert) {
    const auto it = rows.groups.find(groupKey(alert));
    if (it == rows.groups.end())
        return;
    auto& members = it->second->members;
    // The store drops its oldest first: the group's oldest, at the front.
    const auto found = std::find(members.begin(), members.end(), &alert);
    if (found == members.end())
        return;
    members.erase(found);
    if (members.empty())
        m_groupEmptied = true;
}

int AlertListModel::compare(const AlertRecord& a, int countA, const AlertRecord& b, int countB) const {
    int c = 0;
    if (const std::string* ka = textKey(a, m_sortColumn))
        c = compareText(*ka, *textKey(b, m_sortColumn));
    else if (m_sortColumn == kSeverityCol)
        c = severityRank(a.severity) - severityRank(b.severity);
    else if (m_sortColumn == kCountCol)
        c = countA - countB;
    else if (m_sortColumn == kAcknowledgedCol)
        c = int(a.acknowledged) - int(b.acknowledged);
    if (c == 0)
        c = a.sequence - b.sequence; // arrival order, also for # and Time
    c = c < 0 ? -1 : (c > 0 ? 1 : 0);
    return m_sortOrder == Qt::AscendingOrder ? c : -c;
}

bool AlertListModel::entryBefore(const Rows& rows, const void* a, const void* b) const {
    return compare(*representative(rows, a), memberCount(rows, a), *representative(rows, b),
                   memberCount(rows, b)) < 0;
}

// Every entry is live. A text column is ranked once per distinct text, then
// the entries are sorted on integers: a million alerts of a few hundred
// servers sort in a fraction of what comparing their texts would take.
void AlertListModel::sortEntries(Rows& rows) const {
    struct Keyed {
        std::uint64_t key;
        const void* entry;
    };
    std::vector<Keyed> keyed(rows.entries.size());
    std::vector<std::uint32_t> rank;
    if (textKey(AlertRecord(), m_sortColumn)) {
        std::unordered_map<std::string_view, std::uint32_t> ids;
        std::vector<std::string_view> distinct;
        rank.resize(rows.entries.size());
        for (std::size_t i = 0; i < rows.entries.size(); ++i) {
            const std::string& text = *textKey(*representative(rows, rows.entries[i]), m_sortColumn);
            auto [it, fresh] = ids.try_emplace(text, static_cast<std::uint32_t>(distinct.size()));
            if (fresh)
                distinct.push_back(text);
            rank[i] = it->second;
        }
        std::vector<std::uint32_t> order(distinct.size());
        for (std::uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return compareText(distinct[a], distinct[b]) < 0;
        });
        std::vector<std::uint32_t> rankOfId(distinct.size());
        for (std::uint32_t r = 0; r < order.size(); ++r)
            rankOfId[order[r]] = r;
        for (auto& r : rank)
            r = rankOfId[r];
    }
    for (std::size_t i = 0; i < rows.entries.size(); ++i) {
        const void* e = rows.entries[i];
        const AlertRecord& a = *representative(rows, e);
        std::uint64_t major = 0;
        if (!rank.empty())
            major = rank[i];
        else if (m_sortColumn == kSeverityCol)
            major = static_cast<std::uint64_t>(severityRank(a.severity));
        else if (m_sortColumn == kCountCol)
            major = static_cast<std::uint64_t>(memberCount(rows, e));
        else if (m_sortColumn == kAcknowledgedCol)
            major = a.acknowledged ? 1 : 0;
        keyed[i] = {major << 32 | static_cast<std::uint32_t>(a.sequence), e};
    }
    // Least significant 16 bits first, skipping digits every key shares.
    std::vector<Keyed> spare(keyed.size());
    for (int shift = 0; shift < 64; shift += 16) {
        std::vector<std::size_t> counts(std::size_t(1) << 16, 0);
        for (const Keyed& k : keyed)
            ++counts[(k.key >> shift) & 0xFFFF];
        if (keyed.empty() || counts[(keyed.front().key >> shift) & 0xFFFF] == keyed.size())
            continue;
        std::size_t at = 0;
        for (auto& c : counts)
            at += std::exchange(c, at);
        for (const Keyed& k : keyed)
            spare[counts[(k.key >> shift) & 0xFFFF]++] = k;
        keyed.swap(spare);
    }
    const bool ascending = m_sortOrder == Qt::AscendingOrder;
    for (std::size_t i = 0; i < keyed.size(); ++i)
        rows.entries[i] = keyed[ascending ? i : keyed.size() - 1 - i].entry;
}

// The shown rows in the current order, selection and current row following
// their alerts.
void AlertListModel::rearrangeShown() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();
    std::unordered_map<const void*, std::vector<int>> wanted;
    for (int i = 0; i < persistent.size(); ++i)
        wanted[m_shown.entries[std::size_t(persistent[i].row())]].push_back(i);
    sortEntries(m_shown);
    QModelIndexList to = persistent;
    if (!wanted.empty()) {
        for (std::size_t row = 0; row < m_shown.entries.size(); ++row) {
            const auto it = wanted.find(m_shown.entries[row]);
            if (it == wanted.end())
                continue;
            for (int i : it->second)
                to[i] = index(int(row), persistent[i].column());
        }
        changePersistentIndexList(persistent, to);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void AlertListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kColumns)
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    flush();
    if (m_passRunning)
        return; // a pass sorts at its end
    if (!m_shown.grouped && m_shown.entries.size() > sortedAtOnce)
        startPass(true);
    else
        rearrangeShown();
}

void AlertListModel::setFilter(const Filter& filter) {
    if (filter == m_filter && !m_passRunning)
        return;
    m_filter = filter;
    m_serverNeedle = lowered(filter.server);
    m_textNeedle = lowered(filter.text);
    startPass(false);
}

void AlertListModel::startPass(bool resort) {
    // Alerts stored from now on are taken by the pass, at its end.
    m_pending.clear();
    m_pendingSet.clear();
    m_next = Rows();
    m_next.grouped = m_filter.grouped;
    clearPassKeys();
    m_passKeyColumn = m_sortColumn;
    m_passResort = resort;
    m_passRunning = true;
    m_passFirst = m_store.alerts.begin();
    m_passAt = m_passFirst;
    m_sliceTimer.start(0);
}

void AlertListModel::runSlice() {
    if (!m_passRunning)
        return;
    const auto until = std::chrono::steady_clock::now() + sliceBudget;
    int n = 0;
    while (m_passAt != m_store.alerts.end()) {
        const AlertRecord& alert = **m_passAt;
        ++m_passAt;
        if (matches(alert)) {
            if (!m_next.grouped) {
                m_next.entries.push_back(&alert);
                m_passIds.push_back(alert.alertId);
                m_passKeys.push_back(passKey(alert));
            } else if (Group* group = nullptr; addToGroups(m_next, alert, &group, true)) {
                m_next.entries.push_back(group);
            }
        }
        if (++n % 256 == 0 && std::chrono::steady_clock::now() >= until) {
            m_sliceTimer.start(0);
            return;
        }
    }
    endPass();
}

void AlertListModel::finishPass() {
    if (!m_passRunning)
        return;
    const auto budget = sliceBudget;
    sliceBudget = std::chrono::hours(1);
    runSlice();
    sliceBudget = budget;
}

void AlertListModel::endPass() {
    m_sliceTimer.stop();
    m_flushTimer.stop();
    compactNext();
    m_dead.clear();
    m_groupEmptied = false;
    // The alerts stored while it ran, oldest first.
    std::vector<const AlertRecord*> newcomers;
    for (auto it = m_store.alerts.begin(); it != m_passFirst; ++it)
        newcomers.push_back(it->get());
    if (m_next.grouped) {
        for (auto it = newcomers.rbegin(); it != newcomers.rend(); ++it)
            if (Group* group = nullptr; matches(**it) && addToGroups(m_next, **it, &group))
                m_next.entries.push_back(group);
        sortEntries(m_next);
    } else {
        arrangePassed(newcomers);
    }
    clearPassKeys();
    if (m_passResort) {
        showResorted();
    } else {
        beginResetModel();
        m_shown = std::move(m_next);
        m_next = Rows();
        m_pending.clear();
        m_pendingSet.clear();
        m_passRunning = false;
        endResetModel();
    }
    emit passFinished();
    emit rowsChangedTogether();
}

// The same rows in a new order (and those that came or went meanwhile): the
// selection and current row follow their alerts.
void AlertListModel::showResorted() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to(from.size());
    std::unordered_map<const void*, std::vector<int>> wanted;
    for (int i = 0; i < from.size(); ++i) {
        const void* entry = m_shown.entries[std::size_t(from[i].row())];
        if (!m_dead.count(entry)) // a gone alert's address may serve a new one
            wanted[entry].push_back(i);
    }
    m_shown = std::move(m_next);
    m_next = Rows();
    m_dead.clear();
    m_pending.clear();
    m_pendingSet.clear();
    m_passRunning = false;
    for (std::size_t row = 0; row < m_shown.entries.size() && !wanted.empty(); ++row) {
        const auto it = wanted.find(m_shown.entries[row]);
        if (it == wanted.end())
            continue;
        for (int i : it->second)
            to[i] = index(int(row), from[i].column());
        wanted.erase(it);
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::uint32_t AlertListModel::passKey(const AlertRecord& alert) {
    if (const std::string* text = textKey(alert, m_passKeyColumn)) {
        const auto [it, fresh] = m_passTextIds.try_emplace(*text, std::uint32_t(m_passTexts.size()));
        if (fresh)
            m_passTexts.push_back(&it->first);
        return it->second;
    }
    if (m_passKeyColumn == kSeverityCol)
        return std::uint32_t(severityRank(alert.severity));
    if (m_passKeyColumn == kAcknowledgedCol)
        return alert.acknowledged ? 1 : 0;
    return 0; // arrival order; an ungrouped row counts one
}

void AlertListModel::clearPassKeys() {
    std::vector<std::uint64_t>().swap(m_passIds);
    std::vector<std::uint32_t>().swap(m_passKeys);
    m_passTextIds.clear();
    m_passTexts.clear();
}

// The store gives the arrival order, the order of every column's ties: a
// stable counting sort of the alerts, oldest first, on their keys finishes
// the order, in a few linear passes.
void AlertListModel::arrangePassed(const std::vector<const AlertRecord*>& newcomers) {
    const bool keyed = m_passKeyColumn == m_sortColumn;
    std::vector<const void*> entries;
    std::vector<std::uint32_t> keys;
    entries.reserve(m_next.entries.size() + newcomers.size());
    keys.reserve(keyed ? entries.capacity() : 0);
    for (std::size_t i = m_next.entries.size(); i-- > 0;) {
        if (!m_next.entries[i])
            continue;
        entries.push_back(m_next.entries[i]);
        if (keyed)
            keys.push_back(m_passKeys[i]);
    }
    for (auto it = newcomers.rbegin(); it != newcomers.rend(); ++it) {
        if (!matches(**it))
            continue;
        entries.push_back(*it);
        if (keyed)
            keys.push_back(passKey(**it));
    }
    m_next.entries.swap(entries);
    if (!keyed) {
        // The column changed (or keys did) while the pass ran.
        sortEntries(m_next);
        return;
    }
    if (!m_passTexts.empty()) {
        std::vector<std::uint32_t> order(m_passTexts.size());
        for (std::uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
            return compareText(*m_passTexts[a], *m_passTexts[b]) < 0;
        });
        std::vector<std::uint32_t> rankOfId(order.size());
        for (std::uint32_t r = 0; r < order.size(); ++r)
            rankOfId[order[r]] = r;
        for (std::uint32_t& k : keys)
            k = rankOfId[k];
    }
    auto& sorted = m_next.entries;
    std::vector<const void*> spareEntries(sorted.size());
    std::vector<std::uint32_t> spareKeys(keys.size());
    for (int shift = 0; shift < 32; shift += 16) {
        std::vector<std::size_t> counts(std::size_t(1) << 16, 0);
        for (std::uint32_t k : keys)
            ++counts[(k >> shift) & 0xFFFF];
        if (keys.empty() || counts[(keys.front() >> shift) & 0xFFFF] == keys.size())
            continue;
        std::size_t at = 0;
        for (auto& c : counts)
            at += std::exchange(c, at);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::size_t to = counts[(keys[i] >> shift) & 0xFFFF]++;
            spareEntries[to] = sorted[i];
            spareKeys[to] = keys[i];
        }
        sorted.swap(spareEntries);
        keys.swap(spareKeys);
    }
    if (m_sortOrder == Qt::DescendingOrder)
        std::reverse(sorted.begin(), sorted.end());
}

void AlertListModel::alertStored(const AlertRecord& alert) {
    if (m_passRunning || !matches(alert))
        return;
    m_pending.push_back(&alert);
    m_pendingSet.insert(&alert);
    scheduleFlush();
}

void AlertListModel::alertRemoving(const AlertRecord& alert) {
    if (m_passRunning) {
        if (m_passAt != m_store.alerts.end() && m_passAt->get() == &alert)
            ++m_passAt;
        if (m_passFirst != m_store.alerts.end() && m_passFirst->get() == &alert)
            ++m_passFirst;
    }
    if (m_pendingSet.erase(&alert)) {
        m_pending.erase(std::find(m_pending.begin(), m_pending.end(), &alert));
        return;
    }
    if (m_passRunning) {
        if (m_next.grouped) {
            removeFromGroups(m_next, alert);
        } else {
            // Taken already: its id is among the pass's, which descend.
            const auto it = std::lower_bound(m_passIds.begin(), m_passIds.end(), alert.alertId,
                                             std::greater<std::uint64_t>());
            if (it != m_passIds.end() && *it == alert.alertId)
                m_next.entries[std::size_t(it - m_passIds.begin())] = nullptr;
        }
    }
    if (m_shown.grouped)
        removeFromGroups(m_shown, alert);
    else
        m_dead.insert(&alert);
    scheduleFlush();
}

void AlertListModel::alertsClearing() {
    m_sliceTimer.stop();
    m_flushTimer.stop();
    const bool passWasRunning = m_passRunning;
    beginResetModel();
    m_passRunning = false;
    const bool grouped = passWasRunning ? m_next.grouped : m_shown.grouped;
    m_shown = Rows();
    m_shown.grouped = grouped;
    m_next = Rows();
    clearPassKeys();
    m_pending.clear();
    m_pendingSet.clear();
    m_dead.clear();
    endResetModel();
    if (passWasRunning)
        emit passFinished();
    emit rowsChangedTogether();
}

void AlertListModel::alertAcknowledged(const AlertRecord&) {
    m_acknowledgedSince = true;
    if (m_passRunning && m_passKeyColumn == kAcknowledgedCol)
        m_passKeyColumn = -1; // its keys are stale: the pass sorts afresh
    scheduleFlush();
}

void AlertListModel::scheduleFlush() {
    if (!m_flushTimer.isActive())
        m_flushTimer.start(flushDelayMs);
}

// Grouped: the groups a pass emptied are left out.
void AlertListModel::compactNext() {
    if (!m_passRunning || !m_next.grouped)
        return;
    auto& entries = m_next.entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const void* e) { return static_cast<const Group*>(e)->members.empty(); }),
                  entries.end());
    for (auto it = m_next.groups.begin(); it != m_next.groups.end();)
        it = it->second->members.empty() ? m_next.groups.erase(it) : std::next(it);
}

// Grouped: the emptied groups leave in runs, from the bottom up, so that the
// view keeps its selection and scroll position.
void AlertListModel::compactShown() {
    if (!m_shown.grouped || !m_groupEmptied)
        return;
    auto& entries = m_shown.entries;
    std::vector<std::pair<int, int>> runs; // first, last
    for (int row = 0; row < int(entries.size()); ++row) {
        if (!gone(m_shown, entries[std::size_t(row)]))
            continue;
        if (!runs.empty() && runs.back().second == row - 1)
            runs.back().second = row;
        else
            runs.emplace_back(row, row);
    }
    // Each run leaves as the views hear of it, bottom up.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        beginRemoveRows({}, run->first, run->second);
        entries.erase(entries.begin() + run->first, entries.begin() + run->second + 1);
        endRemoveRows();
    }
    if (m_shown.grouped)
        for (auto it = m_shown.groups.begin(); it != m_shown.groups.end();)
            it = it->second->members.empty() ? m_shown.groups.erase(it) : std::next(it);
}

// Grouped: new groups come in at the end, then all take their places again.
void AlertListModel::mergePending() {
    if (m_pending.empty())
        return;
    std::vector<const AlertRecord*> pending;
    pending.swap(m_pending);
    m_pendingSet.clear();
    const int before = rowCount();
    std::vector<const void*> fresh;
    for (const AlertRecord* alert : pending)
        if (Group* group = nullptr; addToGroups(m_shown, *alert, &group))
            fresh.push_back(group);
    if (!fresh.empty()) {
        beginInsertRows({}, before, before + int(fresh.size()) - 1);
        m_shown.entries.insert(m_shown.entries.end(), fresh.begin(), fresh.end());
        endInsertRows();
    }
    // Counts and newest members changed: the groups take their places again.
    rearrangeShown();
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
}

namespace {

// Bits of a pointer for a filter of 2^20 bits.
constexpr int kFilterBits = 20;
std::size_t filterBit(const void* p) {
    return std::size_t((std::uintptr_t(p) * 0x9E3779B97F4A7C15ull) >> (64 - kFilterBits));
}

// Runs of consecutive values in an ascending list.
template <typename T> int runsIn(const std::vector<T>& values, T step) {
    int runs = 0;
    for (std::size_t i = 0; i < values.size(); ++i)
        runs += i == 0 || values[i] != values[i - 1] + step;
    return runs;
}

// Past this many runs of rows leaving, or rows coming, the views hear of one
// change of layout: each run costs a table view a walk over all its rows.
constexpr int kRunsTold = 4;

} // namespace

void AlertListModel::applyRowChanges() {
    auto& entries = m_shown.entries;
    std::vector<std::size_t> deadRows;
    if (!m_dead.empty()) {
        // The filter spares the set a look-up for nearly every row.
        std::vector<std::uint64_t> maybe(std::size_t(1) << (kFilterBits - 6), 0);
        for (const void* e : m_dead)
            maybe[filterBit(e) >> 6] |= std::uint64_t(1) << (filterBit(e) & 63);
        for (std::size_t row = 0; row < entries.size(); ++row) {
            const std::size_t bit = filterBit(entries[row]);
            if ((maybe[bit >> 6] >> (bit & 63) & 1) && m_dead.count(entries[row]))
                deadRows.push_back(row);
        }
    }
    std::vector<const AlertRecord*> pending;
    pending.swap(m_pending);
    m_pendingSet.clear();
    if (deadRows.empty() && pending.empty())
        return;

    // In place: the dead rows out, then each newcomer in at its place among
    // the rows kept, merging from the back.
    std::vector<std::size_t> at(pending.size());
    const auto compact = [&] {
        std::size_t to = deadRows.empty() ? entries.size() : deadRows.front();
        for (std::size_t row = to, d = 0; row < entries.size(); ++row) {
            if (d < deadRows.size() && deadRows[d] == row)
                ++d;
            else
                entries[to++] = entries[row];
        }
        entries.resize(to);
        m_dead.clear();
    };
    // The newcomers in order, and where each goes among the rows kept.
    const auto sortPending = [&] {
        std::sort(pending.begin(), pending.end(),
                  [this](const AlertRecord* a, const AlertRecord* b) { return compare(*a, 1, *b, 1) < 0; });
        for (std::size_t i = 0; i < pending.size(); ++i)
            at[i] = std::size_t(
                std::upper_bound(entries.begin(), entries.end(), pending[i],
                                 [this](const AlertRecord* a, const void* e) {
                                     return compare(*a, 1, *static_cast<const AlertRecord*>(e), 1) < 0;
                                 }) -
                entries.begin());
    };
    const auto merge = [&] {
        sortPending();
        std::size_t end = entries.size();
        std::size_t to = end + pending.size();
        if (to > entries.capacity())
            entries.reserve(to + to / 8); // room for the next few merges
        entries.resize(to);
        for (std::size_t j = pending.size(); j-- > 0;) {
            std::move_backward(entries.begin() + long(at[j]), entries.begin() + long(end),
                               entries.begin() + long(to));
            to -= end - at[j];
            end = at[j];
            entries[--to] = pending[j];
        }
    };

    if (runsIn(deadRows, std::size_t(1)) + int(pending.size()) > kRunsTold) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList from = persistentIndexList();
        compact();
        merge();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& old : from) {
            const std::size_t row = std::size_t(old.row());
            const auto dead = std::lower_bound(deadRows.begin(), deadRows.end(), row);
            if (dead != deadRows.end() && *dead == row) {
                to.push_back(QModelIndex());
                continue;
            }
            const std::size_t k = row - std::size_t(dead - deadRows.begin());
            const std::size_t before = std::size_t(std::upper_bound(at.begin(), at.end(), k) - at.begin());
            to.push_back(index(int(k + before), old.column()));
        }
        changePersistentIndexList(from, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        return;
    }

    // Few runs: each leaves (bottom up) or comes (top down) as the views hear of it.
    for (std::size_t i = deadRows.size(); i > 0;) {
        std::size_t j = i - 1;
        while (j > 0 && deadRows[j - 1] + 1 == deadRows[j])
            --j;
        beginRemoveRows({}, int(deadRows[j]), int(deadRows[i - 1]));
        entries.erase(entries.begin() + long(deadRows[j]), entries.begin() + long(deadRows[i - 1]) + 1);
        endRemoveRows();
        i = j;
    }
    m_dead.clear();
    sortPending();
    for (std::size_t i = 0, shift = 0; i < at.size();) {
        std::size_t j = i;
        while (j < at.size() && at[j] == at[i])
            ++j;
        const int first = int(at[i] + shift);
        beginInsertRows({}, first, first + int(j - i) - 1);
        entries.insert(entries.begin() + first, pending.begin() + long(i), pending.begin() + long(j));
        endInsertRows();
        shift += j - i;
        i = j;
    }
}

void AlertListModel::flush() {
    m_flushTimer.stop();
    compactNext();
    if (m_shown.grouped) {
        compactShown();
        m_groupEmptied = false;
        mergePending();
    } else {
        applyRowChanges();
    }
    m_dead.clear();
    if (m_acknowledgedSince && rowCount() > 0)
        emit dataChanged(index(0, kAcknowledgedCol), index(rowCount() - 1, kAcknowledgedCol));
    m_acknowledgedSince = false;
    emit rowsChangedTogether();
}

const AlertRecord* AlertListModel::alertAt(int row) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    return representative(m_shown, m_shown.entries[std::size_t(row)]);
}

std::vector<const AlertRecord*> AlertListModel::alertsAt(int row) const {
    if (row < 0 || row >= rowCount())
        return {};
    const void* entry = m_shown.entries[std::size_t(row)];
    if (m_shown.grouped) {
        const auto& members = static_cast<const Group*>(entry)->members;
        return {members.begin(), members.end()};
    }
    if (const AlertRecord* alert = representative(m_shown, entry))
        return {alert};
    return {};
}

int AlertListModel::rowOf(const AlertRecord* alert) const {
    if (!alert)
        return -1;
    const void* wanted = alert;
    if (m_shown.grouped) {
        const auto it = m_shown.groups.find(groupKey(*alert));
        if (it == m_shown.groups.end())
            return -1;
        const auto& members = it->second->members;
        if (std::find(members.begin(), members.end(), alert) == members.end())
            return -1;
        wanted = it->second.get();
    } else if (m_dead.count(alert)) {
        return -1;
    }
    const auto found = std::find(m_shown.entries.begin(), m_shown.entries.end(), wanted);
    return found == m_shown.entries.end() ? -1 : int(found - m_shown.entries.begin());
}

int AlertListModel::newestCriticalRow() const {
    int best = -1;
    int bestSequence = 0;
    for (std::size_t row = 0; row < m_shown.entries.size(); ++row) {
        const AlertRecord* alert = representative(m_shown, m_shown.entries[row]);
        if (alert && alert->severity == kSeverityCritical && (best < 0 || alert->sequence > bestSequence)) {
            best = int(row);
            bestSequence = alert->sequence;
        }
    }
    return best;
}

std::size_t AlertListModel::alertsShown() const {
    if (!m_shown.grouped)
        return m_shown.entries.size() - std::min(m_shown.entries.size(), m_dead.size());
    std::size_t n = 0;
    for (const void* e : m_shown.entries)
        n += static_cast<const Group*>(e)->members.size();
    return n;
}
