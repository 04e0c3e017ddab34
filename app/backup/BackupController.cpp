#include "BackupController.h"

#include "AppGlobals.h"
#include "CBackupProgress.h"
#include "EventLog.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <system_error>

namespace velk {

// Runs on the worker thread: each report becomes a queued call on the controller, so the
// worker never touches a widget and never waits. Calls still queued when the controller is
// destroyed are dropped with it.
class BackupController::Receiver : public BackupReceiver {
public:
    explicit Receiver(BackupController* controller) : m_controller(controller) {}
    void OnStep(const BackupStep& step) override {
        BackupController* controller = m_controller;
        QMetaObject::invokeMethod(
            controller, [controller, step] { controller->ApplyStep(step); }, Qt::QueuedConnection);
    }
    void OnFinished(bool ok, const QString& failedName, const QString& reason) override {
        BackupController* controller = m_controller;
        QMetaObject::invokeMethod(
            controller,
            [controller, ok, failedName, reason] { controller->Finish(ok, failedName, reason); },
            Qt::QueuedConnection);
    }

private:
    BackupController* m_controller;
};

BackupController::BackupController(QWidget* mainWindow)
    : m_owner(mainWindow), m_window(new CBackupProgress(mainWindow)) {
    m_window->hide();
}

BackupController::~BackupController() {
    if (m_worker.joinable()) {
        m_stop.store(true);
        m_worker.join();
    }
    // A window without a parent is not deleted by anyone else.
    if (m_window && !m_window->parent()) delete m_window.data();
}

QString BackupController::FailureText() { return QStringLiteral("Backup Fail!!!!"); }

QString BackupController::RefusalText() {
    return QStringLiteral("A backup is still running. Start the next one when it is done.");
}

bool BackupController::StartBackup(const QStringList& names, const QString& sourceBase,
                                   const QString& target) {
    if (m_running) {
        Warn(RefusalText());
        return false;
    }
    if (names.isEmpty() || target.isEmpty() || !m_window) return false;

    m_backupNames = names;
    m_backupSourceBase = sourceBase;
    m_backupTarget = target;
    m_backupDonePercent = 0;
    m_loggedPercent = -1;

    // The text keeps the previous backup's last words until the first step arrives.
    m_window->EnableDone(false);
    m_window->SetRange(BarMaximum(int(names.size())));
    m_window->SetPosition(0);
    if (!m_window->isVisible()) {
        PlaceOverOwner();
        m_window->show();
    }
    m_window->raise();

    m_job =
        std::make_unique<BackupJob>(BackupJob{names, sourceBase, target, Globals().catalogueMode});
    m_receiver = std::make_unique<Receiver>(this);
    m_stop.store(false);
    m_running = true;
    try {
        m_worker = std::thread([job = m_job.get(), receiver = m_receiver.get(), stop = &m_stop] {
            BackupThread(*job, *receiver, stop);
        });
    } catch (const std::system_error& error) {
        // No thread to be had: nothing was copied, and the next request must not be refused.
        Finish(false, names.first(), QString::fromLocal8Bit(error.what()));
        return false;
    }
    return true;
}

// Centred over the main window, kept whole on its screen.
void BackupController::PlaceOverOwner() {
    const QWidget* over = m_owner ? m_owner->window() : nullptr;
    if (!over || !over->isVisible()) return;
    QRect place = m_window->frameGeometry();
    place.moveCenter(over->frameGeometry().center());
    if (const QScreen* screen = over->screen()) {
        const QRect area = screen->availableGeometry();
        place.moveLeft(std::clamp(place.left(), area.left(), area.right() + 1 - place.width()));
        place.moveTop(std::clamp(place.top(), area.top(), area.bottom() + 1 - place.height()));
    }
    m_window->move(place.topLeft());
}

void BackupController::ApplyStep(const BackupStep& step) {
    m_backupCurrentName = step.currentName;
    m_backupDonePercent = step.donePercent;
    if (!m_window) return;
    m_window->SetPosition(BarPosition(step.total, step.fileCount));
    m_window->SetText(ProgressText(step.currentName, step.total, step.fileCount));
    const int percent = step.fileCount > 0 ? int(step.total / step.fileCount) : 0;
    if (percent != m_loggedPercent) {
        m_loggedPercent = percent;
        LogEvent(QStringLiteral("backup %1").arg(percent));
    }
    emit progressChanged(percent);
}

void BackupController::Finish(bool ok, const QString& failedName, const QString& reason) {
    m_running = false;
    if (m_worker.joinable()) m_worker.join();
    if (m_window) m_window->EnableDone(true);
    if (ok) {
        LogEvent(QStringLiteral("backup done"));
    } else {
        LogEvent(QStringLiteral("backup failed %1").arg(failedName));
        Warn(FailureText());
    }
    emit backupFinished(ok, failedName, reason);
}

// Application-modal but not blocking: the caller goes on, and the box closes itself when the
// user answers it.
void BackupController::Warn(const QString& text) {
    QWidget* parent = m_owner ? m_owner.data() : m_window.data();
    auto* box = new QMessageBox(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
                                text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

} // namespace velk
