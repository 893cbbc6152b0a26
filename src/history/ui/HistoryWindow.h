#pragma once
#include "history/HistoryBuilder.h"
#include "history/HistoryPoint.h"
#include "history/WheelSteps.h"

#include <QDialog>
#include <array>

class QCustomPlot;
class QCPAxisRect;
class QCPGraph;
class QCPTextElement;
class QPushButton;
class QScrollBar;

namespace fw {

class AppContext;

// "DC History" (frmDCViewHistory) and "GC History" (frmGCViewHistory): the points of all finished runs in four
// stacked bands with a shared time axis, 120 points on screen at a time, and a details table inside the chart
// that follows the point under the mouse or the one selected.
class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    HistoryWindow(AppContext& ctx, SyncSide side, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // Builds the points off the user-interface thread and fills the chart; false when no points
    // could be formed or the user cancelled the build.
    bool Form_Load();
    // How long a build may take before its progress is shown (a short one opens without a flash of progress).
    void setProgressDelay(int ms) { m_progressDelay = ms; }
    // Loads and shows the window modally; nothing is shown when the load formed no points.
    static void showModal(AppContext& ctx, SyncSide side, QWidget* parent);

    // The table row for point index p (0-based), as the selection and mouse handlers write it.
    void FillDetailsTable(int p, bool fromSelection = false);
    // The mouse-move handler: the point under a chart position, when it is one of those on screen.
    void mouseMovedTo(const QPointF& chartPos);
    // The point-selection handler.
    void pointSelected(int index);

    static constexpr int kVisiblePoints = 120;
    static constexpr int kStepsPerNotch = 10;
    static constexpr int kDetailRows = 11;

    // What the user sees, for tests and screenshots.
    QString detailsCell(int row, int column) const;
    int pointCount() const { return static_cast<int>(m_result.points.size()); }
    const HistoryResult& result() const { return m_result; }
    double seriesValue(int series, int index) const;
    QString pointLabel(int index) const;
    // The first point on screen, 1-based as the chart reports it.
    int firstVisiblePoint() const;
    void setFirstVisiblePoint(int first);
    QCustomPlot* chart() const { return m_plot; }
    // The chart position (in widget pixels) of a point's centre in the given band.
    QPoint pointPosition(int index, int series) const;
    // The wheel handler of the chart.
    void wheelTurned(QPoint angleDelta);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setUpDetailsTable();
    void buildChart();
    void updateTicks();
    void layOut();

    AppContext& m_ctx;
    SyncSide m_side;
    HistoryResult m_result;
    int m_progressDelay = 500;
    WheelSteps m_wheel{kStepsPerNotch};
    QCustomPlot* m_plot = nullptr;
    QScrollBar* m_scroll = nullptr;
    QPushButton* m_exit = nullptr;
    std::array<QCPAxisRect*, 4> m_bands{};
    std::array<QCPGraph*, 4> m_graphs{};
    std::array<std::array<QCPTextElement*, 2>, kDetailRows> m_cells{};
};

} // namespace fw
