#pragma once
#include "log/FwError.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <memory>

class QFile;

namespace fw {

class AppContext;

// Windows language identifiers (LCIDs) of the languages the tool knows, their three-letter codes and names.
// On Linux these stand in for the operating system's locale services.
namespace lcid {
inline constexpr qint32 kEnglishUS = 1033;
inline constexpr qint32 kEnglishTddTty = 33801; // the tool's own identifier, code ENX
inline constexpr qint32 kJapanese = 1041;
inline constexpr qint32 kKorean = 1042;
inline constexpr qint32 kChineseTaiwan = 1028;
inline constexpr qint32 kChinesePrc = 2052;
} // namespace lcid

// The abbreviated language name of an LCID cut to three characters ("ENU", "DEU", "JPN"); "ENX" for 33801;
// "ERR" for an identifier the table does not know.
QString GetLanguageCode(qint32 langId);
// The English language name ("German (Germany)"); "English (TDD/TTY)" for 33801; "(error)" when unknown.
QString GetLanguageName(qint32 langId);
// The 44 codes the tool maps, compared exactly (letter case counts); any other code gives 1033.
qint32 GetLCIDFromCode(const QString& code);
QString GetLanguageNameFromCode(const QString& code);
// The codes GetLCIDFromCode knows, in the order it tests them.
QStringList lcidTableCodes();

// The LCID of a locale (the user's default language); 1033 for a language the table does not know.
qint32 langIdForLocale(const QLocale& locale);

// The font a language needs: a character set number and a font name; any other language gives 1 and "".
struct LanguageFont {
    int charset = 1;
    QString name;
};
LanguageFont fontForLanguage(qint32 langId);

// One item of the About window's language menu: its caption and its tag (the LCID as decimal text).
struct LanguageMenuItem {
    QString caption;
    QString tag;
};
// Every available language once there are two or more; otherwise the one item "no languages loaded" (1033).
QList<LanguageMenuItem> languageMenuItems(const QStringList& availableLanguages);

// The interface language of the run: the LCID, its language library (opened as data, nothing is read from it)
// and the codes of the libraries found beside the program or in the installation's languages folder
// (share/ferrowind/languages). Lives in AppContext::language for the whole run.
class LanguageState {
public:
    LanguageState(QString programFolder, QString programName, QLocale userLocale = QLocale::system());
    ~LanguageState();

    qint32 CurrentLangID = 0;
    QStringList AvailableLanguages{QString()};

    // The open library of CurrentLangID, or null.
    const QFile* LanguageLibrary() const { return m_library.get(); }
    // Program folder + program name + "_" + code + ".dll".
    QString libraryPath(const QString& code) const;
    qint32 userDefaultLangId() const { return langIdForLocale(m_userLocale); }

    // Works the language out (the user's default on first use), opens its library, lists the libraries found.
    // Returns the failures met on the way; each step goes on regardless.
    QList<FwError> InitalizeLanguages();

private:
    QString findLibrary(const QString& code) const;
    QString m_folder;
    QString m_installedFolder;
    QString m_programName;
    QLocale m_userLocale;
    std::unique_ptr<QFile> m_library;
};

// The context's language state, created on first use.
LanguageState& languageState(AppContext& ctx);
// InitalizeLanguages on the context's state; failures go to a message box "Error in InitalizeLanguages: ...".
void InitalizeLanguages(AppContext& ctx);

} // namespace fw
