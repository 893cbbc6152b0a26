#pragma once
// The main window on a demo database, with the settings pages' controls at hand and the user's clicks and keys.
// A suite that includes this also includes the pages' generated ui_*.h headers itself, so that they are generated
// for it.
#include "app/ui/MainWindow.h"
#include "platform/ui/FlexGrid.h"
#include "settings/ui/DomainControllersPage.h"
#include "settings/ui/GlobalCatalogPage.h"
#include "support/TestContext.h"
#include "ui_DomainControllersPage.h"
#include "ui_GlobalCatalogPage.h"
#include "ui_MainWindow.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace fw::test {

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(t.createDemoDatabase(5, 5).isEmpty()); }

    // Loads and shows the window as start-up does.
    void load()
    {
        main = std::make_unique<MainWindow>(t.ctx());
        main->resize(900, 700);
        ASSERT_EQ(main->Form_Load(), MainWindow::LoadOutcome::Completed);
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    }
    Ui::DomainControllersPage& dc() { return *main->domainControllersPage()->ui(); }
    Ui::GlobalCatalogPage& gc() { return *main->globalCatalogPage()->ui(); }
    FlexGrid& grid() { return *dc().gridDomains; }
    void showTab(int i) { main->ui()->tabMain->setCurrentIndex(i); }

    // A click where the user clicks: on a check box's or radio button's box (its middle may lie past the end of its
    // text, where a click does nothing, when the layout makes it wider than the text and the font is narrow).
    void click(QAbstractButton* b)
    {
        ASSERT_TRUE(b->isVisible() && b->isEnabled()) << b->objectName().toStdString();
        QPoint at = b->rect().center();
        const bool box = qobject_cast<QCheckBox*>(b) != nullptr;
        if (box || qobject_cast<QRadioButton*>(b)) {
            QStyleOptionButton option;
            option.initFrom(b);
            option.text = b->text();
            at = b->style()
                     ->subElementRect(box ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator, &option, b)
                     .center();
        }
        QTest::mouseClick(b, Qt::LeftButton, {}, at);
    }
    // Replaces the text as the user does: focus, select all, delete, type.
    void type(QLineEdit* e, const QString& text, Qt::FocusReason reason = Qt::OtherFocusReason)
    {
        e->setFocus(reason);
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, text);
    }
    // A click on a cell of the domain grid; row 1 is the first domain.
    void clickCell(int row, int col = 0)
    {
        const QRect r = grid().visualRect(grid().model()->index(row - 1, col));
        QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, r.center());
    }

    TestContext t;
    std::unique_ptr<MainWindow> main;
};

} // namespace fw::test
