#pragma once
// The shared application state, one instance per process. Qt-free so that the engine can read
// it. Fields are written and read on the user-interface thread unless a comment says otherwise;
// the engine's player thread reads the fields it needs after the panel that starts a playback
// has written them (the thread start orders the two).

#include "PanelCalls.h"
#include "WindowMessages.h"

#include <array>
#include <cstdint>
#include <string>

namespace velk {

// Indices into AppGlobals::currentIndex and into the catalogue lists.
enum class RecordingCategory : int { Normal = 0, Event = 1, Manual = 2 };
inline constexpr int kRecordingCategoryCount = 3;

struct AppGlobals {
    // Row of the current recording in each category's list.
    std::array<std::int32_t, kRecordingCategoryCount> currentIndex{0, 0, 0};
    // Calendar seconds of the last accepted full-screen toggle or list double-click.
    std::int32_t lastActionTime = 0;
    // A recording is being played; the panels' keys act only while it is set.
    bool playing = false;
    // The lists hold the card's catalogue (false after a file was opened by hand).
    bool catalogueMode = false;

    // Native (X11) windows the engine draws the main and the small picture into.
    WindowHandle frontVideoHost = 0;
    WindowHandle rearVideoHost = 0;

    // Message receivers. The engine posts the end-of-file-open failure to mainWindow, the
    // telemetry to vehicleInfoPanel and mapPanel; the progress receiver is the owner handed
    // to RunPlayback.
    WindowHandle mainWindow = 0;
    WindowHandle vehicleInfoPanel = 0;
    WindowHandle mapPanel = 0;
    // ShowTotalTime (control panel) and SelectViewerMode (map panel); called on the read_thread.
    PanelCalls* panelCalls = nullptr;

    // Primary screen size, read at start-up.
    std::int32_t screenWidth = 1920;
    std::int32_t screenHeight = 1080;
    // 1042 Korean, 1041 Japanese, 2052 Chinese, 1033 English.
    std::uint16_t uiLanguage = 1033;

    std::string currentFileName; // shown in the main window's file label
    std::string currentFilePath; // full path the engine opens (UTF-8)
    std::string baseFolder;      // card root after a scan, or the folder of a file opened by hand

    // Index of the SDL render driver the engine asks for; -1 lets SDL choose. Set once at
    // start-up, before the first playback.
    std::int32_t renderDriverIndex = -1;

    // Milliseconds of the monotonic clock when a position was last sent to the map page.
    std::uint32_t lastMapMoveTick = 0;
};

AppGlobals& Globals();

} // namespace velk
