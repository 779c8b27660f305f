// The grid's own model: fixed header row, sort, row insertion and removal,
// colours as Windows values, widths in twips.

#include "platform/flexgrid/flexgrid.h"

#include <QBrush>
#include <cmath>
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

// On a dark palette the status colours (red DOWN, blue Checking....) read at
// 4.5:1 or more; their stored values, and the light palette's, are unchanged.
TEST(FlexGrid, CellColoursReadOnADarkPalette) {
    CMSFlexGrid g;
    g.SetCols(3);
    g.SetRow(1);
    const std::uint32_t colours[] = {763449, 210, 16711680};
    for (long col = 0; col < 3; ++col) {
        g.SetCol(col);
        g.SetCellForeColor(colours[col]);
    }
    const auto shown = [&](long col) {
        return g.model()->index(1, int(col)).data(Qt::ForegroundRole).value<QBrush>().color();
    };
    EXPECT_EQ(shown(1), QColor(210, 0, 0));
    QPalette dark = g.palette();
    dark.setColor(QPalette::Base, QColor(42, 42, 42));
    dark.setColor(QPalette::Text, Qt::white);
    g.setPalette(dark);
    for (long col = 0; col < 3; ++col) {
        const QColor c = shown(col);
        const auto lum = [](const QColor& x) {
            const auto ch = [](double v) {
                return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * ch(x.redF()) + 0.7152 * ch(x.greenF()) + 0.0722 * ch(x.blueF());
        };
        EXPECT_GE((lum(c) + 0.05) / (lum(QColor(42, 42, 42)) + 0.05), 4.5)
            << col << " " << c.name().toStdString();
        g.SetCol(col);
        EXPECT_EQ(g.GetCellForeColor(), colours[col]);
    }
    EXPECT_NE(shown(1), QColor(210, 0, 0));
    g.setPalette(QPalette());
    EXPECT_EQ(shown(1), QColor(210, 0, 0));
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
