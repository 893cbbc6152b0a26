#pragma once
#include <QtGlobal>

class QWidget;

namespace fw {

class AppContext;
struct LanguageFont;

// The property that holds the font character set a window's controls were given (Qt fonts have none; the
// set also picks the fallback family for the script).
inline constexpr const char* kFontCharsetProperty = "FontCharSet";

// Gives one control the font of the language: its character set, and the font name unless the name is empty
// (the control keeps what it had). Fonts of the script serve as fallbacks when the named font is missing.
void ApplyLanguageFont(QWidget* control, const LanguageFont& font);
// ApplyLanguageFont for the window and every control on it.
void ApplyLanguageToForm(QWidget* window, qint32 langId);
// InitalizeLanguages, then the language's fonts on every loaded window.
void InitalizeLanguagesAndFonts(AppContext& ctx);
// The About window's language switch: wait cursor on `owner`, the new language, fonts on every loaded window,
// each window's "<objectName>_Auto_Init" when it offers one, a redraw, the normal cursor.
void SwitchLanguage(AppContext& ctx, QWidget* owner, qint32 langId);

} // namespace fw
