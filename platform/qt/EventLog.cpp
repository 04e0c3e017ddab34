#include "EventLog.h"

#include <cstdio>

namespace velk {

void SetEventLogEnabled(bool on) { g_eventLogEnabled.store(on, std::memory_order_relaxed); }

void LogEvent(const QString& line) {
    if (!EventLogEnabled()) return;
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    // One write per line, so lines from several threads never interleave.
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString EscapedText(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    QString out;
    out.reserve(qsizetype(text.size()));
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte == '\\')
            out += QStringLiteral("\\\\");
        else if (byte == '\n')
            out += QStringLiteral("\\n");
        else if (byte == '\r')
            out += QStringLiteral("\\r");
        else if (byte >= 0x20 && byte < 0x7f)
            out += QLatin1Char(ch);
        else {
            out += QStringLiteral("\\x");
            out += QLatin1Char(hex[byte >> 4]);
            out += QLatin1Char(hex[byte & 15]);
        }
    }
    return out;
}

QString MessageLine(const QString& receiver, const WindowMessage& m) {
    if (m.text) {
        return QStringLiteral("msg %1 %2 %3 text %4")
            .arg(m.id)
            .arg(receiver)
            .arg(m.wParam)
            .arg(EscapedText(*m.text));
    }
    return QStringLiteral("msg %1 %2 %3 %4").arg(m.id).arg(receiver).arg(m.wParam).arg(m.lParam);
}

} // namespace velk
