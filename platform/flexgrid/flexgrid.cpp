#include "platform/flexgrid/flexgrid.h"

#include "platform/flexgrid/flexgrid_model.h"

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

} // namespace

CMSFlexGrid::CMSFlexGrid(QWidget* parent) : QTableView(parent), m_cells(new FlexGridModel(2, 2, this)) {
    setModel(m_cells);
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
    if (event->type() == QEvent::PaletteChange)
        m_cells->setFixedRowBrush(palette().button());
}

void CMSFlexGrid::keyPressEvent(QKeyEvent* event) {
    QTableView::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        event->accept();
}

void CMSFlexGrid::mousePressEvent(QMouseEvent* event) {
    if (m_selectionMode != flexSelectionByRow || event->button() != Qt::LeftButton) {
        QTableView::mousePressEvent(event);
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
        QTableView::mouseMoveEvent(event);
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
