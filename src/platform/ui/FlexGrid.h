#pragma once
#include <QHash>
#include <QItemSelectionModel>
#include <QTableWidget>

namespace fw {

// The program's grid: a fixed heading row (row 0) and optionally a fixed caption column (column 0),
// keyed columns that may be hidden, check-box columns, fit to contents, suspended drawing, and a
// before-move event that can keep the current cell where it is. Rows and columns are numbered as the
// callers see them: row 0 is the heading row, the first data row is 1.
class FlexGrid : public QTableWidget {
    Q_OBJECT
public:
    struct Column {
        QString key;
        QString heading;
        int widthTwips = 960;
        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
        bool hidden = false;
        bool checkBox = false;
    };

    explicit FlexGrid(QWidget* parent = nullptr);

    // Lays out the columns; with a caption column, column 0 is the fixed caption column.
    void setColumns(const QList<Column>& columns, bool captionColumn = false);
    int cols() const;
    // The column with that key (letter case ignored), or -1.
    int colIndex(const QString& key) const;
    QString colKey(int col) const;
    bool isColHidden(int col) const;
    int colWidthTwips(int col) const;

    // Number of rows including the heading row. Setting 1 leaves only the heading row; a larger value
    // appends empty rows or drops rows at the end. Changing the rows raises no move events.
    int rows() const;
    void setRows(int n);
    void setRowCaption(int row, const QString& text);

    // The current cell; row 0 or less means none. Setting it raises the move events.
    int row() const;
    int col() const;
    bool setRow(int row);
    bool setCurrentCell(int row, int col);
    // Moves the current cell without raising the move events (fills by the program).
    void setRowSilently(int row);

    QString textMatrix(int row, int col) const;
    bool setTextMatrix(int row, int col, const QString& text);
    QString text(int col) const { return textMatrix(row(), col); }
    QString textByKey(int row, const QString& key) const { return textMatrix(row, colIndex(key)); }
    bool setTextByKey(int row, const QString& key, const QString& text) { return setTextMatrix(row, colIndex(key), text); }

    // Fits the widths of the columns col1..col2 to their texts.
    void autoSize(int col1, int col2);

    // No repaint while suspended; one repaint on resume.
    void setRedraw(bool on);
    bool redraw() const { return m_redraw; }

Q_SIGNALS:
    // Raised before the current cell moves, by the user or the program; set *cancel to keep it.
    void beforeRowColChange(int oldRow, int oldCol, int newRow, int newCol, bool* cancel);
    // Raised after the current cell moved, also when only the column changed.
    void afterRowColChange(int oldRow, int oldCol, int newRow, int newCol);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    class MoveGuard;
    friend class MoveGuard;
    bool allowMove(const QModelIndex& from, const QModelIndex& to);
    int tableCol(int col) const; // -1 for the caption column or out of range
    int gridCol(int tableCol) const;

    QList<Column> m_columns;
    bool m_captionColumn = false;
    bool m_silent = false;
    bool m_redraw = true;
    MoveGuard* m_guard = nullptr;
};

} // namespace fw
