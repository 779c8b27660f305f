#pragma once
// CMSFlexGrid: a grid of text cells with the FlexGrid control's model. Row 0
// is the fixed header row; a current cell (Row, Col) and a selection end
// (RowSel, ColSel) address the cell-level operations; colours are Windows
// colour values (red in the low byte) and widths are in twips. The cells live
// in a FlexGridModel (cells()), compact enough for 100,000 rows.

#include <QMap>
#include <QTableView>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class FlexGridModel;
class FlexGridArrangement;

class CMSFlexGrid : public QTableView {
    Q_OBJECT

public:
    // Cell alignment values.
    enum { flexAlignLeftTop = 0, flexAlignLeftCenter = 1, flexAlignGeneral = 9 };
    // Sort settings: 5 compares text without regard to case, ascending.
    enum { flexSortStringNoCaseAscending = 5 };
    // Selection modes: free (set by the program only), or a block of whole
    // rows chosen with the mouse (click, shift-click, drag).
    enum { flexSelectionFree = 0, flexSelectionByRow = 1 };

    explicit CMSFlexGrid(QWidget* parent = nullptr);

    long GetRows() const;
    void SetRows(long rows);
    long GetCols() const;
    void SetCols(long cols);
    long GetRow() const { return m_row; }
    // Selects the current row; the selection end follows it.
    void SetRow(long row);
    long GetCol() const { return m_col; }
    void SetCol(long col);
    long GetRowSel() const { return m_rowSel; }
    void SetRowSel(long row) { m_rowSel = row; }
    long GetColSel() const { return m_colSel; }
    void SetColSel(long col) { m_colSel = col; }

    std::string GetText() const { return GetTextMatrix(m_row, m_col); }
    void SetText(const std::string& text) { SetTextMatrix(m_row, m_col, text); }
    std::string GetTextMatrix(long row, long col) const;
    void SetTextMatrix(long row, long col, const std::string& text);
    // Text colour of the current cell.
    void SetCellForeColor(std::uint32_t colorref);
    std::uint32_t GetCellForeColor() const;
    // Tool tip of the current cell (empty: none).
    void SetCellToolTip(const std::string& text);
    std::string GetCellToolTip() const;
    void SetCellAlignment(short alignment);
    short GetCellAlignment() const;
    // Width of a column in twips, shown at the screen's resolution.
    void SetColWidth(long col, long twips);
    long GetColWidth(long col) const { return m_twips.value(col, 0); }

    // Sorts rows Row..RowSel (every row below the fixed one when they are the
    // same) on the columns Col..ColSel, left to right.
    void SetSort(short setting);
    // Inserts a row at index holding text (tab-separated cells from column 0).
    void AddItem(const std::string& text, long index);
    void RemoveItem(long index);
    // count empty rows inserted at index, or count rows removed from index,
    // in one change of the grid (row by row, a large grid costs quadratic time).
    void AddItems(long index, long count);
    void RemoveItems(long index, long count);
    // Empties every cell of its text and formatting; the rows stay.
    void Clear();

    void SetSelectionMode(int mode) { m_selectionMode = mode; }

    static int twipsToPixels(long twips, int dpi);

    FlexGridModel& cells() { return *m_cells; }
    const FlexGridModel& cells() const { return *m_cells; }

    // What the user arranges on top of the grid's own rows, which stay as
    // the program put them: the rows shown sorted by a column (a click on the
    // fixed row; again: reversed), and only those holding a text or passing
    // a test. Row, RowSel and every cell operation keep to the grid's rows.
    void SortByColumn(long col);
    long sortColumn() const; // -1: the grid's own order
    Qt::SortOrder sortOrder() const;
    void SetFilterText(const std::string& text);
    // nullptr: every row. Rows are grid rows; row 0 always shows.
    void SetRowFilter(std::function<bool(long row)> accepts);
    // The row filter's answers may have changed.
    void RefilterRows();
    bool isArranged() const;
    // The grid rows of the block Row..RowSel as it is shown, top down.
    std::vector<long> SelectedRows() const;
    // The grid row shown at a view row, and back (-1 when not shown).
    long gridRow(int viewRow) const;
    int viewRow(long gridRow) const;

    // Widens a column, where needed, so that text fits it (a header).
    void FitColumnToText(long col, const std::string& text);

    // Columns widened and narrowed by dragging their edges in the fixed row.
    void SetAllowUserResizing(bool allow) { m_allowResizing = allow; }

signals:
    // A click on the fixed row's cell of a column (away from its edges).
    void fixedRowClicked(long col);
    // A column's width changed by the user's drag.
    void columnResizedByUser(long col);

protected:
    // Enter and Return stay in the grid: in a dialog they would press its
    // default button.
    void keyPressEvent(QKeyEvent* event) override;
    // The fixed row follows the palette's button colour.
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Highlights the rows Row..RowSel.
    void showRowSelection();
    bool valid(long row, long col) const;
    int rowCount() const;
    int columnCount() const;

    // The column whose right edge is at x in row 0; -1 when none is near.
    int edgeAt(const QPoint& pos) const;
    void useArrangement();

    FlexGridModel* m_cells;
    FlexGridArrangement* m_arrangement;
    bool m_allowResizing = false;
    int m_resizing = -1;
    int m_resizeFromX = 0;
    int m_resizeFromWidth = 0;
    long m_row = 1;
    long m_col = 0;
    long m_rowSel = 1;
    long m_colSel = 0;
    int m_selectionMode = flexSelectionFree;
    QMap<long, long> m_twips;
};
