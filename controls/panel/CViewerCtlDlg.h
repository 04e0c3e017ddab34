#pragma once
// The strip of transport controls under the front picture: seek bar with elapsed and total time,
// open / previous / rewind / play-pause / fast forward / next, speed and volume. It starts the
// player thread for each recording (its handle is the engine's progress receiver), sends the
// user's commands to the engine and handles the engine's progress messages. Previous/next and
// the end of a recording move through the visible list. User-interface thread only.

#include "AppGlobals.h"
#include "PanelWidget.h"

#include <array>
#include <cstdint>

class QLabel;

class CGdipButton;
class CMySliderControl;

namespace velk {

class CVELKViewerDlg;

class CViewerCtlDlg : public PanelWidget {
public:
    CViewerCtlDlg(CVELKViewerDlg& main, QWidget* parent);

    // Places the controls, loads their pictures and tooltips, disables the transport. Call once.
    void Initialise();

    void EnableTransport(bool enable);
    void TogglePlayPause();
    bool IsPaused() const { return m_panelPaused; }

    // Starts a player thread for Globals().currentFilePath and sets playing.
    void StartPlayerThread();
    // engineRunning says something only once a player thread was started: it starts at 1.
    bool everStarted() const { return m_everStarted; }
    // Stops what plays, waits for it, starts currentFilePath and selects its row.
    void PlayCurrentRecording();
    void PlayNextRecording();
    void PlayPreviousRecording();
    void OpenRecordingFile();
    // The open button's work after the dialog: path is the chosen recording.
    void OpenRecording(const QString& path);

    // The read_thread's duration report, handed over to this thread (never called there).
    void ShowTotalTime(std::int64_t durationMicroseconds);
    void ShowElapsedTime(std::int64_t seconds);
    void SetSpeedRange(int max);

    // The controls, for the main window and the tests.
    CMySliderControl* seekSlider() const { return m_seek; }
    CMySliderControl* speedSlider() const { return m_speed; }
    CMySliderControl* volumeSlider() const { return m_volume; }
    CGdipButton* button(int id) const;
    QString elapsedText() const;
    QString totalText() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    enum class Step { Next, Previous };
    void stepRecording(Step step);
    int WaitOutDoubleClick();
    void CatalogueOpenedFolder();
    void onSeekTrack(int position);
    void onSpeedTrack(int position);
    void onVolumeTrack(int position);

    CVELKViewerDlg& m_main;
    bool m_fromPlayButton = false;
    bool m_panelPaused = false;
    std::array<int, 3> m_shownTime{0, 0, 0};
    bool m_everStarted = false;
    bool m_waitRunning = false;
    bool m_waitInterrupted = false;

    QLabel* m_elapsed = nullptr;
    QLabel* m_total = nullptr;
    CMySliderControl* m_seek = nullptr;
    CMySliderControl* m_speed = nullptr;
    CMySliderControl* m_volume = nullptr;
    std::array<CGdipButton*, 6> m_buttons{}; // 1004..1009
};

} // namespace velk
