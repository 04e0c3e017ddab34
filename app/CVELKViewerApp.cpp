#include "CVELKViewerApp.h"

#include "CVELKViewerDlg.h"
#include "Engine.h"
#include "EventLog.h"
#include "QtMessagePoster.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace velk {

namespace {
const char kRunningMessage[] = "ORLIK Viewer is alraedy running!!";
const char kRunningTitle[] = "VELKViewer";
} // namespace

CVELKViewerApp::CVELKViewerApp() = default;

CVELKViewerApp::~CVELKViewerApp() = default;

int CVELKViewerApp::Run(const QString& path) {
    m_instance = std::make_unique<SingleInstance>();
    if (!m_instance->acquire()) {
        // A path goes to the copy that runs, which opens it; only a plain start is told off.
        if (!path.isEmpty() && m_instance->sendPath(QFileInfo(path).absoluteFilePath())) {
            LogEvent(QStringLiteral("handed ") + path);
            return 0;
        }
        if (ActivateWindowTitled(QLatin1String(kRunningTitle))) return 0;
        LogEvent(QStringLiteral("message ") + QLatin1String(kRunningMessage));
        QMessageBox::warning(nullptr, QApplication::applicationName(),
                             QLatin1String(kRunningMessage));
        return 0;
    }

    QtMessagePoster poster;
    SetMessagePoster(&poster);
    int code = 0;
    {
        m_main = std::make_unique<CVELKViewerDlg>(ViewerOptions{path});
        if (!m_main->Initialise()) {
            // The media layer did not start: end at once, without the teardown.
            FlushEventLog();
            std::_Exit(1);
        }
        m_main->show();
        m_instance->listen([this](const QString& handed) {
            LogEvent(QStringLiteral("handoff ") + handed);
            m_main->OpenPath(handed);
            m_main->showNormal();
            m_main->raise();
            m_main->activateWindow();
        });
        QCoreApplication::processEvents();
        LogEvent(QStringLiteral("ready"));
        code = QApplication::exec();
        m_main.reset();
    }
    SetMessagePoster(nullptr);
    StopMediaLayer();
    return code;
}

} // namespace velk
