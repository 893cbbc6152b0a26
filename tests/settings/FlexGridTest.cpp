#include "platform/ui/FlexGrid.h"

#include <QHeaderView>
#include <QTest>
#include <gtest/gtest.h>

using fw::FlexGrid;

namespace {

struct Move {
    int oldRow, oldCol, newRow, newCol;
    bool operator==(const Move&) const = default;
};

class FlexGridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        grid.setColumns({{"Name", "Name", 1200},
                         {"Server", "Server", 1500},
                         {"On", "On", 600, Qt::AlignCenter, false, true},
                         {"Id", "Id", 900, Qt::AlignLeft, true}});
        grid.resize(500, 300);
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
        grid.setRows(4);
        for (int r = 1; r <= 3; ++r) {
            grid.setTextByKey(r, "Name", QString("row%1").arg(r));
            grid.setTextByKey(r, "Id", QString("id%1").arg(r));
        }
        QObject::connect(&grid, &FlexGrid::beforeRowColChange, [this](int a, int b, int c, int d, bool* cancel) {
            before.append({a, b, c, d});
            *cancel = refuse;
        });
        QObject::connect(&grid, &FlexGrid::afterRowColChange, [this](int a, int b, int c, int d) { after.append({a, b, c, d}); });
    }
    QPoint cellCentre(int row, int col) const { return grid.visualRect(grid.model()->index(row - 1, col)).center(); }

    FlexGrid grid;
    QList<Move> before, after;
    bool refuse = false;
};

} // namespace

TEST_F(FlexGridTest, KeyedHiddenAndCheckBoxColumns)
{
    EXPECT_EQ(grid.cols(), 4);
    EXPECT_EQ(grid.colIndex("server"), 1);
    EXPECT_EQ(grid.colIndex("Nope"), -1);
    EXPECT_TRUE(grid.isColHidden(grid.colIndex("Id")));
    EXPECT_FALSE(grid.isColHidden(0));
    EXPECT_NEAR(grid.colWidthTwips(1), 1500, 20);
    EXPECT_EQ(grid.textMatrix(0, 1), "Server");
    EXPECT_EQ(grid.textByKey(2, "Id"), "id2");
    grid.setTextByKey(1, "On", "1");
    grid.setTextByKey(2, "On", "0");
    EXPECT_EQ(grid.textByKey(1, "On"), "1");
    EXPECT_EQ(grid.textByKey(2, "On"), "0");
    EXPECT_EQ(grid.item(0, 2)->checkState(), Qt::Checked);
    EXPECT_FALSE(grid.item(0, 2)->flags() & Qt::ItemIsUserCheckable);
    // Cells outside the grid are refused, not created.
    EXPECT_FALSE(grid.setTextMatrix(9, 0, "x"));
    EXPECT_FALSE(grid.setTextMatrix(1, 7, "x"));
    EXPECT_EQ(grid.textMatrix(9, 0), "");
}

TEST_F(FlexGridTest, RowCountKeepsTheHeadingRow)
{
    EXPECT_EQ(grid.rows(), 4);
    grid.setRows(1);
    EXPECT_EQ(grid.rows(), 1);
    EXPECT_EQ(grid.row(), -1);
    EXPECT_EQ(grid.textMatrix(0, 0), "Name");
    grid.setRows(2);
    EXPECT_EQ(grid.textMatrix(1, 0), "");
    EXPECT_TRUE(before.isEmpty());
    EXPECT_TRUE(after.isEmpty());
}

TEST_F(FlexGridTest, MovesRaiseBothEventsAndARefusalKeepsTheCell)
{
    grid.setRowSilently(1);
    EXPECT_EQ(grid.row(), 1);
    EXPECT_TRUE(before.isEmpty());

    // A click on another row.
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cellCentre(3, 1));
    EXPECT_EQ(grid.row(), 3);
    EXPECT_EQ(before, (QList<Move>{{1, 0, 3, 1}}));
    EXPECT_EQ(after, (QList<Move>{{1, 0, 3, 1}}));

    // Another column of the same row is a move too.
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cellCentre(3, 0));
    EXPECT_EQ(after.last(), (Move{3, 1, 3, 0}));

    // Refused: by mouse, by key and by the program, the cell and the selected row stay.
    refuse = true;
    before.clear();
    after.clear();
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cellCentre(2, 0));
    QTest::keyClick(&grid, Qt::Key_Up);
    EXPECT_FALSE(grid.setRow(1));
    EXPECT_EQ(before.size(), 3);
    EXPECT_TRUE(after.isEmpty());
    EXPECT_EQ(grid.row(), 3);
    EXPECT_EQ(grid.col(), 0);
    const QModelIndexList sel = grid.selectionModel()->selectedRows();
    ASSERT_EQ(sel.size(), 1);
    EXPECT_EQ(sel[0].row(), 2);

    refuse = false;
    QTest::keyClick(&grid, Qt::Key_Up);
    EXPECT_EQ(grid.row(), 2);
    EXPECT_EQ(after.last(), (Move{3, 0, 2, 0}));
    EXPECT_TRUE(grid.setRow(1));
    EXPECT_EQ(after.last(), (Move{2, 0, 1, 0}));
}

TEST_F(FlexGridTest, CaptionColumnIsColumnZero)
{
    FlexGrid g;
    g.setColumns({{"Caption", "", 1500}, {"Count", "Count", 900}, {"Time", "Time", 900}}, true);
    g.setRows(3);
    g.setRowCaption(1, "MailUsers");
    g.setTextMatrix(2, 0, "Locations");
    g.setTextByKey(1, "Time", "00:00:05");
    EXPECT_EQ(g.textMatrix(1, 0), "MailUsers");
    EXPECT_EQ(g.textMatrix(2, 0), "Locations");
    EXPECT_EQ(g.textMatrix(1, 2), "00:00:05");
    EXPECT_EQ(g.columnCount(), 2);
    EXPECT_EQ(g.colIndex("Count"), 1);
    EXPECT_FALSE(g.verticalHeader()->isHidden()); // the captions are the row headers
}

TEST_F(FlexGridTest, FitToContentsAndSuspendedDrawing)
{
    grid.setTextByKey(2, "Server", "a-very-long-server-name.with.several.labels.example.com");
    const int before = grid.columnWidth(1);
    grid.autoSize(0, 1);
    EXPECT_GT(grid.columnWidth(1), before);
    const int fitted = grid.columnWidth(1);
    grid.setTextByKey(2, "Server", "x");
    grid.autoSize(1, 1);
    EXPECT_LT(grid.columnWidth(1), fitted);
    // A hidden column stays hidden.
    grid.autoSize(0, 3);
    EXPECT_TRUE(grid.isColHidden(3));

    grid.setRedraw(false);
    EXPECT_FALSE(grid.updatesEnabled());
    grid.setRedraw(true);
    EXPECT_TRUE(grid.updatesEnabled());
}
