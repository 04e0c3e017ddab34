#pragma once
// The playback engine's public face: what panels and hosts call. Everything here is callable
// from any thread unless a comment says otherwise. The engine answers only through the message
// channel of platform/WindowMessages.h and the PanelCalls in AppGlobals.

#include "WindowMessages.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace velk {

// --- Shared flags: written by one side, read by the other at their point of use. They live for
// the program run; a new playback resets none of them.
extern std::atomic<int> engineRunning;    // player thread: 1 while a playback's thread runs
extern std::atomic<int> speedFactor;      // control panel: integer playback speed, 1..4
extern std::atomic<int> startVolume;      // control panel: volume 0..128 of the next command
extern std::atomic<int> seekPerMille;     // control panel: target of the fraction seek
extern std::atomic<int> zoomView;         // main picture zoomed
extern std::atomic<int> mirrorView;       // main picture mirrored
extern std::atomic<int> fullScreenLayout; // main picture fills the screen; no rear, no telemetry
extern std::atomic<int> swapViews;        // engine: rear stream is the main picture

// --- Media layer. StartMediaLayer initialises SDL's timer, audio and video once, on the
// user-interface thread at start-up, and begins loading the graphics library in the background;
// FindRenderDriver gives the index of a render driver by name (-1 when absent). AwaitMediaLayer
// returns once that background load is done (a playback started earlier waits for it itself).
int StartMediaLayer();
void AwaitMediaLayer();
int FindRenderDriver(const char* name);
// Shuts the media layer down at program end, after the last playback has ended.
void StopMediaLayer();

// --- Player thread. RunPlayback is the thread's entry: it plays Globals().currentFilePath until
// stopped and returns 0. StartPlayerThread starts it on a new thread with owner as the receiver
// of the progress messages; it marks engineRunning 1 before the thread exists, so a panel that
// stops the new playback at once never sees the previous playback's 0.
int RunPlayback(WindowHandle owner);
bool StartPlayerThread(WindowHandle owner);

// --- Command functions.
void RequestStop();
void RequestQuit();
void RequestTogglePause();
void RequestSeekBy(int seconds);          // 10 Up, -10 Down, -5 Left, anything else Right (+5)
void RequestSeekToFraction(int perMille); // thousandths of the duration
void RequestVolume(int level);            // 0..128
void RequestSwapViews();
void SetSpeedFactor(int factor);
int GetSpeedFactor();
void ToggleZoom();
void ToggleMirror();
void ToggleFullScreenLayout();

// --- Figures of the current or last playback, counted by the engine as it plays; for the test
// host and the benchmarks. Reset when a playback starts.
struct PlaybackFigures {
    std::int64_t picturesShown = 0;      // front pictures taken for display
    std::int64_t droppedBeforeQueue = 0; // late pictures dropped by the video decoders
    std::int64_t droppedAtDisplay = 0;   // late pictures dropped by the refresh
    std::int64_t rearPicturesShown = 0;
    double firstPictureSeconds = -1;          // RunPlayback to the first shown picture; -1 none
    std::vector<double> videoMinusAudio;      // seconds, at each shown picture with both clocks
    std::vector<double> frontMinusRear;       // seconds, front minus rear picture time when shown
    std::vector<double> seekToPictureSeconds; // seek request to the first picture after it
    std::int64_t telemetryDelivered = 0;      // 1046/1047 pairs posted
    // The share of videoMinusAudio taken in the first second after the first picture, and in
    // the first second after the first picture of each seek.
    std::vector<double> videoMinusAudioFirstSecond;
    std::vector<double> videoMinusAudioAfterSeek;
    std::vector<double> shownAtSeconds; // RunPlayback to each shown front picture
    // Player-thread CPU seconds spent scaling and converting pictures, uploading them into
    // textures, and clearing, copying and presenting (the rest of each drawing).
    double scaleCpuSeconds = 0;
    double uploadCpuSeconds = 0;
    double presentCpuSeconds = 0;
    std::int64_t drawings = 0; // DisplayPictures calls that drew
};
PlaybackFigures CurrentPlaybackFigures();

} // namespace velk
