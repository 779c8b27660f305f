#include "platform/flexgrid/flexgrid_model.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Texts this short are shared; at most this many of them are kept.
constexpr qsizetype kSharedTextLength = 16;
constexpr qsizetype kMaxSharedTexts = 4096;

constexpr double kReadableContrast = 4.5;

double luminance(const QColor& colour) {
    const auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour mixed with white in tenths until it reads on base.
QColor readableOn(QColor colour, const QColor& base) {
    const QColor stored = colour;
    for (int tenth = 1; tenth <= 10 && contrast(colour, base) < kReadableContrast; ++tenth)
        colour = QColor::fromRgbF(stored.redF() + (1 - stored.redF()) * tenth / 10.0,
                                  stored.greenF() + (1 - stored.greenF()) * tenth / 10.0,
                                  stored.blueF() + (1 - stored.blueF()) * tenth / 10.0);
    return colour;
}

} // namespace

FlexGridModel::FlexGridModel(int rows, int cols, QObject* parent)
    : QAbstractTableModel(parent), m_rows(std::size_t(std::max(rows, 0))), m_cols(std::max(cols, 0)) {
    for (Row& r : m_rows)
        r.cells.resize(std::size_t(m_cols));
}

int FlexGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int FlexGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_cols;
}

bool FlexGridModel::valid(int row, int col) const {
    return row >= 0 && col >= 0 && row < int(m_rows.size()) && col < m_cols;
}

QVariant FlexGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !valid(index.row(), index.column()))
        return {};
    const Cell& c = cellAt(index.row(), index.column());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return c.text;
    case Qt::ForegroundRole:
        if (c.foreground == 0)
            return {};
        return QBrush(m_darkBase.isValid() ? readableOn(QColor::fromRgba(c.foreground), m_darkBase)
                                           : QColor::fromRgba(c.foreground));
    case Qt::BackgroundRole:
        return index.row() == 0 && m_fixedRowBrush.style() != Qt::NoBrush ? QVariant(m_fixedRowBrush)
                                                                          : QVariant();
    case Qt::TextAlignmentRole:
        return int(c.alignment);
    case Qt::ToolTipRole: {
        const QString tip = toolTip(index.row(), index.column());
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    case kFlexAlignmentRole:
        return c.flexAlignment >= 0 ? QVariant(int(c.flexAlignment)) : QVariant();
    default:
        return {};
    }
}

Qt::ItemFlags FlexGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

bool FlexGridModel::insertRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || row < 0 || row > int(m_rows.size()) || count <= 0)
        return false;
    beginInsertRows({}, row, row + count - 1);
    std::vector<Row> fresh(static_cast<std::size_t>(count));
    for (Row& r : fresh)
        r.cells.resize(std::size_t(m_cols));
    m_rows.insert(m_rows.begin() + row, std::make_move_iterator(fresh.begin()),
                  std::make_move_iterator(fresh.end()));
    endInsertRows();
    return true;
}

bool FlexGridModel::removeRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || row < 0 || count <= 0 || row + count > int(m_rows.size()))
        return false;
    beginRemoveRows({}, row, row + count - 1);
    m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + count);
    endRemoveRows();
    return true;
}

void FlexGridModel::setRowCount(int rows) {
    rows = std::max(rows, 0);
    const int now = int(m_rows.size());
    if (rows > now)
        insertRows(now, rows - now);
    else if (rows < now)
        removeRows(rows, now - rows);
}

void FlexGridModel::setColumnCount(int cols) {
    cols = std::max(cols, 0);
    if (cols == m_cols)
        return;
    if (cols > m_cols)
        beginInsertColumns({}, m_cols, cols - 1);
    else
        beginRemoveColumns({}, cols, m_cols - 1);
    const bool growing = cols > m_cols;
    for (Row& r : m_rows) {
        r.cells.resize(std::size_t(cols));
        if (r.toolTips)
            r.toolTips->removeIf([cols](const auto& tip) { return tip.key() >= cols; });
    }
    m_cols = cols;
    if (growing)
        endInsertColumns();
    else
        endRemoveColumns();
}

void FlexGridModel::changed(int row, int col, int role) {
    const QModelIndex i = index(row, col);
    if (role == Qt::DisplayRole)
        emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
    else
        emit dataChanged(i, i, {role});
}

QString FlexGridModel::shared(const QString& text) {
    if (text.size() > kSharedTextLength)
        return text;
    const auto found = m_common.constFind(text);
    if (found != m_common.cend())
        return *found;
    if (m_common.size() < kMaxSharedTexts)
        m_common.insert(text);
    return text;
}

QString FlexGridModel::text(int row, int col) const {
    return valid(row, col) ? cellAt(row, col).text : QString();
}

void FlexGridModel::setText(int row, int col, const QString& text) {
    if (!valid(row, col))
        return;
    Cell& c = cellAt(row, col);
    if (c.text == text)
        return;
    c.text = shared(text);
    changed(row, col, Qt::DisplayRole);
}

QRgb FlexGridModel::foreground(int row, int col) const {
    return valid(row, col) ? cellAt(row, col).foreground : 0;
}

void FlexGridModel::setForeground(int row, int col, QRgb rgb) {
    if (!valid(row, col) || cellAt(row, col).foreground == rgb)
        return;
    cellAt(row, col).foreground = rgb;
    changed(row, col, Qt::ForegroundRole);
}

void FlexGridModel::setAlignment(int row, int col, Qt::Alignment alignment, short flexAlignment) {
    if (!valid(row, col))
        return;
    Cell& c = cellAt(row, col);
    const auto a = std::uint16_t(alignment.toInt());
    if (c.alignment == a && c.flexAlignment == flexAlignment)
        return;
    c.alignment = a;
    c.flexAlignment = flexAlignment;
    changed(row, col, Qt::TextAlignmentRole);
}

short FlexGridModel::flexAlignment(int row, int col) const {
    return valid(row, col) ? cellAt(row, col).flexAlignment : -1;
}

QString FlexGridModel::toolTip(int row, int col) const {
    if (!valid(row, col))
        return {};
    const Row& r = m_rows[std::size_t(row)];
    return r.toolTips ? r.toolTips->value(col) : QString();
}

void FlexGridModel::setToolTip(int row, int col, const QString& tip) {
    if (!valid(row, col) || toolTip(row, col) == tip)
        return;
    Row& r = m_rows[std::size_t(row)];
    if (tip.isEmpty()) {
        r.toolTips->remove(col);
        if (r.toolTips->isEmpty())
            r.toolTips.reset();
    } else {
        if (!r.toolTips)
            r.toolTips = std::make_unique<QHash<int, QString>>();
        r.toolTips->insert(col, tip);
    }
    changed(row, col, Qt::ToolTipRole);
}

void FlexGridModel::setFixedRowBrush(const QBrush& brush) {
    m_fixedRowBrush = brush;
    if (!m_rows.empty() && m_cols > 0)
        emit dataChanged(index(0, 0), index(0, m_cols - 1), {Qt::BackgroundRole});
}

void FlexGridModel::setTextBackground(const QColor& base) {
    const QColor dark = luminance(base) < 0.18 ? base : QColor();
    if (dark == m_darkBase)
        return;
    m_darkBase = dark;
    if (!m_rows.empty() && m_cols > 0)
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, m_cols - 1), {Qt::ForegroundRole});
}

void FlexGridModel::clearContents() {
    for (Row& r : m_rows) {
        for (Cell& c : r.cells)
            c = Cell();
        r.toolTips.reset();
    }
    if (!m_rows.empty() && m_cols > 0)
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, m_cols - 1));
}

void FlexGridModel::sortRows(int first, int last, int keyFirst, int keyLast) {
    first = std::max(first, 0);
    last = std::min(last, int(m_rows.size()) - 1);
    keyFirst = std::max(keyFirst, 0);
    keyLast = std::min(keyLast, m_cols - 1);
    if (last <= first)
        return;
    std::vector<std::size_t> order(std::size_t(last - first + 1));
    std::iota(order.begin(), order.end(), std::size_t(first));
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        for (int c = keyFirst; c <= keyLast; ++c) {
            const int o = QString::compare(m_rows[a].cells[std::size_t(c)].text,
                                           m_rows[b].cells[std::size_t(c)].text, Qt::CaseInsensitive);
            if (o != 0)
                return o < 0;
        }
        return false;
    });
    // Rows change places; what is selected stays where it was, as with the control.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<Row> sorted;
    sorted.reserve(order.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(m_rows[i]));
    std::move(sorted.begin(), sorted.end(), m_rows.begin() + first);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
