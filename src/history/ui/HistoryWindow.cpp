#include "history/ui/HistoryWindow.h"

#include "context/AppContext.h"
#include "history/HistoryFormat.h"
#include "history/ui/HistoryBuildProgress.h"
#include "log/ActivityLog.h"

#include <QFontDatabase>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <cmath>
#include "history/ui/CustomPlot.h"

namespace fw {

namespace {

namespace hf = history_format;

struct SeriesStyle {
    const char* label;
    QColor colour;
};

const std::array<SeriesStyle, 4> kSeries = {{
    {"Total # of objects synchronized", QColor(198, 0, 0, 128)},
    {"Total elapsed time (in seconds)", QColor(0, 170, 0, 128)},
    {"Latency (in minutes)", QColor(0, 0, 170, 128)},
    {"Events", QColor(128, 0, 128, 128)},
}};
const std::array<double, 4> kBandShares = {0.2, 0.2, 0.4, 0.2};

// Window geometry in twips, as designed; 15 twips to a pixel.
constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips)
{
    return twips / kTwipsPerPixel;
}

double pointValue(const HistoryPoint& p, int series)
{
    switch (series) {
    case 0: return p.ObjectsProcessed;
    case 1: return p.ElapsedSeconds;
    case 2: return p.LatencyMinutes;
    default: return p.events();
    }
}

} // namespace

HistoryWindow::HistoryWindow(AppContext& ctx, SyncSide side, QWidget* parent) : QDialog(parent), m_ctx(ctx), m_side(side)
{
    const bool dc = side == SyncSide::DC;
    setObjectName(HistoryBuilder::formName(side));
    setWindowTitle(dc ? QStringLiteral("DC History") : QStringLiteral("GC History"));
    setModal(true);

    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(dc ? QStringLiteral("graphDCHistory") : QStringLiteral("graphGCHistory"));
    m_plot->setMouseTracking(true);
    m_plot->setInteractions(QCP::iSelectPlottables);
    m_plot->setAutoAddPlottableToLegend(false); // the legend row gets each series once, below
    m_scroll = new QScrollBar(Qt::Horizontal, this);
    m_scroll->setObjectName(dc ? QStringLiteral("scrollDCHistory") : QStringLiteral("scrollGCHistory"));
    m_exit = new QPushButton(QStringLiteral("E&xit"), this);
    m_exit->setObjectName(dc ? QStringLiteral("cmdDCHistoryExit") : QStringLiteral("cmdGCHistoryExit"));
    connect(m_exit, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_scroll, &QScrollBar::valueChanged, this, [this](int v) { setFirstVisiblePoint(v + 1); });
    connect(m_plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) {
        if (m_bands[0])
            mouseMovedTo(QPointF(m_bands[0]->axis(QCPAxis::atBottom)->pixelToCoord(e->position().x()), 0));
    });
    connect(m_plot, &QCustomPlot::plottableClick, this,
            [this](QCPAbstractPlottable*, int dataIndex, QMouseEvent*) { pointSelected(dataIndex); });
    connect(m_plot, &QCustomPlot::mouseWheel, this, [this](QWheelEvent* e) { wheelTurned(e->angleDelta()); });

    resize(1180, 720);
    if (dc)
        setFixedSize(size()); // the DC window keeps its designed size
    setUpDetailsTable();
    layOut();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::setUpDetailsTable()
{
    QCPLayoutGrid* main = m_plot->plotLayout();
    main->clear();
    auto* left = new QCPLayoutGrid;
    auto* table = new QCPLayoutGrid;
    main->addElement(0, 0, left);
    main->addElement(0, 1, table);
    main->setColumnStretchFactors({1.0, 0.001});

    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPointSizeF(std::max(8.0, f.pointSizeF()));
    const QFontMetrics fm(f);
    const QStringList& captions = hf::detailsCaptions();
    table->setColumnSpacing(8);
    table->setRowSpacing(2);
    const QMargins tableMargins(6, 40, 10, 6);
    table->setMargins(tableMargins);
    // Column 0 holds captions of about 11 characters and the point's label (14); column 1 about 22 characters.
    const int charWidth = fm.horizontalAdvance(QLatin1Char('0'));
    const std::array<int, 2> widths = {charWidth * 15 + 4, charWidth * 23 + 4};
    for (int r = 0; r < kDetailRows; ++r) {
        for (int c = 0; c < 2; ++c) {
            auto* cell = new QCPTextElement(m_plot, c == 0 ? captions[r] : QString(), f);
            cell->setTextFlags(Qt::AlignLeft | Qt::AlignVCenter);
            cell->setMargins(QMargins(0, 1, 0, 1));
            cell->setMinimumSize(widths[c], fm.height() + 2);
            cell->setMaximumSize(widths[c], fm.height() + 2);
            if (r == 0)
                cell->setFont(QFont(f.family(), f.pointSize(), QFont::Bold));
            table->addElement(r, c, cell);
            m_cells[r][c] = cell;
        }
    }
    const int tableWidth = widths[0] + widths[1] + 8 + tableMargins.left() + tableMargins.right();
    table->setMinimumSize(tableWidth, 0);
    table->setMaximumSize(tableWidth, QWIDGETSIZE_MAX);
    table->addElement(kDetailRows, 0, new QCPLayoutElement(m_plot)); // takes the height left below the table
    QList<double> stretch(kDetailRows, 0.001);
    stretch.append(1.0);
    table->setRowStretchFactors(stretch);
}

bool HistoryWindow::Form_Load()
{
    const QString form = HistoryBuilder::formName(m_side);
    m_ctx.log().WriteLog(QStringLiteral("Entering Form_Load of Form ") + form, true);
    HistoryBuilder builder(m_ctx, m_side);
    if (!HistoryBuildProgress::run(builder, m_result, parentWidget(), windowTitle(), m_progressDelay)) {
        m_result = {};
        m_ctx.log().WriteLog(QStringLiteral("History load cancelled; nothing is shown"), true);
        m_ctx.log().WriteLog(QStringLiteral("Exiting Form_Load of Form ") + form, true);
        return false;
    }
    builder.report(m_result);
    for (qint64 g : m_result.passGroupSizes)
        m_cells[0][1]->setText(QStringLiteral("group size:") + QString::number(g));
    const bool ok = m_result.outcome != HistoryPlan::Outcome::Impossible;
    if (ok)
        buildChart();
    m_ctx.log().WriteLog(QStringLiteral("Exiting Form_Load of Form ") + form, true);
    return ok;
}

void HistoryWindow::showModal(AppContext& ctx, SyncSide side, QWidget* parent)
{
    HistoryWindow w(ctx, side, parent);
    if (w.Form_Load())
        w.exec();
}

void HistoryWindow::buildChart()
{
    auto* left = static_cast<QCPLayoutGrid*>(m_plot->plotLayout()->element(0, 0));
    const bool dc = m_side == SyncSide::DC;
    QFont titleFont = font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    left->addElement(0, 0,
                     new QCPTextElement(m_plot, dc ? QStringLiteral("DC History") : QStringLiteral("GC History"), titleFont));
    auto* legend = new QCPLegend;
    left->addElement(1, 0, legend);
    legend->setLayer(QStringLiteral("legend"));
    legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    legend->setBorderPen(Qt::NoPen);
    legend->setBrush(Qt::NoBrush);

    auto* margins = new QCPMarginGroup(m_plot);
    const int n = pointCount();
    for (int s = 0; s < 4; ++s) {
        auto* band = new QCPAxisRect(m_plot);
        left->addElement(2 + s, 0, band);
        band->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
        band->setRangeDrag(Qt::Horizontal);
        QCPAxis* x = band->axis(QCPAxis::atBottom);
        QCPAxis* y = band->axis(QCPAxis::atLeft);
        x->setTickLabels(s == 3);
        x->grid()->setPen(QPen(QColor(220, 220, 220), 0, Qt::DotLine));
        y->grid()->setPen(QPen(QColor(220, 220, 220), 0, Qt::DotLine));
        y->setLabel(s == 2 ? QStringLiteral("Data") : QString());
        if (s == 3)
            x->setLabel(QStringLiteral("Time (intervals)"));
        QCPGraph* g = m_plot->addGraph(x, y);
        g->setName(QString::fromLatin1(kSeries[s].label));
        QColor c = kSeries[s].colour;
        g->setPen(QPen(c, 1.5));
        QColor solid = c;
        solid.setAlpha(200);
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, solid, c, 5));
        g->setSelectable(QCP::stSingleData);
        g->selectionDecorator()->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, Qt::black, Qt::yellow, 9),
                                                 QCPScatterStyle::spAll);
        // Point i sits in the middle of slot [i, i+1), so the slot under the mouse is the point.
        QVector<double> keys(n), values(n);
        double top = 0;
        for (int i = 0; i < n; ++i) {
            keys[i] = i + 0.5;
            values[i] = pointValue(m_result.points[i], s);
            top = std::max(top, values[i]);
        }
        g->setData(keys, values, true);
        y->setRange(0, top > 0 ? top * 1.1 : 1);
        if (s == 3) {
            // Events are whole numbers: whole steps only, few enough to stay legible in the small band.
            QSharedPointer<QCPAxisTickerFixed> whole(new QCPAxisTickerFixed);
            whole->setTickStep(1);
            whole->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
            whole->setTickCount(2);
            y->setTicker(whole);
            y->setRange(0, std::max(1.0, std::ceil(top * 1.15)));
        } else {
            y->ticker()->setTickCount(4);
        }
        legend->addItem(new QCPPlottableLegendItem(legend, g));
        m_bands[s] = band;
        m_graphs[s] = g;
    }
    QList<double> stretch = {0.001, 0.001};
    for (double share : kBandShares)
        stretch.append(share);
    left->setRowStretchFactors(stretch);
    left->setRowSpacing(0);

    m_scroll->setRange(0, std::max(0, n - kVisiblePoints));
    m_scroll->setPageStep(kVisiblePoints);
    m_scroll->setSingleStep(1);
    m_scroll->setVisible(n > kVisiblePoints);
    layOut();
    setFirstVisiblePoint(1);
}

int HistoryWindow::firstVisiblePoint() const
{
    return m_scroll->value() + 1;
}

void HistoryWindow::setFirstVisiblePoint(int first)
{
    if (m_scroll->value() != first - 1) {
        m_scroll->setValue(first - 1); // comes back here through valueChanged
        return;
    }
    const int n = pointCount();
    const double from = first - 1;
    const double width = std::min(kVisiblePoints, std::max(n, 1));
    for (QCPAxisRect* band : m_bands)
        if (band)
            band->axis(QCPAxis::atBottom)->setRange(from, from + width);
    updateTicks();
    m_plot->replot();
}

void HistoryWindow::updateTicks()
{
    if (!m_bands[0])
        return;
    const QCPRange range = m_bands[0]->axis(QCPAxis::atBottom)->range();
    const int first = std::max(0, static_cast<int>(std::floor(range.lower)));
    const int last = std::min(pointCount() - 1, static_cast<int>(std::ceil(range.upper)) - 1);
    // About eight labels across, on whole steps, so that the dates never run into one another.
    const int shown = std::max(1, last - first + 1);
    int step = 1;
    for (int s : {1, 2, 5, 10, 15, 20, 25, 30, 40, 50, 60})
        if (shown / s <= 8) {
            step = s;
            break;
        }
    if (shown / step > 8)
        step = 60;
    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    for (int i = first; i <= last; ++i)
        if (i % step == 0)
            ticker->addTick(i + 0.5, QString(m_result.points[i].Label).replace(QLatin1Char(' '), QLatin1Char('\n')));
    for (QCPAxisRect* band : m_bands)
        band->axis(QCPAxis::atBottom)->setTicker(ticker);
}

void HistoryWindow::wheelTurned(QPoint angleDelta)
{
    const int steps = m_wheel.add(angleDelta);
    if (steps != 0)
        m_scroll->setValue(m_scroll->value() - steps);
}

void HistoryWindow::mouseMovedTo(const QPointF& chartPos)
{
    if (!std::isfinite(chartPos.x()))
        return;
    const double floorX = std::floor(chartPos.x());
    if (floorX < 0 || floorX > 1e9)
        return;
    const int p = static_cast<int>(floorX);
    const int f = firstVisiblePoint();
    // Only the points on screen; right of the last point of a short history there is nothing to show.
    if (p < f - 1 || p > f + kVisiblePoints - 2 || p >= pointCount())
        return;
    FillDetailsTable(p);
}

void HistoryWindow::pointSelected(int index)
{
    if (index < 0 || index >= pointCount())
        return;
    FillDetailsTable(index, m_side == SyncSide::GC);
}

void HistoryWindow::FillDetailsTable(int p, bool fromSelection)
{
    if (p < 0 || p >= pointCount())
        return;
    const auto column = hf::detailsFor(m_result.points[p], p, fromSelection);
    m_cells[1][0]->setText(column.rowOneCaption);
    // Rows 2 to 5 show the values as the chart holds them.
    QStringList values = column.values;
    for (int s = 0; s < 4; ++s)
        values[1 + s] = hf::detailNumber(seriesValue(s, p));
    for (int r = 1; r < kDetailRows; ++r)
        m_cells[r][1]->setText(values[r - 1]);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

QString HistoryWindow::detailsCell(int row, int column) const
{
    if (row < 0 || row >= kDetailRows || column < 0 || column > 1)
        return {};
    return m_cells[row][column]->text();
}

double HistoryWindow::seriesValue(int series, int index) const
{
    if (series < 0 || series > 3 || !m_graphs[series] || index < 0 || index >= m_graphs[series]->dataCount())
        return 0;
    return (m_graphs[series]->data()->constBegin() + index)->value;
}

QString HistoryWindow::pointLabel(int index) const
{
    return index >= 0 && index < pointCount() ? m_result.points[index].Label : QString();
}

QPoint HistoryWindow::pointPosition(int index, int series) const
{
    if (!m_graphs[series])
        return {};
    const double x = m_graphs[series]->keyAxis()->coordToPixel(index + 0.5);
    const double y = m_graphs[series]->valueAxis()->coordToPixel(seriesValue(series, index));
    return QPoint(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
}

void HistoryWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layOut();
}

void HistoryWindow::layOut()
{
    // Chart height = inner height - 400 - button height - 400; width = inner width - 400 - chart left;
    // button top = chart height + 300; button left = inner width - 400 - button width - 100 (twips).
    const int left = px(120), top = px(120);
    const QSize inner = size();
    const int buttonW = std::max(m_exit->sizeHint().width(), 90), buttonH = m_exit->sizeHint().height();
    const int chartH = std::max(100, inner.height() - px(400) - buttonH - px(400));
    const int chartW = std::max(200, inner.width() - px(400) - left);
    const int scrollH = m_scroll->isHidden() ? 0 : m_scroll->sizeHint().height();
    m_plot->setGeometry(left, top, chartW, chartH - scrollH);
    m_scroll->setGeometry(left, top + chartH - scrollH, chartW, scrollH);
    m_exit->setGeometry(inner.width() - px(400) - buttonW - px(100), top + chartH + px(300) - px(120), buttonW, buttonH);
}

} // namespace fw
