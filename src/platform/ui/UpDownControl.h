#pragma once
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace fw {

// A spin control paired with a text box: its arrows put the next or previous number of its range into
// the box. The box itself accepts any text; the arrows count on from the number in it when there is one.
class UpDownControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int increment READ increment WRITE setIncrement)
    Q_PROPERTY(int value READ value WRITE setValue)
public:
    explicit UpDownControl(QWidget* parent = nullptr);

    void setBuddy(QLineEdit* buddy);
    QLineEdit* buddy() const { return m_buddy; }

    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    int increment() const { return m_step; }
    int value() const { return m_value; }
    void setMinimum(int v) { m_min = v; }
    void setMaximum(int v) { m_max = v; }
    void setIncrement(int v) { m_step = v; }
    void setRange(int lo, int hi)
    {
        m_min = lo;
        m_max = hi;
    }
    void setValue(int v);

    QToolButton* upButton() const { return m_up; }
    QToolButton* downButton() const { return m_down; }

public Q_SLOTS:
    void stepUp() { stepBy(1); }
    void stepDown() { stepBy(-1); }

Q_SIGNALS:
    void valueChanged(int value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void stepBy(int steps);

    QLineEdit* m_buddy = nullptr;
    QToolButton* m_up;
    QToolButton* m_down;
    int m_min = 0;
    int m_max = 100;
    int m_step = 1;
    int m_value = 0;
};

} // namespace fw
