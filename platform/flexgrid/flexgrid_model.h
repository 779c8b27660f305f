#pragma once
// The cells of a CMSFlexGrid: rows of text cells with a colour, an alignment
// and a tool tip, about 32 bytes a cell. Short texts that repeat down a
// column ("UP", "public") share one copy.

#include <QAbstractTableModel>
#include <QBrush>
#include <QHash>
#include <QSet>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class FlexGridModel : public QAbstractTableModel {
public:
    // The cell's alignment value as the grid numbers it (absent: never set).
    static constexpr int kFlexAlignmentRole = Qt::UserRole + 1;

    FlexGridModel(int rows, int cols, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool insertRows(int row, int count, const QModelIndex& parent = {}) override;
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;

    void setRowCount(int rows);
    void setColumnCount(int cols);

    // Each setter tells the views only when the cell really changes.
    QString text(int row, int col) const;
    void setText(int row, int col, const QString& text);
    // 0 (transparent): no colour of its own, the view's text colour.
    QRgb foreground(int row, int col) const;
    void setForeground(int row, int col, QRgb rgb);
    void setAlignment(int row, int col, Qt::Alignment alignment, short flexAlignment);
    // -1 when never set.
    short flexAlignment(int row, int col) const;
    QString toolTip(int row, int col) const;
    void setToolTip(int row, int col, const QString& tip);
    // The background of row 0, the fixed row.
    void setFixedRowBrush(const QBrush& brush);
    // The background the cells' texts are read on. On a dark one, a text
    // colour below 4.5:1 is shown lightened until it reads (its stored value
    // stays); on a light one every colour is shown as stored.
    void setTextBackground(const QColor& base);

    // Empties every cell of its text and formatting; the rows stay.
    void clearContents();
    // Sorts rows first..last on the columns keyFirst..keyLast, left to right,
    // comparing text without regard to case; equal rows keep their order.
    void sortRows(int first, int last, int keyFirst, int keyLast);

private:
    struct Cell {
        QString text;
        QRgb foreground = 0;
        std::int16_t flexAlignment = -1;
        std::uint16_t alignment = Qt::AlignLeft | Qt::AlignVCenter;
    };
    struct Row {
        std::vector<Cell> cells;
        std::unique_ptr<QHash<int, QString>> toolTips; // rare: only where set
    };

    bool valid(int row, int col) const;
    Cell& cellAt(int row, int col) { return m_rows[std::size_t(row)].cells[std::size_t(col)]; }
    const Cell& cellAt(int row, int col) const { return m_rows[std::size_t(row)].cells[std::size_t(col)]; }
    void changed(int row, int col, int role);
    QString shared(const QString& text);

    std::vector<Row> m_rows;
    int m_cols;
    QBrush m_fixedRowBrush;
    QColor m_darkBase; // invalid: a light background
    QSet<QString> m_common;
};
