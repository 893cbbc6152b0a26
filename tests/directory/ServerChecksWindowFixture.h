#pragma once
// The main window with the directory, the locator and the connector control replaced by doubles.
#include "FakeDirectory.h"
#include "FakeLocator.h"
#include "support/ui/MainWindowFixture.h"

#include "env/VelmoraVersion.h"

#include <QApplication>
#include <QLineEdit>

namespace fw::test {

class ServerChecksWindow : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        t.ctx().localVersion = getVersion(t.registry());
        t.ctx().seams().directory = dir;
        t.ctx().seams().locator = loc;
        t.ctx().seams().connector = connector;
        dir->localSite = QStringLiteral("Default-First-Site-Name");
        for (const char* s : {"dc01.corp.example.com", "dc01.sales.corp.example.com"}) {
            dir->bindable[QStringLiteral("LDAP://%1:389").arg(QLatin1String(s))] = true;
            dir->sites[QString::fromLatin1(s)] = QStringLiteral("default-first-site-name");
        }
        load();
    }
    void selectRow(int row)
    {
        clickCell(row);
        ASSERT_EQ(grid().row(), row);
    }
    void typeAndLeave(QLineEdit* e, const QString& text, QWidget* next)
    {
        type(e, text, Qt::MouseFocusReason);
        next->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }
    QStringList& shown() { return t.prompter().messages; }

    std::shared_ptr<FakeDirectory> dir = std::make_shared<FakeDirectory>();
    std::shared_ptr<FakeLocator> loc = std::make_shared<FakeLocator>();
    std::shared_ptr<RecordingConnectorControl> connector = std::make_shared<RecordingConnectorControl>();
};

} // namespace fw::test
