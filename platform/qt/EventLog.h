#pragma once
// The program's event log (`velk-viewer --verbose`): one line per event on standard error, the
// event's name first, fields separated by one space, flushed at once. The end-to-end tests and
// support read it, so the words of a line are kept stable. Off by default; when off, logging
// costs one load of a flag. Callable from any thread (each line is written whole, in order).

#include "WindowMessages.h"

#include <QString>

#include <atomic>
#include <string>

namespace velk {

void SetEventLogEnabled(bool on);
inline std::atomic<bool> g_eventLogEnabled{false};
inline bool EventLogEnabled() { return g_eventLogEnabled.load(std::memory_order_relaxed); }

// Writes line and a line end to standard error, when the log is on. Never waits for standard
// error: a writer thread of the log's own writes the lines in the order they were logged.
void LogEvent(const QString& line);
// Waits until every line logged so far is written (before the process ends without unwinding).
void FlushEventLog();

// A text printed on one line, byte for byte: backslash, CR and LF as \\, \r and \n, any other
// byte outside printable ASCII as \xHH, so what a panel parses can be read back exactly.
QString EscapedText(const std::string& text);

// An engine message as velk-play prints it: "msg ID RECEIVER WPARAM LPARAM", or
// "msg ID RECEIVER WPARAM text TEXT" for a message with its own text.
QString MessageLine(const QString& receiver, const WindowMessage& message);

} // namespace velk
