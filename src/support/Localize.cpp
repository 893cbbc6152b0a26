#include "support/Localize.h"

#include "context/AppContext.h"
#include "env/InstallLayout.h"
#include "platform/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace fw {

namespace {

struct LanguageId {
    qint32 lcid;
    const char* code; // the abbreviated language name, as the tool's own code table spells it
    const char16_t* name;
    QLocale::Language language;
    QLocale::Territory territory;
};

// The languages the tool knows. The first entry of a language is the one its other countries fall back to.
const LanguageId kLanguages[] = {
    {1033, "ENU", u"English (United States)", QLocale::English, QLocale::UnitedStates},
    {2057, "ENG", u"English (United Kingdom)", QLocale::English, QLocale::UnitedKingdom},
    {3081, "ENA", u"English (Australia)", QLocale::English, QLocale::Australia},
    {4105, "ENC", u"English (Canada)", QLocale::English, QLocale::Canada},
    {5129, "ENZ", u"English (New Zealand)", QLocale::English, QLocale::NewZealand},
    {6153, "ENI", u"English (Ireland)", QLocale::English, QLocale::Ireland},
    {7177, "ENS", u"English (South Africa)", QLocale::English, QLocale::SouthAfrica},
    {1031, "DEU", u"German (Germany)", QLocale::German, QLocale::Germany},
    {2055, "DES", u"German (Switzerland)", QLocale::German, QLocale::Switzerland},
    {3079, "DEA", u"German (Austria)", QLocale::German, QLocale::Austria},
    {4103, "DEL", u"German (Luxembourg)", QLocale::German, QLocale::Luxembourg},
    {5127, "DEC", u"German (Liechtenstein)", QLocale::German, QLocale::Liechtenstein},
    {3082, "ESN", u"Spanish (Spain, International Sort)", QLocale::Spanish, QLocale::Spain},
    {1034, "ESP", u"Spanish (Spain, Traditional Sort)", QLocale::Spanish, QLocale::AnyTerritory},
    {2058, "ESM", u"Spanish (Mexico)", QLocale::Spanish, QLocale::Mexico},
    {4106, "ESG", u"Spanish (Guatemala)", QLocale::Spanish, QLocale::Guatemala},
    {5130, "ESC", u"Spanish (Costa Rica)", QLocale::Spanish, QLocale::CostaRica},
    {6154, "ESA", u"Spanish (Panama)", QLocale::Spanish, QLocale::Panama},
    {7178, "ESD", u"Spanish (Dominican Republic)", QLocale::Spanish, QLocale::DominicanRepublic},
    {8202, "ESV", u"Spanish (Venezuela)", QLocale::Spanish, QLocale::Venezuela},
    {9226, "ESO", u"Spanish (Colombia)", QLocale::Spanish, QLocale::Colombia},
    {10250, "ESR", u"Spanish (Peru)", QLocale::Spanish, QLocale::Peru},
    {11274, "ESS", u"Spanish (Argentina)", QLocale::Spanish, QLocale::Argentina},
    {18442, "ESH", u"Spanish (Honduras)", QLocale::Spanish, QLocale::Honduras},
    {19466, "ESI", u"Spanish (Nicaragua)", QLocale::Spanish, QLocale::Nicaragua},
    {20490, "ESU", u"Spanish (Puerto Rico)", QLocale::Spanish, QLocale::PuertoRico},
    {1036, "FRA", u"French (France)", QLocale::French, QLocale::France},
    {2060, "FRB", u"French (Belgium)", QLocale::French, QLocale::Belgium},
    {3084, "FRC", u"French (Canada)", QLocale::French, QLocale::Canada},
    {4108, "FRS", u"French (Switzerland)", QLocale::French, QLocale::Switzerland},
    {5132, "FRL", u"French (Luxembourg)", QLocale::French, QLocale::Luxembourg},
    {1040, "ITA", u"Italian (Italy)", QLocale::Italian, QLocale::Italy},
    {2064, "ITS", u"Italian (Switzerland)", QLocale::Italian, QLocale::Switzerland},
    {1041, "JPN", u"Japanese (Japan)", QLocale::Japanese, QLocale::Japan},
    {1042, "KOR", u"Korean (Korea)", QLocale::Korean, QLocale::SouthKorea},
    {1043, "NLD", u"Dutch (Netherlands)", QLocale::Dutch, QLocale::Netherlands},
    {2067, "NLB", u"Dutch (Belgium)", QLocale::Dutch, QLocale::Belgium},
    {1044, "NOR", u"Norwegian, Bokm\u00e5l (Norway)", QLocale::NorwegianBokmal, QLocale::Norway},
    {2068, "NON", u"Norwegian, Nynorsk (Norway)", QLocale::NorwegianNynorsk, QLocale::Norway},
    {1046, "PTB", u"Portuguese (Brazil)", QLocale::Portuguese, QLocale::Brazil},
    {2070, "PTG", u"Portuguese (Portugal)", QLocale::Portuguese, QLocale::Portugal},
    {2052, "CHS", u"Chinese (Simplified, PRC)", QLocale::Chinese, QLocale::China},
    {4100, "ZHI", u"Chinese (Simplified, Singapore)", QLocale::Chinese, QLocale::Singapore},
    {1028, "CHT", u"Chinese (Traditional, Taiwan)", QLocale::Chinese, QLocale::Taiwan},
    // Windows abbreviates Hong Kong "ZHH"; the tool's code table calls its library ZHT, and the code of an
    // identifier must lead back to it.
    {3076, "ZHT", u"Chinese (Traditional, Hong Kong S.A.R.)", QLocale::Chinese, QLocale::HongKong},
    {1053, "SVE", u"Swedish (Sweden)", QLocale::Swedish, QLocale::Sweden},
    {1030, "DAN", u"Danish (Denmark)", QLocale::Danish, QLocale::Denmark},
    {1035, "FIN", u"Finnish (Finland)", QLocale::Finnish, QLocale::Finland},
    {1045, "PLK", u"Polish (Poland)", QLocale::Polish, QLocale::Poland},
    {1029, "CSY", u"Czech (Czech Republic)", QLocale::Czech, QLocale::Czechia},
    {1038, "HUN", u"Hungarian (Hungary)", QLocale::Hungarian, QLocale::Hungary},
    {1049, "RUS", u"Russian (Russia)", QLocale::Russian, QLocale::Russia},
    {1055, "TRK", u"Turkish (Turkey)", QLocale::Turkish, QLocale::Turkey},
    {1032, "ELL", u"Greek (Greece)", QLocale::Greek, QLocale::Greece},
};

// The tool's code table, in the order it is tested.
const std::pair<const char*, qint32> kCodeTable[] = {
    {"ENX", 33801}, {"ENU", 1033},  {"ENG", 2057}, {"ENA", 3081}, {"ENC", 4105}, {"ENZ", 5129},  {"ENI", 6153},  {"DEU", 1031},
    {"DES", 2055},  {"DEA", 3079},  {"DEL", 4103}, {"DEC", 5127}, {"ESP", 1034}, {"ESM", 2058},  {"ESN", 3082},  {"ESG", 4106},
    {"ESC", 5130},  {"ESA", 6154},  {"ESD", 7178}, {"ESV", 8202}, {"ESO", 9226}, {"ESR", 10250}, {"ESS", 11274}, {"ESH", 18442},
    {"ESI", 19466}, {"ESU", 20490}, {"FRA", 1036}, {"FRB", 2060}, {"FRC", 3084}, {"FRS", 4108},  {"FRL", 5132},  {"ITA", 1040},
    {"ITS", 2064},  {"JPN", 1041},  {"NLD", 1043}, {"NLB", 2067}, {"NOR", 1044}, {"NON", 2068},  {"PTB", 1046},  {"PTG", 2070},
    {"CHT", 1028},  {"ZHT", 3076},  {"CHS", 2052}, {"ZHI", 4100},
};

const LanguageId* findLanguage(qint32 langId)
{
    for (const LanguageId& l : kLanguages)
        if (l.lcid == langId)
            return &l;
    return nullptr;
}

const QString kNoLanguages = QStringLiteral("no languages loaded");

} // namespace

QString GetLanguageCode(qint32 langId)
{
    if (langId == lcid::kEnglishTddTty)
        return QStringLiteral("ENX");
    const LanguageId* l = findLanguage(langId);
    return l ? QString::fromLatin1(l->code).left(3).trimmed() : QStringLiteral("ERR");
}

QString GetLanguageName(qint32 langId)
{
    if (langId == lcid::kEnglishTddTty)
        return QStringLiteral("English (TDD/TTY)");
    const LanguageId* l = findLanguage(langId);
    return l ? QString::fromUtf16(l->name) : QStringLiteral("(error)");
}

qint32 GetLCIDFromCode(const QString& code)
{
    for (const auto& [c, id] : kCodeTable)
        if (code == QLatin1String(c))
            return id;
    return lcid::kEnglishUS;
}

QString GetLanguageNameFromCode(const QString& code)
{
    return GetLanguageName(GetLCIDFromCode(code));
}

QStringList lcidTableCodes()
{
    QStringList out;
    for (const auto& entry : kCodeTable)
        out.append(QString::fromLatin1(entry.first));
    return out;
}

qint32 langIdForLocale(const QLocale& locale)
{
    const QLocale::Language language = locale.language();
    QLocale::Territory territory = locale.territory();
    if (language == QLocale::Chinese && territory != QLocale::HongKong && territory != QLocale::Singapore) {
        // Chinese goes by its script where the territory does not decide it.
        if (locale.script() == QLocale::TraditionalHanScript && territory != QLocale::Taiwan)
            territory = QLocale::Taiwan;
        else if (locale.script() == QLocale::SimplifiedHanScript && territory != QLocale::China)
            territory = QLocale::China;
    }
    const LanguageId* first = nullptr;
    for (const LanguageId& l : kLanguages) {
        if (l.language != language)
            continue;
        if (l.territory == territory)
            return l.lcid;
        if (!first)
            first = &l;
    }
    return first ? first->lcid : lcid::kEnglishUS;
}

LanguageFont fontForLanguage(qint32 langId)
{
    switch (langId) {
    case lcid::kKorean: return {129, QString::fromUtf16(u"\uAD74\uB9BC")};
    case lcid::kChineseTaiwan: return {136, QString::fromUtf16(u"\u65B0\u7D30\u660E\u9AD4")};
    case lcid::kJapanese: return {128, QString::fromUtf16(u"\uFF2D\uFF33\u0020\uFF30\u30B4\u30B7\u30C3\u30AF")};
    case lcid::kChinesePrc: return {134, QString::fromUtf16(u"\u5B8B\u4F53")};
    default: return {1, QString()};
    }
}

QList<LanguageMenuItem> languageMenuItems(const QStringList& availableLanguages)
{
    QList<LanguageMenuItem> items;
    if (availableLanguages.size() >= 2) {
        for (const QString& code : availableLanguages)
            items.append({GetLanguageNameFromCode(code), QString::number(GetLCIDFromCode(code))});
    } else {
        items.append({kNoLanguages, QString::number(lcid::kEnglishUS)});
    }
    return items;
}

LanguageState::LanguageState(QString programFolder, QString programName, QLocale userLocale)
    : m_folder(std::move(programFolder)), m_installedFolder(installedDataFolder(m_folder) + QStringLiteral("/languages")),
      m_programName(std::move(programName)), m_userLocale(std::move(userLocale))
{
}

LanguageState::~LanguageState() = default;

QString LanguageState::libraryPath(const QString& code) const
{
    return QDir(m_folder).filePath(m_programName + QLatin1Char('_') + code + QStringLiteral(".dll"));
}

QString LanguageState::findLibrary(const QString& code) const
{
    const QString wanted = QFileInfo(libraryPath(code)).fileName();
    for (const QString& folder : {m_folder, m_installedFolder}) {
        // File names of libraries are compared without regard to case, as on the servers they come from; the name
        // is given as the folder holds it (a file system without case would accept any spelling).
        QString other;
        for (const QString& f : QDir(folder).entryList(QDir::Files)) {
            if (f == wanted)
                return QDir(folder).filePath(f);
            if (other.isEmpty() && f.compare(wanted, Qt::CaseInsensitive) == 0)
                other = f;
        }
        if (!other.isEmpty())
            return QDir(folder).filePath(other);
    }
    return {};
}

QList<FwError> LanguageState::InitalizeLanguages()
{
    QList<FwError> failures;
    if (CurrentLangID == 0)
        CurrentLangID = userDefaultLangId();

    m_library.reset();
    const QString path = findLibrary(GetLanguageCode(CurrentLangID));
    if (!path.isEmpty()) {
        auto file = std::make_unique<QFile>(path);
        if (file->open(QIODevice::ReadOnly))
            m_library = std::move(file);
        else
            failures.append({75, QStringLiteral("the language library %1 cannot be opened: %2").arg(path, file->errorString())});
    }

    AvailableLanguages.clear();
    const QDir dir(m_folder);
    if (!dir.exists() || !dir.isReadable())
        failures.append({76, QStringLiteral("the program folder %1 cannot be read").arg(m_folder)});
    const QString prefix = m_programName + QLatin1Char('_');
    // Listed as the servers' file system lists them: by name, letter case aside; a language in both folders once.
    QStringList files = dir.entryList(QDir::Files);
    files += QDir(m_installedFolder).entryList(QDir::Files);
    std::stable_sort(files.begin(), files.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString& f : files) {
        // Exactly program name + "_" + three characters + ".dll"; anything else is not a language library.
        if (f.size() != prefix.size() + 3 + 4)
            continue;
        if (!f.startsWith(prefix, Qt::CaseInsensitive) || !f.endsWith(QStringLiteral(".dll"), Qt::CaseInsensitive))
            continue;
        const QString code = f.mid(prefix.size(), 3);
        if (!AvailableLanguages.contains(code, Qt::CaseInsensitive))
            AvailableLanguages.append(code);
    }
    if (AvailableLanguages.isEmpty())
        AvailableLanguages.append(QString());
    return failures;
}

LanguageState& languageState(AppContext& ctx)
{
    if (!ctx.language)
        ctx.language = std::make_shared<LanguageState>(ctx.programFolder(), ctx.programName());
    return *ctx.language;
}

void InitalizeLanguages(AppContext& ctx)
{
    const QList<FwError> failures = languageState(ctx).InitalizeLanguages();
    for (const FwError& e : failures)
        ctx.prompter().inform(QStringLiteral("Error in InitalizeLanguages: ") + e.description);
}

} // namespace fw
