#include "Strings.h"

#include <QLocale>

namespace velk {

namespace {

struct StringEntry {
    int id;
    const char* english;
    const char* korean; // UTF-8
};

constexpr StringEntry kStrings[] = {
    {IdsFileOpen, "File open", "파일 열기"},
    {IdsPrevFile, "Prev file", "이전파일 재생"},
    {IdsFlipHorizontal, "Flip horizontal", "좌우 반전"},
    {IdsRewind, "Rewind", "뒤로"},
    {IdsPlay, "Play", "재생"},
    {IdsPause, "Pause", "일시정지"},
    {IdsFastForward, "Fast forward", "앞으로"},
    {IdsNextFile, "Next file", "다음파일 재생"},
    {IdsViewerSwitch, "Viewer switch", "화면 전환"},
    {IdsClose, "Close", "프로그램 종료"},
    {IdsVersion, "Version", "버전"},
    {IdsFullscreen, "Fullscreen", "전체화면"},
    {IdsMinimize, "Minimize", "최소화"},
    {IdsZoomIn, "Zoom in", "확대"},
    {IdsZoomOut, "Zoom out", "축소"},
};

} // namespace

quint16 uiLanguageFor(const QLocale& locale) {
    switch (locale.language()) {
    case QLocale::Korean:
        return LanguageKorean;
    case QLocale::Japanese:
        return LanguageJapanese;
    case QLocale::Chinese:
        // Only Chinese as used in the PRC is 2052; Taiwan, Hong Kong, Macao and Singapore have
        // ids of their own, which fall to English like every other language.
        if (locale.territory() == QLocale::China &&
            locale.script() != QLocale::TraditionalChineseScript)
            return LanguageChinesePrc;
        return LanguageEnglish;
    default:
        return LanguageEnglish;
    }
}

quint16 systemUiLanguage() {
    // The language of the messages (LANGUAGE, LC_MESSAGES) is the user-interface language; the
    // locale's own language follows the number and date settings, which may differ.
    const QLocale system = QLocale::system();
    const QStringList languages = system.uiLanguages();
    return uiLanguageFor(languages.isEmpty() ? system : QLocale(languages.first()));
}

bool usesKoreanSet(quint16 uiLanguage) {
    return uiLanguage == LanguageKorean;
}

QString loadString(int id, quint16 uiLanguage) {
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id)
            return QString::fromUtf8(usesKoreanSet(uiLanguage) ? entry.korean : entry.english);
    }
    return {};
}

} // namespace velk
