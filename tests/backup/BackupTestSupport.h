#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

class QMessageBox;

namespace velk::test {

// length bytes that differ with seed, so two files of one size are told apart.
QByteArray Pattern(qint64 length, int seed);
void WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);
// Every entry of folder, hidden ones included, sorted.
QStringList Entries(const QString& folder);

// A tmpfs mounted on a folder for the test's life. Mounting needs root; failure() says why it
// could not be mounted.
class TmpfsMount {
public:
    TmpfsMount(const QString& folder, const QString& options, bool readOnly = false);
    ~TmpfsMount();
    bool mounted() const { return m_mounted; }
    const std::string& failure() const { return m_failure; }

private:
    QByteArray m_folder;
    bool m_mounted = false;
    std::string m_failure;
};

// The event log switched on, and everything the process writes to standard error while the
// capture lives.
class EventLogCapture {
public:
    EventLogCapture();
    ~EventLogCapture();
    QStringList Lines(); // stops the capture on first call

private:
    int m_saved = -1;
    QString m_path;
    bool m_done = false;
};

// The visible message boxes, top-level or owned.
QList<QMessageBox*> VisibleMessageBoxes();
// Clicks OK on box with the mouse and lets it close.
void ClickOk(QMessageBox* box);

} // namespace velk::test
