#include "EventLog.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace velk {

namespace {

// The lines go out on a thread of their own: whoever logs (the user-interface thread above all)
// never waits for standard error. A reader that falls behind (a pipe nobody empties for a
// while) would otherwise stop the whole user interface once the pipe is full.
class LogWriter {
public:
    ~LogWriter() { stop(); }

    void push(QByteArray line) {
        {
            std::lock_guard guard(m_lock);
            if (!m_thread.joinable()) m_thread = std::thread([this] { run(); });
            m_lines.push_back(std::move(line));
        }
        m_wake.notify_one();
    }

    // Waits until every line logged so far is written.
    void flush() {
        std::unique_lock guard(m_lock);
        m_drained.wait(guard, [this] { return m_lines.empty() && !m_writing; });
    }

    void stop() {
        {
            std::lock_guard guard(m_lock);
            m_stopping = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable()) m_thread.join();
    }

private:
    void run() {
        std::unique_lock guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [this] { return m_stopping || !m_lines.empty(); });
            if (m_lines.empty()) return; // stopping, and everything is written
            QByteArray line = std::move(m_lines.front());
            m_lines.pop_front();
            m_writing = true;
            guard.unlock();
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
            std::fflush(stderr);
            guard.lock();
            m_writing = false;
            if (m_lines.empty()) m_drained.notify_all();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<QByteArray> m_lines;
    bool m_writing = false;
    bool m_stopping = false;
    std::thread m_thread;
};

LogWriter& writer() {
    static LogWriter instance; // joined at exit, after the last line is written
    return instance;
}

} // namespace

void SetEventLogEnabled(bool on) { g_eventLogEnabled.store(on, std::memory_order_relaxed); }

void LogEvent(const QString& line) {
    if (!EventLogEnabled()) return;
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    // Only a pipe or a socket can make a write wait for its reader: those lines go through the
    // writer thread. A file or a terminal is written at once (after what the thread still holds,
    // so the order stays).
    struct stat target;
    if (fstat(STDERR_FILENO, &target) == 0 &&
        (S_ISFIFO(target.st_mode) || S_ISSOCK(target.st_mode))) {
        writer().push(std::move(bytes));
        return;
    }
    writer().flush();
    static std::mutex direct;
    std::lock_guard guard(direct);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void FlushEventLog() {
    if (EventLogEnabled()) writer().flush();
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
