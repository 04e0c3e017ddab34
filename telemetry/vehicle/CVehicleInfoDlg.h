#pragma once
// The vehicle information panel below the front picture: the state of the vehicle at the moment
// being played (speed, engine revolutions, indicators, brake, lane, vehicle-ahead and pedestrian
// warnings) in its left 240 pixels and a scrolling graph of the three G-sensor values in the
// right 480. Everything lives on the user-interface thread; the engine only posts 1046.

#include "PanelWidget.h"
#include "TelemetryRecord.h"
#include "WindowMessages.h"

#include <QFont>
#include <QImage>
#include <QString>

#include <array>
#include <vector>

class QKeyEvent;

// The device label the main window shows for a reported version: "VELK-T(0x93) v1.2.03" for a
// code from 0x90 to 0x9F, "VELK-RS(0x55) v1.2.03" for 0x50 to 0x5F, empty for any other code.
QString DeviceLabelText(const QString& versionText, int deviceCode);

// The samples of one G-sensor axis. The write position is also the number of samples written
// since the ring last wrapped, and the graph shows only those: right after a wrap the series
// shows nothing and builds up again from its next sample.
struct GSensorSeries {
    static constexpr int kSlots = 1024;
    struct Slot {
        double value = 0.0;
        int row = 0; // pixel row in the 123-pixel graph
    };
    int axis = 0; // 0 = X, 1 = Y, 2 = Z
    std::array<Slot, kSlots> ring{};
    int writePosition = 0; // 0..1023, the slot the next sample goes into
};

class CVehicleInfoDlg : public velk::PanelWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 720;
    static constexpr int kHeight = 123;

    explicit CVehicleInfoDlg(QWidget* parent);

    // Decodes the panel's pictures once and shows the default background. Call once, before the
    // first message arrives; until then the panel shows only the panel colour.
    void Initialise();
    // Discards the G-sensor history: three empty series, X, Y and Z. Called when a new recording
    // is chosen, after the previous playback has stopped. Before the first call the panel has no
    // series and draws no graph.
    void ResetGraph();
    // The main window's full-screen flag: Enter and Escape act only while it is set.
    void SetFullScreenShown(bool shown);

    // Enter/Escape: full screen off, only in the full-screen layout; Space: play/pause and
    // Left/Right: 5 s steps, only while playing. Each of these keys is consumed even when it does
    // not act; any other key is left to the main window.
    bool PreTranslateKey(const QKeyEvent& event) override;

signals:
    // The firmware version of the first record accepted after each reset (an empty text and
    // code 0 when the line carries no version), for the main window's SetDeviceLabel.
    void deviceLabelReported(const QString& versionText, int deviceCode);
    void fullScreenToggleRequested();
    void playPauseRequested();
    void seekByRequested(int seconds);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // 1046: a message without a text is the reset at the start of a playback; otherwise the
    // message's own copy of the telemetry text of the current moment. The text is released here.
    virtual void OnTelemetryMessage(velk::WindowMessage& message);

private:
    // A lamp that stays lit for a number of records after its last report.
    struct Hold {
        int count = 0;
        int state = 0;
    };

    void drawRecord(const velk::TelemetryRecord& record);
    bool addSample(int axis, double value);
    void drawGraph();
    void drawStateArea(const velk::TelemetryRecord& record);
    void drawDefaultBackground();
    int laneState(int reported);
    int vehicleAheadState(int reported);
    const QImage& picture(int number) const;

    std::vector<GSensorSeries> m_series; // X, Y, Z once ResetGraph has run
    int m_recordCounter = 0;             // records drawn at a speed factor above 1
    Hold m_laneHold;
    Hold m_vehicleAheadHold;
    bool m_versionReportPending = false;
    bool m_fullScreenShown = false;

    // The panel's pictures by resource number, decoded once by Initialise: decoding the pictures
    // of a record anew costs several times what composing and showing the whole record does
    // (bench/vehicle). A missing one is a null image and is skipped when drawn.
    std::vector<QImage> m_pictures;
    // The off-screen composition, 720 x 123: the state area on the left, the graph on the
    // right. The paint handler puts it on the window as it is.
    QImage m_shown;
    QFont m_labelFont; // the graph's labels
};
