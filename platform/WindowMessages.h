#pragma once
// The message channel from the engine and the workers to the panels. Qt-free: the engine links
// this; the user interface installs a poster that turns each message into an event delivered on
// its own thread (platform/qt), tests install a RecordingPoster.

#include <cstdint>
#include <memory>
#include <string>

namespace velk {

// Opaque handle of a window that receives messages or hosts a video picture. 0 is "none".
// For receivers it is whatever the installed poster registered; for the video hosts it is the
// X11 window id of the native host widget.
using WindowHandle = std::uintptr_t;

inline constexpr std::uint32_t kUserMessageBase = 1024;

enum Message : std::uint32_t {
    MsgPosition = kUserMessageBase + 20,         // 1044: wParam = thousandths of the duration
    MsgElapsedSeconds = kUserMessageBase + 21,   // 1045: lParam = whole seconds played
    MsgVehicleTelemetry = kUserMessageBase + 22, // 1046: text, or lParam 0 = reset
    MsgMapTelemetry = kUserMessageBase + 23,     // 1047: the same moment's text as 1046
    MsgEndOfPlayback = kUserMessageBase + 24,    // 1048: once per playback
    MsgOpenFailed = kUserMessageBase + 25,       // 1049: wParam 1
    MsgDriveChange = kUserMessageBase + 26,      // 1050: wParam event code, text = mount root
    MsgSpeedRange = kUserMessageBase + 27,       // 1051: wParam 1 for a 1920-wide front picture
};

struct WindowMessage {
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    // A text travelling with the message (telemetry line, mount root). The receiver owns it:
    // each message carries its own copy, so nothing the sender does later can change or free
    // what the receiver reads. A message that is never delivered frees its text with itself.
    std::unique_ptr<std::string> text;
};

class MessagePoster {
public:
    virtual ~MessagePoster() = default;
    // Called from any thread; must not wait for the receiver.
    virtual void post(WindowHandle target, WindowMessage message) = 0;
};

// Installs the program's poster (or none). The poster must outlive every thread that posts.
void SetMessagePoster(MessagePoster* poster);
MessagePoster* CurrentMessagePoster();

// Posts to target through the installed poster; dropped when no poster or no target.
// Safe from any thread; never waits for the receiver.
void PostWindowMessage(WindowHandle target, WindowMessage message);
void PostWindowMessage(WindowHandle target, std::uint32_t id, std::uintptr_t wParam = 0,
                       std::intptr_t lParam = 0);

} // namespace velk
