#include "support/TestContext.h"

#include "app/ui/MainWindow.h"
#include "support/HttpClient.h"
#include "support/Localize.h"
#include "support/ui/AboutWindow.h"
#include "support/ui/HelpMenu.h"
#include "support/ui/LanguageUi.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace fw;

namespace {

const QString kJapaneseFont = QString::fromUtf16(u"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF");

// A window that re-reads its texts after a change of language.
class LocalisedWindow : public QWidget {
    Q_OBJECT
public:
    LocalisedWindow()
    {
        setObjectName("frmSample");
        (new QLabel("Sample", this))->setObjectName("lblSample");
        (new QLineEdit(this))->setObjectName("txtSample");
        new QCheckBox("Box", this);
    }
    Q_INVOKABLE void frmSample_Auto_Init() { ++autoInits; }
    int autoInits = 0;
};

template <class T>
T* child(QObject* parent, const char* name)
{
    T* c = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

class AboutWindowTest : public ::testing::Test {
protected:
    void addLibrary(const QString& code)
    {
        test::writeTestFile(QDir(t.dir()).filePath("FerrowindSettingsTool_" + code + ".dll"), "language resources");
    }
    QStringList captions(const AboutWindow& w) const
    {
        QStringList out;
        for (QAction* a : w.mnuLanguageList())
            out.append(a->text() + '=' + a->data().toString());
        return out;
    }
    fw::test::TestContext t;
};

TEST_F(AboutWindowTest, ShowsTheVersionAndTheLanguagesFound)
{
    AboutWindow w(t.ctx(), nullptr, 1, 2, 15);
    w.Form_Load();
    EXPECT_EQ(child<QLabel>(&w, "lblVersion")->text(), " 1.2 Build 15");
    EXPECT_FALSE(child<QLabel>(&w, "picLogo")->pixmap().isNull());
    EXPECT_TRUE(w.isModal());

    addLibrary("JPN");
    addLibrary("deu");
    addLibrary("ENX");
    AboutWindow three(t.ctx());
    three.Form_Load();
    EXPECT_EQ(captions(three), (QStringList{"English (United States)=1033", "English (TDD/TTY)=33801", "Japanese (Japan)=1041"}));
    EXPECT_EQ(three.mnuSelectLanguage()->actions().size(), 3);
}

TEST_F(AboutWindowTest, JapaneseFontReachesEveryControlOfEveryLoadedWindow)
{
    addLibrary("ENU");
    addLibrary("JPN");
    LocalisedWindow other;
    other.show();
    QWidget hidden; // loaded but not shown
    hidden.setObjectName("frmHidden");
    new QPushButton("Go", &hidden);
    AboutWindow about(t.ctx());
    about.Form_Load();
    about.show();

    QAction* japanese = about.mnuLanguageList().value(1);
    ASSERT_NE(japanese, nullptr);
    ASSERT_EQ(japanese->data().toString(), "1041");
    japanese->trigger();

    EXPECT_EQ(languageState(t.ctx()).CurrentLangID, 1041);
    int checked = 0;
    for (QWidget* window : {static_cast<QWidget*>(&other), &hidden, static_cast<QWidget*>(&about)}) {
        QList<QWidget*> controls = window->findChildren<QWidget*>();
        controls.append(window);
        for (QWidget* c : controls) {
            EXPECT_EQ(c->font().family(), kJapaneseFont) << c->objectName().toStdString();
            EXPECT_EQ(c->property(kFontCharsetProperty).toInt(), 128) << c->objectName().toStdString();
            ++checked;
        }
    }
    EXPECT_GT(checked, 10);
    EXPECT_EQ(other.autoInits, 1);
    EXPECT_EQ(about.cursor().shape(), Qt::ArrowCursor); // the wait cursor is gone again

    // English keeps the fonts the windows have (an empty font name is refused) and records the character set.
    about.mnuLanguageList().value(0)->trigger();
    EXPECT_EQ(languageState(t.ctx()).CurrentLangID, 1033);
    EXPECT_EQ(other.findChild<QLineEdit*>()->property(kFontCharsetProperty).toInt(), 1);
    EXPECT_EQ(other.findChild<QLineEdit*>()->font().family(), kJapaneseFont);
    EXPECT_EQ(other.autoInits, 2);
}

TEST_F(AboutWindowTest, ChangeLanguageLabelPopsUpTheMenu)
{
    AboutWindow about(t.ctx());
    about.Form_Load();
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    QTest::mouseClick(child<QLabel>(&about, "lblChangeLanguage"), Qt::LeftButton);
    EXPECT_TRUE(about.mnuSelectLanguage()->isVisible());
    about.mnuSelectLanguage()->hide();
}

// Answers nothing, but notes the cursor of the main window while the download would run.
class CursorWatchingHttp : public HttpClient {
public:
    explicit CursorWatchingHttp(QWidget* window) : m_window(window) {}
    HttpResponse get(const QUrl& url, HttpAccess) override
    {
        urls.append(url.toString());
        shape = m_window->cursor().shape();
        HttpResponse r;
        r.error = {4, "no answer"};
        return r;
    }
    QStringList urls;
    Qt::CursorShape shape = Qt::ArrowCursor;

private:
    QWidget* m_window;
};

TEST_F(AboutWindowTest, HelpMenuOfTheMainWindow)
{
    MainWindow main(t.ctx());
    QAction* help = child<QAction>(&main, "mnuHelp");
    QAction* update = child<QAction>(&main, "mnuCheckForUpdatedVersion");

    // Help opens the page beside the program.
    help->trigger();
    EXPECT_EQ(t.shell().requests(), QStringList{"document " + QDir(t.dir()).filePath("FerrowindManager.htm")});

    // The update check runs under a wait cursor on the main window and ends with the normal one.
    auto http = std::make_shared<CursorWatchingHttp>(&main);
    t.ctx().seams().http = http;
    update->trigger();
    EXPECT_EQ(http->urls, QStringList{"https://ferrowind.example.net/SiteList/AllDownloads/AllDownloads.XML"});
    EXPECT_EQ(http->shape, Qt::WaitCursor);
    EXPECT_EQ(main.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(t.prompter().messages.size(), 1) << "the unreachable site is reported";
}

TEST_F(AboutWindowTest, OkHidesAndAboutShowsTheSameWindowAgain)
{
    MainWindow main(t.ctx());
    HelpMenu* menu = main.findChild<HelpMenu*>();
    ASSERT_NE(menu, nullptr);
    int shown = 0;
    AboutWindow* first = nullptr;
    auto pressOkSoon = [&] {
        QTimer::singleShot(0, &main, [&] {
            AboutWindow* w = menu->aboutWindow();
            if (!first)
                first = w;
            EXPECT_TRUE(w->isVisible());
            ++shown;
            QTest::mouseClick(child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        });
    };
    pressOkSoon();
    child<QAction>(&main, "About")->trigger(); // returns once OK hid the window
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(captions(*first), QStringList{"no languages loaded=1033"});

    // A library added now is not listed: the window is shown again, not loaded anew.
    addLibrary("DEU");
    addLibrary("JPN");
    pressOkSoon();
    child<QAction>(&main, "About")->trigger();
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(menu->aboutWindow(), first);
    EXPECT_EQ(captions(*first), QStringList{"no languages loaded=1033"});
}

} // namespace

#include "AboutWindowTest.moc"
