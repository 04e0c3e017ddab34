#pragma once
// The backup's progress window: a separate small window captioned "Backup" with the overall
// progress bar, the status text (current file and overall percentage) and "Done", which hides
// the window. User-interface thread only; the backup's worker reaches it through the
// BackupController.

#include <QWidget>

class CNoFlickerStatic;
class QProgressBar;
class QPushButton;

class CBackupProgress : public QWidget {
    Q_OBJECT

public:
    // Control ids of the window's template; the widgets' object names end in them.
    static constexpr int kProgressBarId = 1157;
    static constexpr int kDoneId = 1158;
    static constexpr int kTextId = 1159;

    // Created hidden; parent is the main window, which the window stays above.
    explicit CBackupProgress(QWidget* parent = nullptr);

    void SetText(const QString& text); // control 1159
    void EnableDone(bool enable);
    void SetRange(int maximum);
    void SetPosition(int position);

    QProgressBar* progressBar() const { return m_bar; }
    CNoFlickerStatic* statusText() const { return m_text; }
    QPushButton* doneButton() const { return m_done; }

private:
    QProgressBar* m_bar;
    CNoFlickerStatic* m_text;
    QPushButton* m_done;
};
