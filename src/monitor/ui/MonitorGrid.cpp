#include "monitor/ui/MonitorGrid.h"

#include <QHeaderView>
#include <QTableWidget>

namespace fw {

MonitorGrid::MonitorGrid(QTableWidget* table) : m_table(table)
{
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->setVisible(false);
}

void MonitorGrid::setColumns(const QList<GridColumn>& columns)
{
    m_columns = columns;
    m_table->setColumnCount(static_cast<int>(columns.size()));
    QStringList headers;
    for (const GridColumn& c : columns)
        headers.append(c.header);
    m_table->setHorizontalHeaderLabels(headers);
    for (int i = 0; i < columns.size(); ++i) {
        m_table->setColumnWidth(i, twipsToPixels(columns[i].widthTwips));
        m_table->setColumnHidden(i, columns[i].hidden);
    }
}

int MonitorGrid::rows() const
{
    return m_table->rowCount() + 1;
}

void MonitorGrid::setRows(int rows)
{
    m_table->setRowCount(std::max(0, rows - 1));
}

int MonitorGrid::currentRow() const
{
    return m_table->currentRow() + 1;
}

void MonitorGrid::setCurrentRow(int row)
{
    if (row >= 1 && row <= m_table->rowCount())
        m_table->setCurrentCell(row - 1, 0);
    else
        m_table->setCurrentCell(-1, -1);
}

int MonitorGrid::colIndex(const QString& key) const
{
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].key.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString MonitorGrid::text(int row, const QString& key) const
{
    const int col = colIndex(key);
    const QTableWidgetItem* item = col >= 0 && row >= 1 ? m_table->item(row - 1, col) : nullptr;
    return item ? item->text() : QString();
}

void MonitorGrid::setText(int row, const QString& key, const QString& text)
{
    setText(row, colIndex(key), text);
}

void MonitorGrid::setText(int row, int col, const QString& text)
{
    if (row < 1 || row > m_table->rowCount() || col < 0 || col >= m_table->columnCount())
        return;
    if (QTableWidgetItem* item = m_table->item(row - 1, col))
        item->setText(text);
    else
        m_table->setItem(row - 1, col, new QTableWidgetItem(text));
}

void MonitorGrid::fitColumns(int first, int last)
{
    for (int c = first; c <= last && c < m_table->columnCount(); ++c)
        if (!m_table->isColumnHidden(c))
            m_table->resizeColumnToContents(c);
}

} // namespace fw
