#include "support/ui/LanguageUi.h"

#include "context/AppContext.h"
#include "support/Localize.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMetaMethod>
#include <QWidget>

namespace fw {

namespace {

QFontDatabase::WritingSystem writingSystemOf(int charset)
{
    switch (charset) {
    case 128: return QFontDatabase::Japanese;
    case 129: return QFontDatabase::Korean;
    case 134: return QFontDatabase::SimplifiedChinese;
    case 136: return QFontDatabase::TraditionalChinese;
    default: return QFontDatabase::Any;
    }
}

QList<QWidget*> loadedWindows()
{
    QList<QWidget*> out;
    const QWidgetList all = QApplication::topLevelWidgets();
    for (QWidget* w : all)
        if (w->isWindow())
            out.append(w);
    return out;
}

void callAutoInit(QWidget* window)
{
    const QByteArray name = window->objectName().toLatin1() + "_Auto_Init";
    if (window->objectName().isEmpty())
        return;
    const int index = window->metaObject()->indexOfMethod(QMetaObject::normalizedSignature(name + "()"));
    if (index < 0)
        return; // a window without the method is left as it is
    window->metaObject()->method(index).invoke(window, Qt::DirectConnection);
}

} // namespace

void ApplyLanguageFont(QWidget* control, const LanguageFont& font)
{
    if (!control)
        return;
    control->setProperty(kFontCharsetProperty, font.charset);
    if (font.name.isEmpty())
        return;
    QFont f = control->font();
    QStringList families{font.name};
    const QFontDatabase::WritingSystem ws = writingSystemOf(font.charset);
    if (ws != QFontDatabase::Any) {
        const QStringList script = QFontDatabase::families(ws);
        if (!script.isEmpty() && script.first() != font.name)
            families.append(script.first());
    }
    f.setFamilies(families);
    control->setFont(f);
}

void ApplyLanguageToForm(QWidget* window, qint32 langId)
{
    if (!window)
        return;
    const LanguageFont font = fontForLanguage(langId);
    ApplyLanguageFont(window, font);
    const QList<QWidget*> controls = window->findChildren<QWidget*>();
    for (QWidget* c : controls)
        ApplyLanguageFont(c, font);
}

void InitalizeLanguagesAndFonts(AppContext& ctx)
{
    InitalizeLanguages(ctx);
    const qint32 langId = languageState(ctx).CurrentLangID;
    for (QWidget* w : loadedWindows())
        ApplyLanguageToForm(w, langId);
}

void SwitchLanguage(AppContext& ctx, QWidget* owner, qint32 langId)
{
    if (owner)
        owner->setCursor(Qt::WaitCursor);
    languageState(ctx).CurrentLangID = langId;
    InitalizeLanguagesAndFonts(ctx);
    for (QWidget* w : loadedWindows()) {
        ApplyLanguageToForm(w, langId);
        callAutoInit(w);
        w->update();
        const QList<QWidget*> controls = w->findChildren<QWidget*>();
        for (QWidget* c : controls)
            c->update();
    }
    if (owner)
        owner->unsetCursor();
}

} // namespace fw
