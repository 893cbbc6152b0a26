#include "support/TestContext.h"

#include "support/Localize.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

namespace {

void touch(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write("MZ language resources");
}

TEST(LcidTable, HoldsTheFortyFourCodesExactlyAsWritten)
{
    const QStringList codes = lcidTableCodes();
    EXPECT_EQ(codes.size(), 44);
    EXPECT_EQ(QSet<QString>(codes.begin(), codes.end()).size(), 44);
    EXPECT_EQ(GetLCIDFromCode(QStringLiteral("ENX")), 33801);
    EXPECT_EQ(GetLCIDFromCode(QStringLiteral("DEU")), 1031);
    EXPECT_EQ(GetLCIDFromCode(QStringLiteral("deu")), 1033); // letter case counts
    EXPECT_EQ(GetLCIDFromCode(QStringLiteral("ZHI")), 4100);
    EXPECT_EQ(GetLCIDFromCode(QStringLiteral("KOR")), 1033); // Korean has a font but no code of the table
    EXPECT_EQ(GetLCIDFromCode(QString()), 1033);
    EXPECT_EQ(GetLCIDFromCode(QStringLiteral("DEU ")), 1033);
}

TEST(LcidTable, EveryCodeLeadsBackToItself)
{
    // The library loaded for a chosen item is named by the code of its identifier: the two tables must agree.
    for (const QString& code : lcidTableCodes()) {
        const qint32 id = GetLCIDFromCode(code);
        EXPECT_EQ(GetLanguageCode(id), code) << code.toStdString();
        EXPECT_NE(GetLanguageName(id), QStringLiteral("(error)")) << code.toStdString();
    }
}

TEST(LanguageNames, CodesAndNamesOfIdentifiers)
{
    EXPECT_EQ(GetLanguageCode(33801), QStringLiteral("ENX"));
    EXPECT_EQ(GetLanguageCode(1033), QStringLiteral("ENU"));
    EXPECT_EQ(GetLanguageCode(1042), QStringLiteral("KOR"));
    EXPECT_EQ(GetLanguageCode(0x7fff), QStringLiteral("ERR"));
    EXPECT_EQ(GetLanguageName(33801), QStringLiteral("English (TDD/TTY)"));
    EXPECT_EQ(GetLanguageName(1033), QStringLiteral("English (United States)"));
    EXPECT_EQ(GetLanguageName(0x7fff), QStringLiteral("(error)"));
    EXPECT_EQ(GetLanguageNameFromCode(QStringLiteral("deu")), QStringLiteral("English (United States)"));
    EXPECT_EQ(GetLanguageNameFromCode(QStringLiteral("ENX")), QStringLiteral("English (TDD/TTY)"));
}

TEST(LanguageNames, UserDefaultFromTheLocale)
{
    EXPECT_EQ(langIdForLocale(QLocale(QStringLiteral("de_DE"))), 1031);
    EXPECT_EQ(langIdForLocale(QLocale(QStringLiteral("de_AT"))), 3079);
    EXPECT_EQ(langIdForLocale(QLocale(QStringLiteral("en_GB"))), 2057);
    EXPECT_EQ(langIdForLocale(QLocale(QStringLiteral("en_IN"))), 1033); // an unknown country falls back
    EXPECT_EQ(langIdForLocale(QLocale(QStringLiteral("ko_KR"))), 1042);
    EXPECT_EQ(langIdForLocale(QLocale(QStringLiteral("zh_TW"))), 1028);
    EXPECT_EQ(langIdForLocale(QLocale(QStringLiteral("zh_CN"))), 2052);
    EXPECT_EQ(langIdForLocale(QLocale(QStringLiteral("zh_HK"))), 3076);
    EXPECT_EQ(langIdForLocale(QLocale::c()), 1033);
    EXPECT_EQ(langIdForLocale(QLocale(QStringLiteral("sw_KE"))), 1033);
}

TEST(LanguageFonts, FourScriptsHaveFontsAndTheRestNone)
{
    EXPECT_EQ(fontForLanguage(1041).charset, 128);
    EXPECT_EQ(fontForLanguage(1041).name, QString::fromUtf16(u"\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF"));
    EXPECT_EQ(fontForLanguage(1042).charset, 129);
    EXPECT_EQ(fontForLanguage(1042).name.size(), 2);
    EXPECT_EQ(fontForLanguage(1028).charset, 136);
    EXPECT_EQ(fontForLanguage(1028).name.size(), 4);
    EXPECT_EQ(fontForLanguage(2052).charset, 134);
    EXPECT_EQ(fontForLanguage(3076).charset, 1); // Hong Kong keeps the fonts it has
    EXPECT_EQ(fontForLanguage(1033).name, QString());
}

TEST(LanguageMenu, ItemsNeedTwoLibraries)
{
    for (const QStringList& few : {QStringList{QString()}, QStringList{QStringLiteral("DEU")}}) {
        const QList<LanguageMenuItem> items = languageMenuItems(few);
        ASSERT_EQ(items.size(), 1);
        EXPECT_EQ(items[0].caption, QStringLiteral("no languages loaded"));
        EXPECT_EQ(items[0].tag, QStringLiteral("1033"));
    }
    const QList<LanguageMenuItem> two = languageMenuItems({QStringLiteral("deu"), QStringLiteral("JPN")});
    ASSERT_EQ(two.size(), 2);
    EXPECT_EQ(two[0].caption, QStringLiteral("English (United States)"));
    EXPECT_EQ(two[0].tag, QStringLiteral("1033"));
    EXPECT_EQ(two[1].caption, QStringLiteral("Japanese (Japan)"));
    EXPECT_EQ(two[1].tag, QStringLiteral("1041"));
}

class LanguageStateTest : public ::testing::Test {
protected:
    QString file(const QString& name) const { return QDir(dir.path()).filePath(name); }
    QTemporaryDir dir;
};

TEST_F(LanguageStateTest, ListsOnlyTheToolsLanguageLibraries)
{
    touch(file(QStringLiteral("FerrowindSettingsTool_JPN.dll")));
    touch(file(QStringLiteral("FerrowindSettingsTool_deu.DLL")));
    touch(file(QStringLiteral("FerrowindSettingsTool")));
    touch(file(QStringLiteral("FerrowindSettingsTool_ENU_old.dll")));
    touch(file(QStringLiteral("FerrowindSettingsTool_.dll")));
    touch(file(QStringLiteral("Other_FRA.dll")));
    touch(file(QStringLiteral("FerrowindSettingsTool_ITA.dll.bak")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("FerrowindSettingsTool_NLD.dll")));

    LanguageState s(dir.path(), QStringLiteral("FerrowindSettingsTool"), QLocale(QStringLiteral("ja_JP")));
    EXPECT_TRUE(s.InitalizeLanguages().isEmpty());
    EXPECT_EQ(s.AvailableLanguages, (QStringList{QStringLiteral("deu"), QStringLiteral("JPN")}));
    EXPECT_EQ(s.CurrentLangID, 1041); // the user's default, worked out on first use
    ASSERT_NE(s.LanguageLibrary(), nullptr);
    EXPECT_EQ(QFileInfo(s.LanguageLibrary()->fileName()).fileName(), QStringLiteral("FerrowindSettingsTool_JPN.dll"));
    EXPECT_TRUE(s.LanguageLibrary()->isOpen());
}

TEST_F(LanguageStateTest, LoadsTheLibraryOfTheChosenLanguage)
{
    touch(file(QStringLiteral("FerrowindSettingsTool_deu.DLL")));
    touch(file(QStringLiteral("FerrowindSettingsTool_ENX.dll")));
    LanguageState s(dir.path(), QStringLiteral("FerrowindSettingsTool"), QLocale::c());
    s.InitalizeLanguages();
    EXPECT_EQ(s.CurrentLangID, 1033);
    EXPECT_EQ(s.LanguageLibrary(), nullptr); // no ENU library: not an error

    s.CurrentLangID = 33801;
    EXPECT_TRUE(s.InitalizeLanguages().isEmpty());
    ASSERT_NE(s.LanguageLibrary(), nullptr);
    EXPECT_TRUE(s.LanguageLibrary()->fileName().endsWith(QStringLiteral("_ENX.dll")));

    s.CurrentLangID = 1031; // DEU finds the library whatever the letter case of its name
    s.InitalizeLanguages();
    ASSERT_NE(s.LanguageLibrary(), nullptr);
    EXPECT_TRUE(s.LanguageLibrary()->fileName().endsWith(QStringLiteral("_deu.DLL")));
}

TEST_F(LanguageStateTest, InstalledLibrariesInShareFerrowindLanguagesToo)
{
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("bin")));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("share/ferrowind/languages")));
    touch(file(QStringLiteral("bin/FerrowindSettingsTool_deu.dll")));
    touch(file(QStringLiteral("share/ferrowind/languages/FerrowindSettingsTool_DEU.dll")));
    touch(file(QStringLiteral("share/ferrowind/languages/FerrowindSettingsTool_FRA.dll")));
    LanguageState s(file(QStringLiteral("bin")), QStringLiteral("FerrowindSettingsTool"), QLocale(QStringLiteral("fr_FR")));
    EXPECT_TRUE(s.InitalizeLanguages().isEmpty());
    EXPECT_EQ(s.AvailableLanguages, (QStringList{QStringLiteral("deu"), QStringLiteral("FRA")}));
    ASSERT_NE(s.LanguageLibrary(), nullptr);
    EXPECT_EQ(s.LanguageLibrary()->fileName(), file(QStringLiteral("share/ferrowind/languages/FerrowindSettingsTool_FRA.dll")));

    s.CurrentLangID = 1031; // the one beside the program comes first
    s.InitalizeLanguages();
    ASSERT_NE(s.LanguageLibrary(), nullptr);
    EXPECT_EQ(s.LanguageLibrary()->fileName(), file(QStringLiteral("bin/FerrowindSettingsTool_deu.dll")));
}

TEST_F(LanguageStateTest, NoLibrariesGiveOneEmptyEntry)
{
    LanguageState s(dir.path(), QStringLiteral("FerrowindSettingsTool"), QLocale(QStringLiteral("de_DE")));
    s.InitalizeLanguages();
    EXPECT_EQ(s.AvailableLanguages, QStringList{QString()});
    EXPECT_EQ(s.LanguageLibrary(), nullptr);
    EXPECT_EQ(s.CurrentLangID, 1031);
}

TEST(LanguageStateContext, UnreadableFolderIsReportedAndTheStepsGoOn)
{
    fw::test::TestContext t;
    t.ctx().language = std::make_shared<LanguageState>(QDir(t.dir()).filePath(QStringLiteral("gone")),
                                                       QStringLiteral("FerrowindSettingsTool"), QLocale::c());
    InitalizeLanguages(t.ctx());
    ASSERT_EQ(t.prompter().messages.size(), 1);
    EXPECT_TRUE(t.prompter().messages[0].startsWith(QStringLiteral("Error in InitalizeLanguages: ")));
    EXPECT_EQ(t.ctx().language->AvailableLanguages, QStringList{QString()});
    EXPECT_EQ(t.ctx().language->CurrentLangID, 1033);
}

TEST(LanguageStateContext, CreatedOnFirstUseBesideTheProgram)
{
    fw::test::TestContext t;
    touch(QDir(t.dir()).filePath(QStringLiteral("FerrowindSettingsTool_DEU.dll")));
    touch(QDir(t.dir()).filePath(QStringLiteral("FerrowindSettingsTool_FRA.dll")));
    InitalizeLanguages(t.ctx());
    EXPECT_TRUE(t.prompter().messages.isEmpty());
    ASSERT_TRUE(t.ctx().language);
    EXPECT_EQ(t.ctx().language->AvailableLanguages, (QStringList{QStringLiteral("DEU"), QStringLiteral("FRA")}));
}

} // namespace
