#include "settings/ui/PanelBinder.h"

#include "platform/ui/UpDownControl.h"
#include "settings/PanelRules.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTimeEdit>

namespace fw {

PanelBinder::PanelBinder(PanelState& state, PanelWidgets w, QObject* parent) : QObject(parent), m_state(state), m_w(std::move(w))
{
    // The picker's look is free; it shows hours and minutes only.
    m_w.time->setDisplayFormat(QStringLiteral("HH:mm"));
    m_w.upDownFailed->setBuddy(m_w.failedConnections);
    m_w.upDownMinutes->setBuddy(m_w.minutes);

    auto changed = [this](auto&& apply) {
        return [this, apply](auto&&... args) {
            if (m_rendering)
                return;
            apply(args...);
            render();
        };
    };
    using namespace PanelRules;
    connect(m_w.reconnect, &QCheckBox::toggled, this, changed([this](bool on) { setReconnect(m_state, on); }));
    connect(m_w.autoFind, &QCheckBox::toggled, this, changed([this](bool on) { setAutoFind(m_state, on); }));
    connect(m_w.lastResort, &QCheckBox::toggled, this, changed([this](bool on) { setLastResort(m_state, on); }));
    if (m_w.searchAllSites)
        connect(m_w.searchAllSites, &QCheckBox::toggled, this, changed([this](bool on) { setSearchAllSites(m_state, on); }));
    connect(m_w.optAtTime, &QRadioButton::toggled, this, changed([this](bool on) {
                if (on)
                    selectMode(m_state, true);
            }));
    connect(m_w.optMinutes, &QRadioButton::toggled, this, changed([this](bool on) {
                if (on)
                    selectMode(m_state, false);
            }));
    connect(m_w.failedConnections, &QLineEdit::textChanged, this,
            changed([this](const QString& t) { setText(m_state, Text::FailedConnections, t); }));
    connect(m_w.manualPrimary, &QLineEdit::textChanged, this,
            changed([this](const QString& t) { setText(m_state, Text::ManualPrimary, t); }));
    connect(m_w.manualSecondary, &QLineEdit::textChanged, this,
            changed([this](const QString& t) { setText(m_state, Text::ManualSecondary, t); }));
    connect(m_w.minutes, &QLineEdit::textChanged, this,
            changed([this](const QString& t) { setText(m_state, Text::Minutes, t); }));
    connect(m_w.time, &QTimeEdit::timeChanged, this, changed([this](const QTime& t) { setTime(m_state, t); }));
    render();
}

void PanelBinder::render()
{
    QScopedValueRollback<bool> guard(m_rendering, true);
    const PanelState& s = m_state;
    auto setText = [](QLineEdit* e, const QString& t) {
        if (e && e->text() != t)
            e->setText(t);
    };
    m_w.reconnect->setChecked(s.reconnect);
    m_w.autoFind->setChecked(s.autoFind);
    m_w.lastResort->setChecked(s.lastResort);
    if (m_w.searchAllSites)
        m_w.searchAllSites->setChecked(s.searchAllSites);
    // Exclusive buttons: check the selected one; that clears the other.
    (s.atTime ? m_w.optAtTime : m_w.optMinutes)->setChecked(true);
    setText(m_w.failedConnections, s.failedConnections);
    setText(m_w.manualPrimary, s.manualPrimary);
    setText(m_w.manualSecondary, s.manualSecondary);
    setText(m_w.minutes, s.minutes);
    setText(m_w.syncInterval, s.syncInterval);
    setText(m_w.currentGC, s.currentGC);
    if (m_w.time->time() != s.time)
        m_w.time->setTime(s.time);

    m_w.autoFind->setEnabled(s.enabled.autoFind);
    for (QWidget* c : m_w.manualControls)
        c->setEnabled(s.enabled.manual);
    m_w.lastResort->setEnabled(s.enabled.lastResort);
    m_w.time->setEnabled(s.enabled.timePicker);
    m_w.minutes->setEnabled(s.enabled.minutes);
    m_w.upDownMinutes->setEnabled(s.enabled.minutes);
    m_w.save->setEnabled(s.saveEnabled);
}

} // namespace fw
