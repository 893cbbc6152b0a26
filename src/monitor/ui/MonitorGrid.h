#pragma once
#include <QList>
#include <QString>

class QTableWidget;

namespace fw {

// One column of a grid: its key, heading, width in twips and whether it is hidden.
struct GridColumn {
    QString key;
    QString header;
    int widthTwips = 960;
    bool hidden = false;
};

// The grid operations the synchronisation windows use, over a QTableWidget: rows numbered from 1
// below the heading row (row 0), cells addressed by row and column key.
// Kept small so that it can give way to the shared grid class.
class MonitorGrid {
public:
    explicit MonitorGrid(QTableWidget* table);

    void setColumns(const QList<GridColumn>& columns);
    // Rows including the heading row: setting 1 leaves only the heading.
    int rows() const;
    void setRows(int rows);
    // 0 or less: nothing selected.
    int currentRow() const;
    void setCurrentRow(int row);
    // -1 for an unknown key (letter case ignored).
    int colIndex(const QString& key) const;
    QString text(int row, const QString& key) const;
    void setText(int row, const QString& key, const QString& text);
    void setText(int row, int col, const QString& text);
    void fitColumns(int first, int last);

    QTableWidget* table() const { return m_table; }
    static int twipsToPixels(int twips) { return twips / 15; }

private:
    QTableWidget* m_table;
    QList<GridColumn> m_columns;
};

} // namespace fw
