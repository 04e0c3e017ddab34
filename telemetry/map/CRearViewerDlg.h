#pragma once
// The side panel: the rear camera's picture (Viewer mode) or a web map that follows the vehicle
// (Map mode), below two caption bars that switch between them.
//
// Everything here runs on the user-interface thread, except SelectViewerMode, which may be
// called from any thread and hands itself over. The web view and its processes are created only
// when Map mode is first on screen with a network connection: a viewer that starts offline or
// stays in Viewer mode never starts the web engine.

#include "PanelWidget.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>

class CGdipButton;
class QWebEngineProfile;
class QWebEngineView;

class CRearViewerDlg : public velk::PanelWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 360;
    static constexpr int kHeight = 288;
    // Positions reach the page at most this often.
    static constexpr std::uint32_t kMapMoveIntervalMs = 500;

    explicit CRearViewerDlg(QWidget* parent);
    ~CRearViewerDlg() override;

    // Folder the map pages are read from; by default html/ beside the executable. Set it before
    // Initialise.
    void setPageFolder(const QString& folder);

    // Called once by the owner, before or after the panel is shown: chooses the captions by
    // Globals().uiLanguage, publishes Globals().rearVideoHost (the X11 window of the video host)
    // and Globals().mapPanel (this panel's message handle), writes the web view's emulation
    // value, checks the connection once and lays the panel out in Map mode.
    void Initialise();

    // A recording was opened: with a rear picture the switch button is enabled and Viewer mode
    // shown, without one the button is disabled and Map mode shown. Starts a new route on the
    // map. Callable from any thread; off the user-interface thread it queues itself and returns
    // at once.
    void SelectViewerMode(bool hasRearPicture);

    // The main window swapped the two pictures: the top bar shows the other camera's caption.
    void ToggleCameraCaption();

    // Runs script in the displayed page; returns whether it was handed to a page. An empty
    // script, no page or a page whose process has ended runs nothing. The script's result and
    // errors are discarded.
    bool RunPageScript(const QString& script);

    // One telemetry line of the current moment (message 1047).
    virtual void OnTelemetryMessage(const std::string& text);

    // The page for a user-interface language, inside the page folder.
    static QString PageFileName(std::uint16_t uiLanguage);
    // Whether the computer has a network connection. VELK_NETWORK=online|offline decides when
    // set; otherwise the system's reachability where a backend answers, else online.
    static bool NetworkConnected();

    bool viewerMode() const { return m_viewerMode == 1; }
    bool mapLoaded() const { return m_mapLoaded == 1; }
    // The page's render process ended; the panel shows the no-network picture in Map mode.
    bool mapFailed() const { return m_mapFailed; }
    QUrl pageUrl() const { return m_pageUrl; }
    QWebEngineView* webView() const { return m_webView; }
    // The native window the view's window is set into; shown exactly when the map is.
    QWidget* mapHost() const { return m_mapHost; }
    QWidget* videoHost() const;
    CGdipButton* topBar() const { return m_topBar; }
    CGdipButton* mapBar() const { return m_mapBar; }

    // The millisecond tick the move interval is measured on (a monotonic clock by default).
    void setTickSource(std::function<std::uint32_t()> tick);

signals:
    // Enables or disables the main window's camera switch button.
    void switchButtonEnabled(bool enabled);
    // The web view was created and asked for the page.
    void mapViewCreated();
    // The page finished loading (false: it could not be loaded).
    void mapPageLoaded(bool ok);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class VideoPanel;

    void selectViewer();
    void selectMap();
    void loadCaptions();
    void writeEmulationValue();
    void scheduleMapView();
    void createMapView();
    void onRenderProcessEnded();
    bool mapViewUsable() const;

    CGdipButton* m_topBar = nullptr;    // 1018
    CGdipButton* m_mapBar = nullptr;    // 1020
    VideoPanel* m_videoPanel = nullptr; // holds 1022 at its (0,0)
    QWidget* m_mapHost = nullptr;       // native, holds the view's window
    QWidget* m_mapWindow = nullptr;     // the view's own top-level window
    QWebEngineProfile* m_profile = nullptr;
    QWebEngineView* m_webView = nullptr; // 1063, created on first need

    int m_viewerMode = 0; // 1 Viewer mode, 0 Map mode
    int m_mapLoaded = 0;  // 1 when a page is to be shown (a connection at Initialise)
    bool m_mapFailed = false;
    bool m_initialised = false;
    std::uintptr_t m_handle = 0; // this panel's message handle, published as mapPanel
    bool m_mapViewScheduled = false;
    bool m_routeResetPending = false;
    bool m_cameraSwitched = false; // an odd number of camera switches
    int m_topCaption = 0;
    int m_topCaptionSwitched = 0;
    int m_mapCaption = 0;
    QString m_pageFolder;
    QUrl m_pageUrl;
    std::function<std::uint32_t()> m_tick;
};
