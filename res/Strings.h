#pragma once

#include <QString>

class QLocale;

namespace velk {

// User-interface language ids as kept in AppGlobals::uiLanguage.
enum UiLanguageId : quint16 {
    LanguageEnglish = 1033,
    LanguageJapanese = 1041,
    LanguageKorean = 1042,
    LanguageChinesePrc = 2052,
};

// The language id for a locale: Korean gives 1042, Japanese 1041, Chinese of the PRC 2052, every
// other language (other Chinese regions included) 1033.
quint16 uiLanguageFor(const QLocale& locale);

// The language id of the user's interface language, from QLocale::system().
quint16 systemUiLanguage();

// True when the Korean pictures and strings are used: only under 1042.
bool usesKoreanSet(quint16 uiLanguage);

// String ids of the compiled-in table (tooltips of the title bar and the control panel).
enum StringId : int {
    IdsFileOpen = 222,
    IdsPrevFile = 223,
    IdsFlipHorizontal = 225,
    IdsRewind = 227,
    IdsPlay = 229,
    IdsPause = 231,
    IdsFastForward = 233,
    IdsNextFile = 237,
    IdsViewerSwitch = 241,
    IdsClose = 245,
    IdsVersion = 249,
    IdsFullscreen = 257,
    IdsMinimize = 260,
    IdsZoomIn = 266,
    IdsZoomOut = 268,
};

// The text of a string id: the Korean table under 1042, the English one under any other
// language. An unknown id gives an empty string.
QString loadString(int id, quint16 uiLanguage);

} // namespace velk
