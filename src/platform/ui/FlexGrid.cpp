#include "platform/ui/FlexGrid.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScopedValueRollback>

namespace fw {

namespace {
constexpr int kTwipsPerInch = 1440;
}

// Asks the grid before the current index moves and keeps the selection on the current row.
class FlexGrid::MoveGuard : public QItemSelectionModel {
public:
    MoveGuard(QAbstractItemModel* model, FlexGrid* grid) : QItemSelectionModel(model, grid), m_grid(grid) {}

    void setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override
    {
        if (index != currentIndex() && !m_grid->allowMove(currentIndex(), index))
            return;
        QItemSelectionModel::setCurrentIndex(index, command);
    }
    void select(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override
    {
        select(QItemSelection(index, index), command);
    }
    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override
    {
        // A refused move leaves the current cell where it was; its row stays the selected one.
        const QModelIndex cur = currentIndex();
        if (!selection.isEmpty() && cur.isValid()) {
            bool holdsCurrentRow = false;
            for (const QItemSelectionRange& r : selection) {
                if (r.top() <= cur.row() && cur.row() <= r.bottom())
                    holdsCurrentRow = true;
            }
            if (!holdsCurrentRow)
                return;
        }
        QItemSelectionModel::select(selection, command);
    }

private:
    FlexGrid* m_grid;
};

FlexGrid::FlexGrid(QWidget* parent) : QTableWidget(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAlternatingRowColors(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    setWordWrap(false);
    m_guard = new MoveGuard(model(), this);
    QItemSelectionModel* old = selectionModel();
    setSelectionModel(m_guard);
    delete old;
    connect(m_guard, &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& now, const QModelIndex& before) {
        if (m_silent)
            return;
        Q_EMIT afterRowColChange(before.isValid() ? before.row() + 1 : -1, before.isValid() ? gridCol(before.column()) : -1,
                                 now.isValid() ? now.row() + 1 : -1, now.isValid() ? gridCol(now.column()) : -1);
    });
}

bool FlexGrid::allowMove(const QModelIndex& from, const QModelIndex& to)
{
    if (m_silent)
        return true;
    bool cancel = false;
    Q_EMIT beforeRowColChange(from.isValid() ? from.row() + 1 : -1, from.isValid() ? gridCol(from.column()) : -1,
                              to.isValid() ? to.row() + 1 : -1, to.isValid() ? gridCol(to.column()) : -1, &cancel);
    return !cancel;
}

void FlexGrid::setColumns(const QList<Column>& columns, bool captionColumn)
{
    m_columns = columns;
    m_captionColumn = captionColumn;
    verticalHeader()->setVisible(captionColumn);
    const int first = captionColumn ? 1 : 0;
    setColumnCount(static_cast<int>(columns.size()) - first);
    const double perTwip = logicalDpiX() / double(kTwipsPerInch);
    for (int c = first; c < columns.size(); ++c) {
        const Column& col = columns[c];
        auto* head = new QTableWidgetItem(col.heading);
        head->setTextAlignment(col.alignment);
        setHorizontalHeaderItem(c - first, head);
        setColumnWidth(c - first, qMax(8, int(col.widthTwips * perTwip + 0.5)));
        setColumnHidden(c - first, col.hidden);
    }
    if (captionColumn && !columns.isEmpty())
        verticalHeader()->setMinimumWidth(int(columns[0].widthTwips * perTwip + 0.5));
}

int FlexGrid::cols() const
{
    return static_cast<int>(m_columns.size());
}

int FlexGrid::colIndex(const QString& key) const
{
    for (int c = 0; c < m_columns.size(); ++c) {
        if (m_columns[c].key.compare(key, Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

QString FlexGrid::colKey(int col) const
{
    return col >= 0 && col < m_columns.size() ? m_columns[col].key : QString();
}

bool FlexGrid::isColHidden(int col) const
{
    const int t = tableCol(col);
    return t >= 0 && isColumnHidden(t);
}

int FlexGrid::colWidthTwips(int col) const
{
    const int t = tableCol(col);
    if (t < 0)
        return 0;
    return int(columnWidth(t) * double(kTwipsPerInch) / logicalDpiX() + 0.5);
}

int FlexGrid::tableCol(int col) const
{
    const int t = col - (m_captionColumn ? 1 : 0);
    return t >= 0 && t < columnCount() ? t : -1;
}

int FlexGrid::gridCol(int tableCol) const
{
    return tableCol + (m_captionColumn ? 1 : 0);
}

int FlexGrid::rows() const
{
    return rowCount() + 1;
}

void FlexGrid::setRows(int n)
{
    QScopedValueRollback<bool> quiet(m_silent, true);
    setRowCount(qMax(0, n - 1));
}

void FlexGrid::setRowCaption(int row, const QString& text)
{
    if (row < 1 || row > rowCount())
        return;
    setVerticalHeaderItem(row - 1, new QTableWidgetItem(text));
}

int FlexGrid::row() const
{
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() + 1 : -1;
}

int FlexGrid::col() const
{
    const QModelIndex i = currentIndex();
    return i.isValid() ? gridCol(i.column()) : -1;
}

bool FlexGrid::setCurrentCell(int r, int c)
{
    const int t = tableCol(c);
    if (r < 1 || r > rowCount() || t < 0)
        return false;
    const QModelIndex target = model()->index(r - 1, t);
    selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return currentIndex() == target;
}

bool FlexGrid::setRow(int r)
{
    int c = col();
    if (tableCol(c) < 0) {
        // The first visible data column.
        c = -1;
        for (int t = 0; t < columnCount() && c < 0; ++t) {
            if (!isColumnHidden(t))
                c = gridCol(t);
        }
    }
    return setCurrentCell(r, c);
}

void FlexGrid::setRowSilently(int r)
{
    QScopedValueRollback<bool> quiet(m_silent, true);
    setRow(r);
}

QString FlexGrid::textMatrix(int r, int c) const
{
    if (r == 0) {
        return c >= 0 && c < m_columns.size() ? m_columns[c].heading : QString();
    }
    if (r < 1 || r > rowCount())
        return {};
    if (m_captionColumn && c == 0) {
        const QTableWidgetItem* h = verticalHeaderItem(r - 1);
        return h ? h->text() : QString();
    }
    const int t = tableCol(c);
    if (t < 0)
        return {};
    const QTableWidgetItem* it = item(r - 1, t);
    if (!it)
        return {};
    if (m_columns[c].checkBox)
        return it->checkState() == Qt::Checked ? QStringLiteral("1") : QStringLiteral("0");
    return it->text();
}

bool FlexGrid::setTextMatrix(int r, int c, const QString& text)
{
    if (r < 1 || r > rowCount())
        return false;
    if (m_captionColumn && c == 0) {
        setRowCaption(r, text);
        return true;
    }
    const int t = tableCol(c);
    if (t < 0)
        return false;
    QTableWidgetItem* it = item(r - 1, t);
    if (!it) {
        it = new QTableWidgetItem;
        it->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        it->setTextAlignment(m_columns[c].alignment);
        setItem(r - 1, t, it);
    }
    if (m_columns[c].checkBox) {
        // The cell shows a check mark the user cannot change; 0 is clear, anything else checked.
        const bool on = !text.trimmed().isEmpty() && text.trimmed() != QLatin1String("0");
        it->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        it->setData(Qt::AccessibleTextRole, on ? QStringLiteral("1") : QStringLiteral("0"));
    } else {
        it->setText(text);
    }
    return true;
}

void FlexGrid::autoSize(int col1, int col2)
{
    for (int c = col1; c <= col2; ++c) {
        const int t = tableCol(c);
        if (t >= 0 && !isColumnHidden(t))
            resizeColumnToContents(t);
    }
}

void FlexGrid::setRedraw(bool on)
{
    if (m_redraw == on)
        return;
    m_redraw = on;
    setUpdatesEnabled(on);
    if (on)
        viewport()->update();
}

void FlexGrid::mouseMoveEvent(QMouseEvent* event)
{
    // Dragging does not move the current cell: every move is one deliberate click or key.
    if (event->buttons() != Qt::NoButton) {
        event->accept();
        return;
    }
    QTableWidget::mouseMoveEvent(event);
}

} // namespace fw
