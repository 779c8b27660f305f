// The grid's own model: fixed header row, sort, row insertion and removal,
// colours as Windows values, widths in twips.

#include "platform/flexgrid/flexgrid.h"

#include <QBrush>
#include <gtest/gtest.h>
#include <memory>

namespace {

std::vector<std::string> column(const CMSFlexGrid& g, long col) {
    std::vector<std::string> out;
    for (long r = 0; r < g.GetRows(); ++r)
        out.push_back(g.GetTextMatrix(r, col));
    return out;
}

} // namespace

TEST(FlexGrid, SortsRowsBelowTheHeaderOnTheSelectedColumnsIgnoringCase) {
    CMSFlexGrid g;
    g.SetCols(3);
    g.SetTextMatrix(0, 0, "Name");
    g.SetTextMatrix(1, 0, "beta");
    g.AddItem("Alpha\t2", 2);
    g.AddItem("alpha\t1\tx", 3);
    g.AddItem("", 1); // an empty row sorts first
    ASSERT_EQ(g.GetRows(), 5);
    g.SetRow(1);
    g.SetCol(1);
    g.SetColSel(0);
    g.SetSort(CMSFlexGrid::flexSortStringNoCaseAscending);
    EXPECT_EQ(column(g, 0), (std::vector<std::string>{"Name", "", "alpha", "Alpha", "beta"}));
    EXPECT_EQ(g.GetTextMatrix(2, 2), "x"); // whole rows move

    g.RemoveItem(1);
    EXPECT_EQ(g.GetRows(), 4);
    g.Clear();
    EXPECT_EQ(g.GetRows(), 4);
    EXPECT_EQ(g.GetTextMatrix(1, 0), "");
}

TEST(FlexGrid, CellColoursAreWindowsValuesAndWidthsAreTwips) {
    CMSFlexGrid g;
    g.SetRow(1);
    g.SetCol(1);
    g.SetCellForeColor(763449);
    const QModelIndex cell = g.model()->index(1, 1);
    EXPECT_EQ(cell.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(57, 166, 11));
    EXPECT_EQ(g.GetCellForeColor(), 763449u);
    EXPECT_EQ(g.GetCellAlignment(), CMSFlexGrid::flexAlignGeneral);
    g.SetCellAlignment(1);
    EXPECT_EQ(cell.data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft | Qt::AlignVCenter));
    EXPECT_EQ(g.GetCellAlignment(), 1);
    EXPECT_EQ(CMSFlexGrid::twipsToPixels(2200, 96), 147);
    EXPECT_EQ(CMSFlexGrid::twipsToPixels(1440, 120), 120);
    g.SetColWidth(0, 1440);
    EXPECT_EQ(g.columnWidth(0), g.logicalDpiX());
}

TEST(FlexGrid, CellsTellEachRealChangeAndFormattingFollowsItsRow) {
    CMSFlexGrid g;
    g.SetCols(3);
    int changes = 0;
    QObject::connect(g.model(), &QAbstractItemModel::dataChanged, [&] { ++changes; });
    g.SetTextMatrix(1, 1, "UP");
    g.SetTextMatrix(1, 1, "UP"); // unchanged: no signal
    g.SetTextMatrix(5, 1, "out of the grid");
    EXPECT_EQ(changes, 1);
    g.SetRow(1);
    g.SetCol(1);
    g.SetCellForeColor(210);
    g.SetCellForeColor(210);
    g.SetCellToolTip("why");
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(g.model()->index(1, 1).data(Qt::ToolTipRole).toString(), "why");
    EXPECT_FALSE(g.model()->index(1, 0).data(Qt::ForegroundRole).isValid());

    // A sort and an inserted row carry each cell's colour and tip with its text.
    g.AddItem("A\tfirst", 1);
    g.SetRow(2);
    g.SetCol(1);
    EXPECT_EQ(g.GetText(), "UP");
    EXPECT_EQ(g.GetCellForeColor(), 210u);
    EXPECT_EQ(g.GetCellToolTip(), "why");
    g.SetTextMatrix(2, 0, "0");
    g.SetRow(1);
    g.SetCol(0);
    g.SetSort(CMSFlexGrid::flexSortStringNoCaseAscending);
    g.SetRow(1);
    g.SetCol(1);
    EXPECT_EQ(g.GetText(), "UP");
    EXPECT_EQ(g.GetCellToolTip(), "why");
    EXPECT_EQ(g.GetCellForeColor(), 210u);
    g.SetCellToolTip("");
    EXPECT_FALSE(g.model()->index(1, 1).data(Qt::ToolTipRole).isValid());
    g.Clear();
    EXPECT_EQ(g.GetCellForeColor(), (std::uint32_t)g.palette().text().color().red() |
                                        (std::uint32_t)g.palette().text().color().green() << 8 |
                                        (std::uint32_t)g.palette().text().color().blue() << 16);
}
