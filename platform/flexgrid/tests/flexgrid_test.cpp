// The grid's own model: fixed header row, sort, row insertion and removal,
// colours as Windows values, widths in twips.

#include "flexgrid.h"

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
    EXPECT_EQ(g.item(1, 1)->foreground().color(), QColor(57, 166, 11));
    EXPECT_EQ(g.GetCellForeColor(), 763449u);
    g.SetCellAlignment(1);
    EXPECT_EQ(g.item(1, 1)->textAlignment(), int(Qt::AlignLeft | Qt::AlignVCenter));
    EXPECT_EQ(CMSFlexGrid::twipsToPixels(2200, 96), 147);
    EXPECT_EQ(CMSFlexGrid::twipsToPixels(1440, 120), 120);
    g.SetColWidth(0, 1440);
    EXPECT_EQ(g.columnWidth(0), g.logicalDpiX());
}

TEST(FlexGrid, CellsTellEachRealChangeAndKeepWhatTheyAreGiven) {
    CMSFlexGrid g;
    g.SetCols(3);
    int changes = 0;
    QObject::connect(&g, &QTableWidget::itemChanged, [&](QTableWidgetItem*) { ++changes; });
    g.SetTextMatrix(1, 1, ""); // the cell is made
    changes = 0;
    g.SetTextMatrix(1, 1, "UP");
    g.SetTextMatrix(1, 1, "UP"); // unchanged: no signal
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(g.item(1, 1)->data(Qt::EditRole).toString(), "UP");
    g.SetRow(1);
    g.SetCol(1);
    g.SetCellForeColor(210);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(g.item(1, 1)->foreground(), QBrush(QColor(210, 0, 0)));

    // A brush that is more than a colour is kept whole; no brush gives the text colour.
    QTableWidgetItem* item = g.item(1, 1);
    item->setForeground(QBrush(Qt::blue, Qt::Dense4Pattern));
    EXPECT_EQ(item->foreground().style(), Qt::Dense4Pattern);
    g.SetCellForeColor(763449);
    EXPECT_EQ(g.GetCellForeColor(), 763449u);
    item->setForeground(QBrush());
    EXPECT_EQ(g.GetCellForeColor(), (std::uint32_t)g.palette().text().color().red() |
                                        (std::uint32_t)g.palette().text().color().green() << 8 |
                                        (std::uint32_t)g.palette().text().color().blue() << 16);
    EXPECT_EQ(changes, 5);

    item->setData(Qt::DisplayRole, 42); // a number, not a text
    EXPECT_EQ(item->data(Qt::DisplayRole), QVariant(42));
    g.SetTextMatrix(1, 1, "DOWN");
    std::unique_ptr<QTableWidgetItem> copy(item->clone());
    EXPECT_EQ(copy->text(), "DOWN");
    EXPECT_EQ(copy->textAlignment(), item->textAlignment());
    EXPECT_EQ(changes, 7);
}
