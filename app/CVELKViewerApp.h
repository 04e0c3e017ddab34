#pragma once
// The program's entry into the platform: one copy per user, the language, the main window for
// the whole run. User-interface thread only.

#include <QObject>
#include <QString>

#include <memory>

namespace velk {

class CVELKViewerDlg;
class SingleInstance;

class CVELKViewerApp : public QObject {
public:
    CVELKViewerApp();
    ~CVELKViewerApp() override;

    // Runs the program: returns the process exit code. path is a card folder or a recording.
    int Run(const QString& path);

private:
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<CVELKViewerDlg> m_main;
};

} // namespace velk
