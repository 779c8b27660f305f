#include "flexgrid.h"

#include "flexgrid_cell.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>
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

constexpr int kFlexAlignmentRole = FlexGridCell::kFlexAlignmentRole;

} // namespace

CMSFlexGrid::CMSFlexGrid(QWidget* parent) : QTableWidget(2, 2, parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    // The grid takes the focus, as the control does: the keys typed over it
    // go to it, not to the button that had the focus before.
    setFocusPolicy(Qt::StrongFocus);
    setWordWrap(false);
    styleFixedRow();
}

void CMSFlexGrid::SetRows(long rows) {
    setRowCount(static_cast<int>(std::max(1L, rows)));
    styleFixedRow();
}

void CMSFlexGrid::SetCols(long cols) {
    setColumnCount(static_cast<int>(std::max(1L, cols)));
    for (auto it = m_twips.begin(); it != m_twips.end(); ++it)
        if (it.key() < cols)
            setColumnWidth(static_cast<int>(it.key()), twipsToPixels(it.value(), logicalDpiX()));
    styleFixedRow();
}

void CMSFlexGrid::SetRow(long row) {
    m_row = row;
    m_rowSel = row;
}

void CMSFlexGrid::SetCol(long col) {
    m_col = col;
    m_colSel = col;
}

QTableWidgetItem* CMSFlexGrid::cell(long row, long col) {
    if (row < 0 || col < 0 || row >= rowCount() || col >= columnCount())
        return nullptr;
    QTableWidgetItem* item = QTableWidget::item(static_cast<int>(row), static_cast<int>(col));
    if (item == nullptr) {
        item = new FlexGridCell;
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        if (row == 0)
            item->setBackground(palette().button());
        setItem(static_cast<int>(row), static_cast<int>(col), item);
    }
    return item;
}

const QTableWidgetItem* CMSFlexGrid::cell(long row, long col) const {
    if (row < 0 || col < 0 || row >= rowCount() || col >= columnCount())
        return nullptr;
    return QTableWidget::item(static_cast<int>(row), static_cast<int>(col));
}

void CMSFlexGrid::styleFixedRow() {
    for (int c = 0; c < columnCount(); ++c)
        cell(0, c);
}

std::string CMSFlexGrid::GetTextMatrix(long row, long col) const {
    const QTableWidgetItem* item = cell(row, col);
    return item != nullptr ? item->text().toStdString() : std::string();
}

void CMSFlexGrid::SetTextMatrix(long row, long col, const std::string& text) {
    if (QTableWidgetItem* item = cell(row, col))
        item->setText(QString::fromStdString(text));
}

void CMSFlexGrid::SetCellForeColor(std::uint32_t colorref) {
    if (QTableWidgetItem* item = cell(m_row, m_col))
        item->setForeground(fromColorref(colorref));
}

std::uint32_t CMSFlexGrid::GetCellForeColor() const {
    const QTableWidgetItem* item = cell(m_row, m_col);
    if (item == nullptr || item->foreground().style() == Qt::NoBrush)
        return toColorref(palette().text().color());
    return toColorref(item->foreground().color());
}

void CMSFlexGrid::SetCellToolTip(const std::string& text) {
    if (QTableWidgetItem* item = cell(m_row, m_col))
        item->setToolTip(QString::fromStdString(text));
}

std::string CMSFlexGrid::GetCellToolTip() const {
    const QTableWidgetItem* item = cell(m_row, m_col);
    return item != nullptr ? item->toolTip().toStdString() : std::string();
}

void CMSFlexGrid::SetCellAlignment(short alignment) {
    if (QTableWidgetItem* item = cell(m_row, m_col)) {
        item->setTextAlignment(toQt(alignment));
        item->setData(kFlexAlignmentRole, alignment);
    }
}

short CMSFlexGrid::GetCellAlignment() const {
    const QTableWidgetItem* item = cell(m_row, m_col);
    if (item == nullptr || !item->data(kFlexAlignmentRole).isValid())
        return flexAlignGeneral;
    return static_cast<short>(item->data(kFlexAlignmentRole).toInt());
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
    first = std::max(first, 1L);
    last = std::min(last, static_cast<long>(rowCount()) - 1);
    if (last <= first)
        return;
    const int keyFirst = static_cast<int>(std::max(0L, std::min(m_col, m_colSel)));
    const int keyLast =
        static_cast<int>(std::min(static_cast<long>(columnCount()) - 1, std::max(m_col, m_colSel)));
    const int columns = columnCount();

    struct Row {
        std::vector<QTableWidgetItem*> items;
    };
    std::vector<Row> rows(static_cast<std::size_t>(last - first + 1));
    for (long r = first; r <= last; ++r)
        for (int c = 0; c < columns; ++c)
            rows[static_cast<std::size_t>(r - first)].items.push_back(takeItem(static_cast<int>(r), c));
    const auto keyText = [](const QTableWidgetItem* item) {
        return item != nullptr ? item->text() : QString();
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        for (int c = keyFirst; c <= keyLast; ++c) {
            const int order =
                QString::compare(keyText(a.items[static_cast<std::size_t>(c)]),
                                 keyText(b.items[static_cast<std::size_t>(c)]), Qt::CaseInsensitive);
            if (order != 0)
                return order < 0;
        }
        return false;
    });
    for (long r = first; r <= last; ++r)
        for (int c = 0; c < columns; ++c)
            setItem(static_cast<int>(r), c,
                    rows[static_cast<std::size_t>(r - first)].items[static_cast<std::size_t>(c)]);
}

void CMSFlexGrid::AddItem(const std::string& text, long index) {
    if (index < 0 || index > rowCount())
        index = rowCount();
    insertRow(static_cast<int>(index));
    const QStringList cells = QString::fromStdString(text).split('\t');
    for (int c = 0; c < cells.size() && c < columnCount(); ++c)
        cell(index, c)->setText(cells[c]);
    if (index == 0)
        styleFixedRow();
}

void CMSFlexGrid::RemoveItem(long index) {
    RemoveItems(index, 1);
}

void CMSFlexGrid::AddItems(long index, long count) {
    if (index < 0 || index > rowCount())
        index = rowCount();
    if (count <= 0)
        return;
    model()->insertRows(static_cast<int>(index), static_cast<int>(count));
    if (index == 0)
        styleFixedRow();
}

void CMSFlexGrid::RemoveItems(long index, long count) {
    count = std::min(count, static_cast<long>(rowCount()) - 1);
    if (index < 0 || count <= 0 || index + count > rowCount())
        return;
    model()->removeRows(static_cast<int>(index), static_cast<int>(count));
    // The current cell and the selection end stay inside the grid.
    const long last = rowCount() - 1;
    m_row = std::min(m_row, last);
    m_rowSel = std::min(m_rowSel, last);
}

void CMSFlexGrid::Clear() {
    clearContents();
    styleFixedRow();
}

void CMSFlexGrid::keyPressEvent(QKeyEvent* event) {
    QTableWidget::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        event->accept();
}

void CMSFlexGrid::mousePressEvent(QMouseEvent* event) {
    if (m_selectionMode != flexSelectionByRow || event->button() != Qt::LeftButton) {
        QTableWidget::mousePressEvent(event);
        return;
    }
    const int row = rowAt(event->position().toPoint().y());
    if (row < 1)
        return;
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_row = row;
    m_rowSel = row;
    // The focus frame marks the row clicked.
    selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
    showRowSelection();
}

void CMSFlexGrid::mouseMoveEvent(QMouseEvent* event) {
    if (m_selectionMode != flexSelectionByRow || !(event->buttons() & Qt::LeftButton)) {
        QTableWidget::mouseMoveEvent(event);
        return;
    }
    const int row = rowAt(event->position().toPoint().y());
    if (row < 1 || row == m_rowSel)
        return;
    m_rowSel = row;
    showRowSelection();
}

void CMSFlexGrid::showRowSelection() {
    const int top = static_cast<int>(std::min(m_row, m_rowSel));
    const int bottom = static_cast<int>(std::max(m_row, m_rowSel));
    selectionModel()->select(
        QItemSelection(model()->index(top, 0), model()->index(bottom, columnCount() - 1)),
        QItemSelectionModel::ClearAndSelect);
}
