#include "platform/flexgrid/flexgrid.h"

#include "platform/flexgrid/flexgrid_model.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

QColor fromColorref(std::uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

std::uint32_t toColorref(const QColor& c) {
    return static_cast<std::uint32_t>(c.red()) | static_cast<std::uint32_t>(c.green()) << 8 |
           static_cast<std::uint32_t>(c.blue()) << 16;
}

// Alignment values 0-8: left, centre, right, each top, centre, bottom; 9 general.
Qt::Alignment toQt(short a) {
    if (a < 0 || a > 8)
        return Qt::AlignLeft | Qt::AlignVCenter;
    static const Qt::Alignment horizontal[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
    static const Qt::Alignment vertical[] = {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom};
    return horizontal[a / 3] | vertical[a % 3];
}

} // namespace

// The rows shown: the fixed row first, then the rows that pass, in the order
// chosen. Numbers compare as numbers, other texts without regard to case.
class FlexGridArrangement : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    QString needle;
    std::function<bool(long)> accepts;

    bool arranged() const { return sortColumn() >= 0 || !needle.isEmpty() || accepts; }
    void refilter() { invalidateFilter(); }

protected:
    bool filterAcceptsRow(int row, const QModelIndex&) const override {
        if (row == 0)
            return true;
        if (accepts && !accepts(row))
            return false;
        if (needle.isEmpty())
            return true;
        for (int c = 0; c < sourceModel()->columnCount(); ++c)
            if (sourceModel()->index(row, c).data().toString().contains(needle, Qt::CaseInsensitive))
                return true;
        return false;
    }
    bool lessThan(const QModelIndex& l, const QModelIndex& r) const override {
        const bool ascending = sortOrder() == Qt::AscendingOrder;
        if (l.row() == 0)
            return ascending;
        if (r.row() == 0)
            return !ascending;
        const QString a = l.data().toString(), b = r.data().toString();
        bool na = false, nb = false;
        const qlonglong x = a.toLongLong(&na), y = b.toLongLong(&nb);
        if (na && nb && x != y)
            return x < y;
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : l.row() < r.row();
    }
};

CMSFlexGrid::CMSFlexGrid(QWidget* parent)
    : QTableView(parent), m_cells(new FlexGridModel(2, 2, this)),
      m_arrangement(new FlexGridArrangement(this)) {
    m_arrangement->setSourceModel(m_cells);
    m_arrangement->setDynamicSortFilter(true);
    setModel(m_cells);
    viewport()->setMouseTracking(true);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    // The grid takes the focus, as the control does: the keys typed over it
    // go to it, not to the button that had the focus before.
    setFocusPolicy(Qt::StrongFocus);
    setWordWrap(false);
    m_cells->setFixedRowBrush(palette().button());
    m_cells->setTextBackground(palette().base().color());
}

int CMSFlexGrid::rowCount() const {
    return m_cells->rowCount();
}

int CMSFlexGrid::columnCount() const {
    return m_cells->columnCount();
}

long CMSFlexGrid::GetRows() const {
    return rowCount();
}

long CMSFlexGrid::GetCols() const {
    return columnCount();
}

bool CMSFlexGrid::valid(long row, long col) const {
    return row >= 0 && col >= 0 && row < rowCount() && col < columnCount();
}

void CMSFlexGrid::SetRows(long rows) {
    m_cells->setRowCount(static_cast<int>(std::max(1L, rows)));
}

void CMSFlexGrid::SetCols(long cols) {
    m_cells->setColumnCount(static_cast<int>(std::max(1L, cols)));
    for (auto it = m_twips.begin(); it != m_twips.end(); ++it)
        if (it.key() < cols)
            setColumnWidth(static_cast<int>(it.key()), twipsToPixels(it.value(), logicalDpiX()));
}

void CMSFlexGrid::SetRow(long row) {
    m_row = row;
    m_rowSel = row;
}

void CMSFlexGrid::SetCol(long col) {
    m_col = col;
    m_colSel = col;
}

std::string CMSFlexGrid::GetTextMatrix(long row, long col) const {
    return valid(row, col) ? m_cells->text(int(row), int(col)).toStdString() : std::string();
}

void CMSFlexGrid::SetTextMatrix(long row, long col, const std::string& text) {
    if (valid(row, col))
        m_cells->setText(int(row), int(col), QString::fromStdString(text));
}

void CMSFlexGrid::SetCellForeColor(std::uint32_t colorref) {
    if (valid(m_row, m_col))
        m_cells->setForeground(int(m_row), int(m_col), fromColorref(colorref).rgb());
}

std::uint32_t CMSFlexGrid::GetCellForeColor() const {
    const QRgb rgb = valid(m_row, m_col) ? m_cells->foreground(int(m_row), int(m_col)) : 0;
    return toColorref(rgb != 0 ? QColor::fromRgba(rgb) : palette().text().color());
}

void CMSFlexGrid::SetCellToolTip(const std::string& text) {
    if (valid(m_row, m_col))
        m_cells->setToolTip(int(m_row), int(m_col), QString::fromStdString(text));
}

std::string CMSFlexGrid::GetCellToolTip() const {
    return valid(m_row, m_col) ? m_cells->toolTip(int(m_row), int(m_col)).toStdString() : std::string();
}

void CMSFlexGrid::SetCellAlignment(short alignment) {
    if (valid(m_row, m_col))
        m_cells->setAlignment(int(m_row), int(m_col), toQt(alignment), alignment);
}

short CMSFlexGrid::GetCellAlignment() const {
    const short a = valid(m_row, m_col) ? m_cells->flexAlignment(int(m_row), int(m_col)) : -1;
    return a < 0 ? short(flexAlignGeneral) : a;
}

int CMSFlexGrid::twipsToPixels(long twips, int dpi) {
    return static_cast<int>((twips * dpi + 720) / 1440);
}

void CMSFlexGrid::SetColWidth(long col, long twips) {
    m_twips[col] = twips;
    if (col >= 0 && col < columnCount())
        setColumnWidth(static_cast<int>(col), twipsToPixels(twips, logicalDpiX()));
}

void CMSFlexGrid::SetSort(short setting) {
    if (setting != flexSortStringNoCaseAscending)
        return;
    long first = std::min(m_row, m_rowSel);
    long last = std::max(m_row, m_rowSel);
    if (first == last) {
        first = 1;
        last = rowCount() - 1;
    }
    m_cells->sortRows(int(std::max(first, 1L)), int(std::min(last, long(INT32_MAX))),
                      int(std::max(0L, std::min(m_col, m_colSel))),
                      int(std::min(long(INT32_MAX), std::max(m_col, m_colSel))));
}

void CMSFlexGrid::AddItem(const std::string& text, long index) {
    if (index < 0 || index > rowCount())
        index = rowCount();
    m_cells->insertRows(static_cast<int>(index), 1);
    const QStringList cells = QString::fromStdString(text).split('\t');
    for (int c = 0; c < cells.size() && c < columnCount(); ++c)
        m_cells->setText(int(index), c, cells[c]);
}

void CMSFlexGrid::RemoveItem(long index) {
    RemoveItems(index, 1);
}

void CMSFlexGrid::AddItems(long index, long count) {
    if (index < 0 || index > rowCount())
        index = rowCount();
    if (count > 0)
        m_cells->insertRows(static_cast<int>(index), static_cast<int>(count));
}

void CMSFlexGrid::RemoveItems(long index, long count) {
    count = std::min(count, static_cast<long>(rowCount()) - 1);
    if (index < 0 || count <= 0 || index + count > rowCount())
        return;
    m_cells->removeRows(static_cast<int>(index), static_cast<int>(count));
    // The current cell and the selection end stay inside the grid.
    const long last = rowCount() - 1;
    m_row = std::min(m_row, last);
    m_rowSel = std::min(m_rowSel, last);
}

void CMSFlexGrid::Clear() {
    m_cells->clearContents();
}

void CMSFlexGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        m_cells->setFixedRowBrush(palette().button());
        m_cells->setTextBackground(palette().base().color());
    }
}

void CMSFlexGrid::keyPressEvent(QKeyEvent* event) {
    QTableView::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        event->accept();
}

void CMSFlexGrid::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && rowAt(pos.y()) == 0) {
        const int edge = m_allowResizing ? edgeAt(pos) : -1;
        if (edge >= 0) {
            m_resizing = edge;
            m_resizeFromX = pos.x();
            m_resizeFromWidth = columnWidth(edge);
        } else if (columnAt(pos.x()) >= 0) {
            emit fixedRowClicked(columnAt(pos.x()));
        }
        return;
    }
    if (m_selectionMode != flexSelectionByRow || event->button() != Qt::LeftButton) {
        QTableView::mousePressEvent(event);
        return;
    }
    const int shown = rowAt(pos.y());
    const long row = shown < 1 ? -1 : gridRow(shown);
    if (row < 1)
        return;
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_row = row;
    m_rowSel = row;
    // The focus frame marks the row clicked.
    selectionModel()->setCurrentIndex(model()->index(shown, 0), QItemSelectionModel::NoUpdate);
    showRowSelection();
}

void CMSFlexGrid::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (m_resizing >= 0) {
        setColumnWidth(m_resizing, std::max(8, m_resizeFromWidth + pos.x() - m_resizeFromX));
        m_twips[m_resizing] = (long(columnWidth(m_resizing)) * 1440 + logicalDpiX() / 2) / logicalDpiX();
        return;
    }
    if (m_allowResizing && !(event->buttons() & Qt::LeftButton)) {
        if (rowAt(pos.y()) == 0 && edgeAt(pos) >= 0)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
    }
    if (m_selectionMode != flexSelectionByRow || !(event->buttons() & Qt::LeftButton)) {
        QTableView::mouseMoveEvent(event);
        return;
    }
    const int shown = rowAt(pos.y());
    const long row = shown < 1 ? -1 : gridRow(shown);
    if (row < 1 || row == m_rowSel)
        return;
    m_rowSel = row;
    showRowSelection();
}

void CMSFlexGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (m_resizing >= 0) {
        const long col = m_resizing;
        m_resizing = -1;
        emit columnResizedByUser(col);
        return;
    }
    QTableView::mouseReleaseEvent(event);
}

int CMSFlexGrid::edgeAt(const QPoint& pos) const {
    constexpr int kGrip = 4;
    for (int c = 0; c < columnCount(); ++c) {
        const int right = columnViewportPosition(c) + columnWidth(c);
        if (std::abs(pos.x() - right) <= kGrip)
            return c;
    }
    return -1;
}

void CMSFlexGrid::showRowSelection() {
    int top = viewRow(m_row), bottom = viewRow(m_rowSel);
    if (top < 0 || bottom < 0) {
        selectionModel()->clearSelection();
        return;
    }
    if (top > bottom)
        std::swap(top, bottom);
    selectionModel()->select(
        QItemSelection(model()->index(top, 0), model()->index(bottom, columnCount() - 1)),
        QItemSelectionModel::ClearAndSelect);
}

long CMSFlexGrid::gridRow(int shown) const {
    if (model() != m_arrangement)
        return shown >= 0 && shown < rowCount() ? shown : -1;
    const QModelIndex source = m_arrangement->mapToSource(m_arrangement->index(shown, 0));
    return source.isValid() ? source.row() : -1;
}

int CMSFlexGrid::viewRow(long row) const {
    if (model() != m_arrangement)
        return row >= 0 && row < rowCount() ? int(row) : -1;
    if (row < 0 || row >= rowCount())
        return -1;
    const QModelIndex shown = m_arrangement->mapFromSource(m_cells->index(int(row), 0));
    return shown.isValid() ? shown.row() : -1;
}

std::vector<long> CMSFlexGrid::SelectedRows() const {
    std::vector<long> rows;
    if (model() != m_arrangement) {
        for (long r = std::min(m_row, m_rowSel); r <= std::max(m_row, m_rowSel); ++r)
            rows.push_back(r);
        return rows;
    }
    int top = viewRow(m_row), bottom = viewRow(m_rowSel);
    if (top < 0 || bottom < 0) {
        // The block's end is filtered out: what of it is shown.
        top = top < 0 ? bottom : top;
        bottom = bottom < 0 ? top : bottom;
        if (top < 0)
            return rows;
    }
    if (top > bottom)
        std::swap(top, bottom);
    for (int v = top; v <= bottom; ++v)
        if (const long r = gridRow(v); r >= 0)
            rows.push_back(r);
    return rows;
}

// The view shows the grid itself until the user arranges it: then the
// arrangement, the column widths kept.
void CMSFlexGrid::useArrangement() {
    QAbstractItemModel* wanted = m_arrangement->arranged() ? static_cast<QAbstractItemModel*>(m_arrangement)
                                                           : static_cast<QAbstractItemModel*>(m_cells);
    if (model() == wanted)
        return;
    std::vector<int> widths;
    widths.reserve(std::size_t(columnCount()));
    for (int c = 0; c < columnCount(); ++c)
        widths.push_back(columnWidth(c));
    setModel(wanted);
    for (int c = 0; c < int(widths.size()); ++c)
        setColumnWidth(c, widths[std::size_t(c)]);
    showRowSelection();
}

void CMSFlexGrid::FitColumnToText(long col, const std::string& text) {
    const int wanted = fontMetrics().horizontalAdvance(QString::fromStdString(text)) + 14;
    const long twips = (long(wanted) * 1440 + logicalDpiX() - 1) / logicalDpiX();
    if (twips > GetColWidth(col))
        SetColWidth(col, twips);
}

void CMSFlexGrid::SortByColumn(long col) {
    if (col < 0 || col >= columnCount())
        return;
    const Qt::SortOrder order =
        m_arrangement->sortColumn() == col && m_arrangement->sortOrder() == Qt::AscendingOrder
            ? Qt::DescendingOrder
            : Qt::AscendingOrder;
    m_arrangement->sort(int(col), order);
    useArrangement();
    showRowSelection();
}

long CMSFlexGrid::sortColumn() const {
    return m_arrangement->sortColumn();
}

Qt::SortOrder CMSFlexGrid::sortOrder() const {
    return m_arrangement->sortOrder();
}

void CMSFlexGrid::SetFilterText(const std::string& text) {
    m_arrangement->needle = QString::fromStdString(text);
    m_arrangement->refilter();
    useArrangement();
    showRowSelection();
}

void CMSFlexGrid::SetRowFilter(std::function<bool(long row)> accepts) {
    m_arrangement->accepts = std::move(accepts);
    m_arrangement->refilter();
    useArrangement();
    showRowSelection();
}

void CMSFlexGrid::RefilterRows() {
    if (m_arrangement->accepts)
        m_arrangement->refilter();
}

bool CMSFlexGrid::isArranged() const {
    return m_arrangement->arranged();
}
