#pragma once
#include <QDialog>
#include <memory>

class QAction;
class QMenu;

namespace Ui {
class frmAbout;
}

namespace fw {

class AppContext;

// frmAbout: the tool's version, legal notices and the interface language. OK hides it; the next "About"
// shows the same window again without loading it anew.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    // The version numbers are the running program's unless given.
    AboutWindow(AppContext& ctx, QWidget* parent = nullptr, int major = FERROWIND_VERSION_MAJOR,
                int minor = FERROWIND_VERSION_MINOR, int revision = FERROWIND_VERSION_PATCH);
    ~AboutWindow() override;

    // The first load: the version label and the language menu. Later calls do nothing.
    void Form_Load();
    bool isLoaded() const { return m_loaded; }

    Ui::frmAbout* ui() const { return m_ui.get(); }
    QMenu* mnuSelectLanguage() const { return m_mnuSelectLanguage; }
    // The items of mnuLanguageList, item 0 first; each carries its LCID as decimal text in data().
    const QList<QAction*>& mnuLanguageList() const { return m_mnuLanguageList; }

public Q_SLOTS:
    void cmdOK_Click();
    void lblChangeLanguage_Click();
    void mnuLanguageList_Click(QAction* item);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLanguageMenu();

    AppContext& m_ctx;
    std::unique_ptr<Ui::frmAbout> m_ui;
    QMenu* m_mnuSelectLanguage = nullptr;
    QList<QAction*> m_mnuLanguageList;
    int m_major;
    int m_minor;
    int m_revision;
    bool m_loaded = false;
};

} // namespace fw
