#include "support/TestContext.h"

#include "support/Localize.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

namespace {

void touch(const QString& path)
{
    fw::test::writeTestFile(path, "MZ language resources");
}

TEST(LcidTable, HoldsTheFortyFourCodesExactlyAsWritten)
{
    const QStringList codes = lcidTableCodes();
    EXPECT_EQ(codes.size(), 44);
    EXPECT_EQ(QSet<QString>(codes.begin(), codes.end()).size(), 44);
    // Letter case counts; Korean has a font but no code of the table.
    for (const auto& [code, id] :
         {std::pair{"ENX", 33801}, {"DEU", 1031}, {"deu", 1033}, {"ZHI", 4100}, {"KOR", 1033}, {"", 1033}, {"DEU ", 1033}})
        EXPECT_EQ(GetLCIDFromCode(QString::fromLatin1(code)), id) << code;
}

TEST(LcidTable, EveryCodeLeadsBackToItself)
{
    // The library loaded for a chosen item is named by the code of its identifier: the two tables must agree.
    for (const QString& code : lcidTableCodes()) {
        const qint32 id = GetLCIDFromCode(code);
        EXPECT_EQ(GetLanguageCode(id), code) << code.toStdString();
        EXPECT_NE(GetLanguageName(id), "(error)") << code.toStdString();
    }
}

TEST(LanguageNames, CodesAndNamesOfIdentifiers)
{
    for (const auto& [id, codeAndName] : {std::pair{1033, "ENU English (United States)"},
                                          {1042, "KOR Korean (Korea)"},
                                          {33801, "ENX English (TDD/TTY)"},
                                          {0x7fff, "ERR (error)"}})
        EXPECT_EQ(GetLanguageCode(id) + ' ' + GetLanguageName(id), codeAndName) << id;
    EXPECT_EQ(GetLanguageNameFromCode("deu"), "English (United States)");
    EXPECT_EQ(GetLanguageNameFromCode("ENX"), "English (TDD/TTY)");
}

TEST(LanguageNames, UserDefaultFromTheLocale)
{
    // en_IN: an unknown country falls back.
    // clang-format off
    for (const auto& [locale, id] : {std::pair{"de_DE", 1031}, {"de_AT", 3079}, {"en_GB", 2057}, {"en_IN", 1033}, {"ko_KR", 1042},
                                     {"zh_TW", 1028}, {"zh_CN", 2052}, {"zh_HK", 3076}, {"C", 1033}, {"sw_KE", 1033}})
        EXPECT_EQ(langIdForLocale(QLocale(QString::fromLatin1(locale))), id) << locale;
    // clang-format on
}

TEST(LanguageFonts, FourScriptsHaveFontsAndTheRestNone)
{
    // Hong Kong keeps the fonts it has.
    for (const auto& [id, font] : {std::pair{1041, u"128 \uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF"},
                                   {1042, u"129 \uAD74\uB9BC"},
                                   {1028, u"136 \u65B0\u7D30\u660E\u9AD4"},
                                   {2052, u"134 \u5B8B\u4F53"},
                                   {3076, u"1 "},
                                   {1033, u"1 "}})
        EXPECT_EQ(QString::number(fontForLanguage(id).charset) + ' ' + fontForLanguage(id).name, QString::fromUtf16(font)) << id;
}

TEST(LanguageMenu, ItemsNeedTwoLibraries)
{
    auto items = [](const QStringList& libraries) {
        QStringList out;
        for (const LanguageMenuItem& i : languageMenuItems(libraries))
            out << i.caption + "=" + i.tag;
        return out;
    };
    EXPECT_EQ(items({QString()}), QStringList{"no languages loaded=1033"});
    EXPECT_EQ(items({"DEU"}), QStringList{"no languages loaded=1033"});
    EXPECT_EQ(items({"deu", "JPN"}), (QStringList{"English (United States)=1033", "Japanese (Japan)=1041"}));
}

class LanguageStateTest : public ::testing::Test {
protected:
    QString file(const QString& name) const { return QDir(dir.path()).filePath(name); }
    // The file of the library loaded, or "none".
    static QString library(const LanguageState& s) { return s.LanguageLibrary() ? s.LanguageLibrary()->fileName() : "none"; }
    QTemporaryDir dir;
};

TEST_F(LanguageStateTest, ListsOnlyTheToolsLanguageLibraries)
{
    for (const char* name : {"FerrowindSettingsTool_JPN.dll", "FerrowindSettingsTool_deu.DLL", "FerrowindSettingsTool",
                             "FerrowindSettingsTool_ENU_old.dll", "FerrowindSettingsTool_.dll", "Other_FRA.dll",
                             "FerrowindSettingsTool_ITA.dll.bak"})
        touch(file(name));
    ASSERT_TRUE(QDir(dir.path()).mkdir("FerrowindSettingsTool_NLD.dll"));

    LanguageState s(dir.path(), "FerrowindSettingsTool", QLocale("ja_JP"));
    EXPECT_TRUE(s.InitalizeLanguages().isEmpty());
    EXPECT_EQ(s.AvailableLanguages, (QStringList{"deu", "JPN"}));
    EXPECT_EQ(s.CurrentLangID, 1041); // the user's default, worked out on first use
    EXPECT_EQ(library(s), file("FerrowindSettingsTool_JPN.dll"));
    EXPECT_TRUE(s.LanguageLibrary() && s.LanguageLibrary()->isOpen());
}

TEST_F(LanguageStateTest, LoadsTheLibraryOfTheChosenLanguage)
{
    touch(file("FerrowindSettingsTool_deu.DLL"));
    touch(file("FerrowindSettingsTool_ENX.dll"));
    LanguageState s(dir.path(), "FerrowindSettingsTool", QLocale::c());
    s.InitalizeLanguages();
    EXPECT_EQ(s.CurrentLangID, 1033);
    EXPECT_EQ(library(s), "none"); // no ENU library: not an error

    s.CurrentLangID = 33801;
    EXPECT_TRUE(s.InitalizeLanguages().isEmpty());
    EXPECT_EQ(library(s), file("FerrowindSettingsTool_ENX.dll"));

    s.CurrentLangID = 1031; // DEU finds the library whatever the letter case of its name
    s.InitalizeLanguages();
    EXPECT_EQ(library(s), file("FerrowindSettingsTool_deu.DLL"));
}

TEST_F(LanguageStateTest, InstalledLibrariesInShareFerrowindLanguagesToo)
{
    ASSERT_TRUE(QDir(dir.path()).mkpath("bin"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("share/ferrowind/languages"));
    touch(file("bin/FerrowindSettingsTool_deu.dll"));
    touch(file("share/ferrowind/languages/FerrowindSettingsTool_DEU.dll"));
    touch(file("share/ferrowind/languages/FerrowindSettingsTool_FRA.dll"));
    LanguageState s(file("bin"), "FerrowindSettingsTool", QLocale("fr_FR"));
    EXPECT_TRUE(s.InitalizeLanguages().isEmpty());
    EXPECT_EQ(s.AvailableLanguages, (QStringList{"deu", "FRA"}));
    EXPECT_EQ(library(s), file("share/ferrowind/languages/FerrowindSettingsTool_FRA.dll"));

    s.CurrentLangID = 1031; // the one beside the program comes first
    s.InitalizeLanguages();
    EXPECT_EQ(library(s), file("bin/FerrowindSettingsTool_deu.dll"));
}

TEST_F(LanguageStateTest, NoLibrariesGiveOneEmptyEntry)
{
    LanguageState s(dir.path(), "FerrowindSettingsTool", QLocale("de_DE"));
    s.InitalizeLanguages();
    EXPECT_EQ(s.AvailableLanguages, QStringList{QString()});
    EXPECT_EQ(library(s), "none");
    EXPECT_EQ(s.CurrentLangID, 1031);
}

TEST(LanguageStateContext, UnreadableFolderIsReportedAndTheStepsGoOn)
{
    fw::test::TestContext t;
    t.ctx().language = std::make_shared<LanguageState>(QDir(t.dir()).filePath("gone"), "FerrowindSettingsTool", QLocale::c());
    InitalizeLanguages(t.ctx());
    ASSERT_EQ(t.prompter().messages.size(), 1);
    EXPECT_TRUE(t.prompter().messages[0].startsWith("Error in InitalizeLanguages: "));
    EXPECT_EQ(t.ctx().language->AvailableLanguages, QStringList{QString()});
    EXPECT_EQ(t.ctx().language->CurrentLangID, 1033);
}

TEST(LanguageStateContext, CreatedOnFirstUseBesideTheProgram)
{
    fw::test::TestContext t;
    touch(QDir(t.dir()).filePath("FerrowindSettingsTool_DEU.dll"));
    touch(QDir(t.dir()).filePath("FerrowindSettingsTool_FRA.dll"));
    InitalizeLanguages(t.ctx());
    EXPECT_TRUE(t.prompter().messages.isEmpty());
    ASSERT_TRUE(t.ctx().language);
    EXPECT_EQ(t.ctx().language->AvailableLanguages, (QStringList{"DEU", "FRA"}));
}

} // namespace
