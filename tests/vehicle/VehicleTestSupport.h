#pragma once
// Telemetry lines, MsgVehicleTelemetry messages sent the way the engine sends them, and reading
// the grabbed panel back as resource pictures and digits.

#include "CVehicleInfoDlg.h"

#include <QImage>

#include <initializer_list>
#include <string>

namespace velk::test {

// The fields of one telemetry line; G values are texts so that any scanned form can be given.
struct Fields {
    int speed = 0;
    int rpm = 0;
    int left = 0;
    int right = 0;
    int brake = 0;
    std::string gx = "0.00";
    std::string gy = "0.00";
    std::string gz = "0.00";
    int lane = 0;
    int ahead = 0;
    int pedestrian = 0;
    std::string version = "1.2.3";
    int code = 144;
    int unit = 0;
};
std::string Line(const Fields& fields);

// Posts a MsgVehicleTelemetry with its own copy of text (or the reset, lParam 0 without a text)
// through the installed poster and delivers it.
void SendLine(CVehicleInfoDlg& panel, const std::string& text);
void SendReset(CVehicleInfoDlg& panel);

// The panel as the screen has it, 720 x 123.
QImage Grab(CVehicleInfoDlg& panel);

// The first of the candidate resource pictures shown at (x, y) at its own size, or -1.
int PictureAt(const QImage& shown, std::initializer_list<int> candidates, int x, int y);
// The number the digit pictures first, first+1, ... first+9 spell at the x positions, or -1
// when a place shows none of them.
int NumberAt(const QImage& shown, int first, std::initializer_list<int> xs, int y);
int SpeedShown(const QImage& shown);
int RpmShown(const QImage& shown);
// The region of the picture at `area` equals resource `number` drawn there.
bool ShowsExactly(const QImage& shown, int number, int x, int y);

} // namespace velk::test
