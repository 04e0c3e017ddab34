#pragma once
// The main window: a frameless 1080x645 window that owns every panel, draws its own title bar,
// switches the three recording lists with its tabs, toggles the full-screen layout and carries
// the commands that belong to no single panel. It holds the catalogue lists and the card state.
// Everything here runs on the user-interface thread.

#include "Catalogue.h"
#include "PanelCalls.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class CRearViewerDlg;
class CVehicleInfoDlg;
class QLabel;

namespace velk {

class BackupController;
class CardTracker;
class CFileList;
class CFrontViewerDlg;
class CViewerCtlDlg;
class MountWatcher;
class TabButton;

// What the command line asked for.
struct ViewerOptions {
    QString path; // a card folder or a recording; empty: look for the card
};

class CVELKViewerDlg : public QWidget {
public:
    explicit CVELKViewerDlg(ViewerOptions options);
    ~CVELKViewerDlg() override;

    // Creates and places the panels, starts the media layer, looks for the card. Returns false
    // when the program cannot go on (the media layer did not start; the message was shown).
    bool Initialise();

    // --- Operations of the other panels.
    void ToggleFullScreen();
    bool isFullScreen() const { return m_fullScreen; }
    void SetDeviceLabel(const QString& versionText, int deviceCode);
    QString deviceLabel() const { return m_deviceLabel; }
    QString appTitle() const { return m_appTitle; }
    // Shows the category's list, hides the other two (does nothing when it is already shown).
    void ShowCategory(RecordingCategory category);
    // The category whose list is shown.
    RecordingCategory shownCategory() const;
    void SetFileLabel(const QString& text);
    QString fileLabelText() const;
    // The four title buttons that need a recording: full screen, mirror, zoom, and (withSwitch)
    // switch camera.
    void EnableRecordingButtons(bool withSwitch);
    void EnableSwitchButton(bool on);

    CatalogueLists& catalogue() { return m_catalogue; }
    CFileList* list(RecordingCategory category) const;
    // Hands each catalogue list to its panel, Normal, Event, Manual.
    void FillListPanels();
    void ClearCatalogue();

    CViewerCtlDlg* controlPanel() const { return m_control; }
    CVehicleInfoDlg* vehiclePanel() const { return m_vehicle; }
    CRearViewerDlg* sidePanel() const { return m_side; }
    CFrontViewerDlg* frontPanel() const { return m_front; }
    BackupController* backup() const { return m_backup.get(); }

    // Stops the running playback and waits for its player thread, delivering events meanwhile.
    // Returns false when the wait must not go on to a new playback: another switch is already
    // waiting (a second double click, a key, a button), the card was removed or the window is
    // closing during the wait. Callers start nothing then.
    bool StopPlaybackForSwitch();
    bool isSwitching() const { return m_switching > 0; }
    // The window was closed: nothing new is started while the event loop ends.
    bool isClosing() const { return m_closing; }

    // Opens a recording file as the open button does, or a card folder as a found card.
    void OpenPath(const QString& path);
    // Starts a backup of names (the list's selection) into target; the list asked for the folder.
    void StartBackup(const QStringList& names, const QString& target);

    // The card folder or mount root with its trailing "/", empty when no card is present.
    QString cardRoot() const;

    // Catalogues the card at cardRoot and fills the panels (the catalogue leaves the lists and
    // panels as they were when the card holds no recording).
    void ScanCatalogue();

    // Clears the vehicle panel's graph before a newly chosen recording starts.
    void ResetGraph();

    bool PreTranslateKey(const QKeyEvent& event);

protected:
    // Keys go to the panels before any widget sees them; engine messages are logged.
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class QueuedPanelCalls;

    void createTitleBar();
    void createTabs();
    void layoutNormal();
    void onVersion();
    void onZoom();
    void onSwitchCamera();
    void onDeviceChange(std::uintptr_t eventCode, const QString& root);
    void onCardRemoved();
    void showWarning(const QString& text);
    void Teardown();

    ViewerOptions m_options;
    QString m_appTitle;
    QString m_deviceLabel;
    bool m_fullScreen = false;
    bool m_zoomed = false;
    std::array<bool, kRecordingCategoryCount> m_listShown{true, false, false};
    bool m_tornDown = false;
    bool m_closing = false; // closed: the event loop is ending, the teardown follows it
    int m_switching = 0; // nested StopPlaybackForSwitch waits
    bool m_switchCancelled = false;

    CFrontViewerDlg* m_front = nullptr;
    CRearViewerDlg* m_side = nullptr;
    CViewerCtlDlg* m_control = nullptr;
    CVehicleInfoDlg* m_vehicle = nullptr;
    std::unique_ptr<BackupController> m_backup;
    std::array<CFileList*, kRecordingCategoryCount> m_lists{};
    std::array<TabButton*, kRecordingCategoryCount> m_tabs{};
    QLabel* m_fileLabel = nullptr;
    QWidget* m_zoomButton = nullptr;
    QWidget* m_mirrorButton = nullptr;
    QWidget* m_switchButton = nullptr;
    QWidget* m_versionButton = nullptr;
    QWidget* m_minimizeButton = nullptr;
    QWidget* m_fullScreenButton = nullptr;
    QWidget* m_closeButton = nullptr;
    std::unique_ptr<QueuedPanelCalls> m_panelCalls;
    std::unique_ptr<CardTracker> m_card;
    QString m_folderCard; // a card folder given by hand, with its trailing "/"
    MountWatcher* m_mountWatcher = nullptr;

    CatalogueLists m_catalogue;

    // Dragging by the window's own surface where no window manager moves it.
    bool m_dragging = false;
    QPoint m_dragOffset;
};

} // namespace velk
