#pragma once
// The state of one playback and the records its threads share. The fields are grouped by the
// thread that writes them; each group says who reads them and what orders the two. Functions
// are declared below, grouped by the file that owns them.
//
// Threads of one playback: the player thread (event loop, refresh, drawing, all posting), the
// read_thread (opening, demultiplexing, seeking), one "decoder" thread per open stream, and
// SDL's audio callback thread.

#include "Engine.h"
#include "WindowMessages.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <SDL.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <string>

namespace velk {

// --- Modes, each a type of its own.

// The clock the others follow. VideoState::syncMode names the one wanted; MasterKind gives the
// one in use, which falls back when the wanted clock's stream is not open.
enum class MasterClock {
    Audio,    // the sound's clock, stamped by the audio callback: pictures wait or drop behind it
    Video,    // the front camera's clock: the sound is stretched or squeezed to follow it
    External, // a free-running clock, sped up or slowed down by how full the queues are
};

// What the player thread shows, decided by the read_thread once the streams are open.
enum class PictureMode {
    Undecided,  // the streams are not open yet: the player thread neither refreshes nor draws
    Pictures,   // a front camera is open: its pictures are shown as they fall due
    NoPictures, // no front camera: with sound, the windows are redrawn at a steady pace
};

// When a picture that is late may be dropped (IsLateEnoughToDrop), before it is queued and at
// display.
enum class LateDropMode {
    Never,
    Always,
    UnlessVideoMaster, // pictures that are themselves the master clock are never late
};

// Which time of a decoded picture becomes its presentation time.
enum class PictureTimestamp {
    BestEffort, // the decoder's best guess (frame->best_effort_timestamp)
    DecodeTime, // the decode timestamp of the picture's packet (frame->pkt_dts)
};

// --- Fixed settings the engine reads; nothing writes them.
struct EngineSettings {
    static constexpr bool reportProgress = true; // progress messages and the container dump
    static constexpr PictureTimestamp timestampSource = PictureTimestamp::BestEffort;
    static constexpr LateDropMode lateDropMode = LateDropMode::UnlessVideoMaster;
    static constexpr PictureMode initialPictureMode = PictureMode::Undecided; // the streams decide
    static constexpr int scalerFlags = SWS_BICUBIC;
    static constexpr MasterClock syncMode = MasterClock::Audio;
    static constexpr int frontWidth = 720;
    static constexpr int frontHeight = 405;
    static constexpr int rearWidth = 360;
    static constexpr int rearHeight = 202;
};

// --- Engine state that outlives a playback (program run). Everything a single playback needs
// lives in its VideoState, which each playback starts afresh.
// How seeks address the file: -1 not decided yet, 1 by byte position, 0 by time. The read_thread
// of the first playback that opens a file decides it and later playbacks keep it; the player
// thread reads it when it turns a seek command into a request.
extern std::atomic<int> byteSeekMode;

inline constexpr int kMaxFrameQueueSize = 16;
inline constexpr int kPacketNodeOverhead = 80; // bytes counted per queued packet besides payload
inline constexpr int kBufferCeilingBytes = 15 * 1024 * 1024;
inline constexpr int kEnoughPackets = 25;
inline constexpr int kMinTextPacketBytes = 80;
inline constexpr double kNoSyncThreshold = 10.0;
inline constexpr double kSyncThresholdMin = 0.01;
inline constexpr double kSyncThresholdMax = 0.1;
inline constexpr int kAudioDiffAverageCount = 20;
inline constexpr int kSampleCorrectionPercent = 10;
inline constexpr double kExternalSpeedMin = 0.900;
inline constexpr double kExternalSpeedMax = 1.010;
inline constexpr double kExternalSpeedStep = 0.001;
inline constexpr int kExternalLowPackets = 2;
inline constexpr int kExternalHighPackets = 10;

// SDL user events of the command channel (SDL_USEREVENT + n).
enum PlayerCommand : Uint32 {
    CmdStop = SDL_USEREVENT + 2,
    CmdQuit = SDL_USEREVENT + 3,
    CmdSeekToFraction = SDL_USEREVENT + 4,
    CmdSetVolume = SDL_USEREVENT + 5,
    CmdSwapViews = SDL_USEREVENT + 6,
};

// The one packet that marks a flush in every packet queue. Recognised by its data pointer.
extern AVPacket FlushMarker;
void PrepareFlushMarker();
inline bool IsFlushMarker(const AVPacket* pkt) { return pkt->data == FlushMarker.data; }

// --- Packet queue: read_thread produces, one decoder thread consumes.
struct PacketNode {
    AVPacket packet; // owns the payload through its reference (the marker owns nothing)
    PacketNode* next;
    int serial;
};

struct EncodedPacketQueue {
    PacketNode* first = nullptr; // guarded by mutex
    PacketNode* last = nullptr;  // guarded by mutex
    // Counters are changed under the mutex and may be read without it (buffer tests, refresh).
    std::atomic<int> packetCount{0};
    std::atomic<int> byteSize{0};
    std::atomic<std::int64_t> totalDuration{0};
    std::atomic<int> abortRequested{1};
    std::atomic<int> serial{0}; // raised under the mutex; clocks and consumers read it freely
    SDL_mutex* mutex = nullptr;
    SDL_cond* condition = nullptr;

    int Init();
    void Start();
    int Put(AVPacket* pkt); // takes the packet's reference, also on failure
    int PutEndMarker(int streamIndex);
    int Get(AVPacket* pkt, bool block, int* serialOut); // 1 taken, 0 empty, -1 aborted
    void Flush();
    void Abort();
    void Destroy();

private:
    int AppendLocked(AVPacket* pkt);
};

struct QueuedFrame {
    AVFrame* frame = nullptr; // allocated once with the queue, emptied on release
    AVSubtitle textItem{};
    bool hasTextItem = false;
    int serial = 0;
    double pts = NAN;
    double duration = 0;
    std::int64_t bytePosition = -1;
    int width = 0;
    int height = 0;
    std::int64_t sequence = 0; // the producer numbers its pictures 1, 2, ... as it queues them
};

// --- Frame queue: one decoder thread produces, one consumer (player thread or audio thread).
// Only the producer touches writeIndex, only the consumer readIndex and shownHeld; count is
// changed under the mutex. Slot contents are handed over by the ordering of Push and Next.
// shownHeld is atomic because the player thread asks whether the audio thread's queue has
// anything left (the end check).
struct DecodedFrameQueue {
    QueuedFrame slots[kMaxFrameQueueSize];
    int readIndex = 0;
    int writeIndex = 0;
    std::atomic<int> count{0};
    int capacity = 0;
    int holdShown = 0;
    std::atomic<int> shownHeld{0};
    std::int64_t pushedCount = 0; // producer only
    SDL_mutex* mutex = nullptr;
    SDL_cond* condition = nullptr;
    EncodedPacketQueue* packetQueue = nullptr;

    int Init(EncodedPacketQueue* queue, int requestedCapacity, int keepLast);
    void Destroy();
    void Signal();
    QueuedFrame* AwaitFreeSlot();
    void Push();
    QueuedFrame* AwaitFilledSlot();
    QueuedFrame* CurrentSlot() { return &slots[(readIndex + shownHeld) % capacity]; }
    QueuedFrame* FollowingSlot() { return &slots[(readIndex + shownHeld + 1) % capacity]; }
    QueuedFrame* LastShownSlot() { return &slots[readIndex]; }
    void Next();
    int Remaining() const { return count.load() - shownHeld; }
    std::int64_t LastShownPosition() const;

private:
    static void ReleaseSlot(QueuedFrame* slot);
};

// --- Clock. Written by the audio thread and the player thread, read everywhere: every field
// is guarded by the clock's own lock so a reader never sees a half-written clock.
struct PlaybackClock {
    double clockTime = NAN;
    double clockDrift = NAN;
    double lastStamped = 0;
    double clockSpeed = 1.0;
    int clockSerial = -1;
    int clockPaused = 0;
    const std::atomic<int>* queueSerial = nullptr; // serial the clock must match to be valid
    mutable std::mutex lock;
};

struct AudioFormatSpec {
    int sampleRate = 0;
    int channels = 0;
    AVChannelLayout channelLayout{};
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    int frameSize = 0;
    int bytesPerSecond = 0;
};

// What a texture holds: which camera's picture, which of its pictures, at what size. A redraw
// uploads a texture only when this differs from what it must show, so a swap, zoom or layout
// change shows at once, also while paused, and a plain redraw scales nothing.
enum class Camera { Front, Rear };
struct TextureContent {
    Camera camera = Camera::Front;
    std::int64_t sequence = 0; // 0: holds no picture
    int width = 0;
    int height = 0;
    bool operator==(const TextureContent&) const = default;
};

// --- Decoder: owned by its decoder thread while it runs; created and freed by the read_thread
// (or ClosePlayback after the read_thread has ended).
struct StreamDecoder {
    AVPacket* currentPacket = nullptr; // packet last taken; the text thread reads its payload
    AVPacket* pendingPacket = nullptr; // packet the decoder refused for now (send again)
    EncodedPacketQueue* packets = nullptr;
    AVStream* stream = nullptr; // set before the thread starts; never changes while it runs
    AVCodecContext* codecContext = nullptr;
    int packetSerial = -1;
    int finishedSerial = 0;
    int packetPending = 0;
    SDL_cond* starvedSignal = nullptr;
    std::int64_t startTime = AV_NOPTS_VALUE;
    AVRational startTimeBase{0, 1};
    std::int64_t nextTime = AV_NOPTS_VALUE;
    AVRational nextTimeBase{0, 1};
    bool farBehind = false; // video decoders: skipping the loop filter to catch up
    bool lost = false;      // video decoders: decoding key pictures only to catch up
    // Video decoders: the next packet is the first of a position (DecodeLeadPicture), and the
    // time of the picture given ahead, whose copy from the decoder itself is dropped.
    bool leadWanted = false;
    std::int64_t leadTime = AV_NOPTS_VALUE;
    SDL_Thread* thread = nullptr;
};

// The four streams a playback may open, one role each.
enum class StreamRole { Audio, Front, Rear, Text };
inline constexpr StreamRole kStreamRoles[] = {StreamRole::Audio, StreamRole::Front,
                                              StreamRole::Rear, StreamRole::Text};
// The same roles, pictures first: the order of the flush on a seek (CarryOutSeek) and of the
// end-of-file markers.
inline constexpr StreamRole kPicturesFirst[] = {StreamRole::Front, StreamRole::Rear,
                                                StreamRole::Audio, StreamRole::Text};

// One role's fields of a VideoState, which keep their own names (audioStreamIndex, frontPackets,
// ...): VideoState::Stream gathers them, so that a step taken for every stream is written once.
struct PlaybackStream {
    std::atomic<int>& index; // -1 while the stream is not open
    AVStream*& stream;
    EncodedPacketQueue& packets;
    StreamDecoder& decoder;
    DecodedFrameQueue& frames;
    bool IsOpen() const { return index >= 0; }
};

struct VideoState {
    PlaybackStream Stream(StreamRole role);

    // --- Threads and input. read_thread writes container and the stream fields while opening,
    // before it starts any decoder; the player thread reads only what is published below.
    SDL_Thread* readThread = nullptr;
    const AVInputFormat* inputFormat = nullptr;
    AVFormatContext* container = nullptr; // read_thread; ClosePlayback after joining it
    std::string fileName;
    std::atomic<int> endOfFile{0};
    SDL_cond* readerWakeup = nullptr;

    // Published by the read_thread once the streams are open (release on containerReady), so
    // that the player thread never reads the container while the read_thread works with it.
    std::atomic<int> containerReady{0};
    std::int64_t durationUs = AV_NOPTS_VALUE;
    std::int64_t startTimeUs = AV_NOPTS_VALUE;
    std::int64_t bitRate = 0;
    std::int64_t fileSize = -1;

    // --- Requests and state flags. Written by the player thread unless noted.
    std::atomic<int> abortRequested{0};
    int forceRedraw = 0;                      // player thread only
    std::atomic<int> paused{0};               // read by the read_thread and the audio thread
    int lastPausedState = 0;                  // read_thread only
    std::atomic<int> containerPauseResult{0}; // read_thread
    int attachedPicturesPending = 0;          // read_thread only
    // A seek request: the player thread fills the fields, then sets seekRequested (release);
    // the read_thread reads them after seeing it (acquire) and clears it when done. A request
    // made while one is pending is dropped, so the fields never change under the reader.
    std::atomic<int> seekRequested{0};
    int seekFlags = 0;
    std::int64_t seekTarget = 0;
    std::int64_t seekRelative = 0;
    std::int64_t seekRequestedAt = 0; // player thread: relative time of the request, for figures
    std::atomic<int> seeksDone{0};    // read_thread: seeks carried out in this playback
    int stepping = 0;                 // player thread only
    // The read_thread asks the player thread to step one picture after a seek made while
    // paused; the player thread does it before its next refresh.
    std::atomic<int> stepRequested{0};
    std::atomic<PictureMode> pictureMode{PictureMode::Undecided}; // read_thread, once, opening

    // --- Clocks.
    PlaybackClock audioClock;
    PlaybackClock videoClock;
    PlaybackClock externalClock;
    MasterClock syncMode = EngineSettings::syncMode; // wanted; MasterKind gives the one in use
    double pictureTimer = 0;       // player thread
    double pictureGapLimit = 3600; // read_thread while opening

    // --- Streams, queues and decoders. Indices are written by the read_thread while opening
    // (and reset by CloseStreamDecoding); others read them to test whether a stream is open.
    // Stream(role) gives one role's index, stream, queues and decoder together.
    std::atomic<int> audioStreamIndex{-1};
    std::atomic<int> frontStreamIndex{-1};
    std::atomic<int> rearStreamIndex{-1};
    std::atomic<int> textStreamIndex{-1};
    AVStream* audioStream = nullptr;
    AVStream* frontStream = nullptr;
    AVStream* rearStream = nullptr;
    AVStream* textStream = nullptr;
    EncodedPacketQueue audioPackets, frontPackets, rearPackets, textPackets;
    StreamDecoder audioDecoder, frontDecoder, rearDecoder, textDecoder;
    DecodedFrameQueue audioFrames, frontPictures, rearPictures, textItems;

    // --- Pictures ready: each video decoder thread stores the serial whose pictures have filled
    // its queue; the audio callback reads them to hold the sound until the pictures of the
    // current position are there (FetchAudio).
    std::atomic<int> frontQueuedSerial{-1};
    std::atomic<int> rearQueuedSerial{-1};
    std::atomic<int> frontTakenSerial{-1}; // the player thread: serial of the last shown picture
    std::atomic<int> soundHeld{0}; // the audio thread: 1 while the sound waits for the pictures

    // --- Audio output: the audio callback thread only (set up by the read_thread before the
    // device runs, freed after it is closed).
    int soundHeldSerial = -1;        // audio serial the sound was last held for
    std::int64_t soundHeldSince = 0; // when that hold began
    // NaN until the first frame is handed to the device: the sound held for the first pictures
    // gives the clock no time, so nothing runs against a clock that is not moving yet.
    double audioEndTime = NAN;
    int audioEndSerial = -1;
    double driftSum = 0, driftWeight = 0, driftThreshold = 0;
    int driftSamples = 0;
    int deviceBufferBytes = 0;
    const std::uint8_t* audioBuffer = nullptr;
    std::uint8_t* resampleBuffer = nullptr;
    unsigned resampleBufferCapacity = 0;
    int audioBufferSize = 0;
    int audioBufferIndex = 0;
    int audioWriteRemainder = 0;
    std::int64_t callbackTime = 0;
    std::atomic<int> volume{0}; // player thread writes, audio thread reads
    std::atomic<int> muted{0};  // player thread writes, audio thread reads
    AudioFormatSpec audioSource;
    AudioFormatSpec audioTarget;
    SwrContext* resampler = nullptr;
    // The resampler stretches or squeezes each frame (speed factor, drift correction): the
    // setting lasts until it is changed, so it is cleared when no longer wanted.
    bool resamplerCompensating = false;

    // --- Video output: player thread only.
    SDL_Texture* frontTexture = nullptr; // the main picture, whichever camera it shows
    SDL_Texture* rearTexture = nullptr;  // the small picture
    bool presentationCreated = false;    // this playback's renderers were made (or tried)
    TextureContent frontTextureHolds;
    TextureContent rearTextureHolds;
    int drawnViewFlags = -1; // zoom, mirror, layout and swap at the last drawing; -1 none yet
    SwsContext* frontScaler = nullptr;
    SwsContext* rearScaler = nullptr;
    int rearWidth = 0;
    int rearHeight = 0;
    double lastVisualRefresh = 0;
    std::int64_t lastStatusTime = 0;     // last progress post, 0 before the first
    std::int64_t lastPostedSeconds = -1; // nothing posted yet, so second 0 is posted too
    // The pointer is hidden over the pictures after a second without mouse motion.
    std::int64_t cursorShownAt = 0;
    bool cursorHidden = false;
    std::int64_t pointerWatchedAt = 0; // last look at the pointer's position
    int pointerX = INT_MIN;            // INT_MIN: not looked at yet
    int pointerY = INT_MIN;

    // --- Telemetry walk (TelemetryTimeline.cpp). The text decoder thread raises
    // highestCollectedKey as it collects lines; the rest is the player thread's.
    std::atomic<int> highestCollectedKey{-1}; // a tenth above it may still be on its way
    int telemetryCursor = -1;                 // last tenth handled; before tenth 0 at the start
    int walkSeeks = -1;                       // seeksDone when the walk last ran; -1 not yet
    std::string currentTelemetryText;         // each delivery posts its own copy
};

inline PlaybackStream VideoState::Stream(StreamRole role) {
    switch (role) {
    case StreamRole::Audio:
        return {audioStreamIndex, audioStream, audioPackets, audioDecoder, audioFrames};
    case StreamRole::Front:
        return {frontStreamIndex, frontStream, frontPackets, frontDecoder, frontPictures};
    case StreamRole::Rear:
        return {rearStreamIndex, rearStream, rearPackets, rearDecoder, rearPictures};
    case StreamRole::Text:
        break;
    }
    return {textStreamIndex, textStream, textPackets, textDecoder, textItems};
}

// --- Player.cpp: player thread, event loop, commands, shared flags.
extern std::atomic<int> quitRequested; // player thread
extern std::atomic<int> endPosted;     // player thread
extern std::atomic<int> pausedMarker;  // player thread
extern std::atomic<WindowHandle> progressWindow;
VideoState* OpenPlayback(const std::string& fileName, const AVInputFormat* inputFormat);
void ClosePlayback(VideoState* state);
void QuitEngine(VideoState* state);
void RunEventLoop(VideoState* state);
void WaitForEvent(VideoState* state, SDL_Event* event);
void SwitchPauseState(VideoState* state);
void StepOneFrame(VideoState* state);
void StepVolume(VideoState* state, int sign);
void SwitchMute(VideoState* state);
void RequestSeek(VideoState* state, std::int64_t target, std::int64_t relative, bool byBytes);
void SeekRelative(VideoState* state, double seconds);
void SeekToFraction(VideoState* state, int perMille);
// The volume StepVolume gives for a volume and a direction (pure, for the player and tests).
int SteppedVolume(int volume, int sign);

// --- Figures (Player.cpp), counted as the playback runs.
void ResetPlaybackFigures();
void CountDroppedBeforeQueue();
void CountDroppedAtDisplay();
void CountShownPicture(VideoState* state, double frontPts, double rearPts, bool hasRear);
void CountTelemetryDelivered();
void CountDrawingCpu(double scaleSeconds, double uploadSeconds, double presentSeconds);
// CPU seconds this thread has used, for the figures.
double ThreadCpuSeconds();

// --- ReadThread.cpp: opening and demultiplexing.
int ReadThread(void* arg);
int OpenStreamDecoding(VideoState* state, int streamIndex);
// The settings every sound and picture decoder opens with, but for its thread count.
void ApplyDecoderSettings(AVCodecContext* context);
void CloseStreamDecoding(VideoState* state, int streamIndex);
bool IsBufferedEnough(AVStream* stream, int streamIndex, EncodedPacketQueue* queue);

// --- Decoder.cpp: decoder threads.
void InitDecoder(StreamDecoder* decoder, AVStream* stream, AVCodecContext* context,
                 EncodedPacketQueue* queue, SDL_cond* starvedSignal);
int StartDecoder(StreamDecoder* decoder, int (*threadFunction)(void*), const char* name, void* arg);
void StopDecoder(StreamDecoder* decoder, DecodedFrameQueue* frameQueue);
void FreeDecoder(StreamDecoder* decoder);
int DecodeFrame(StreamDecoder* decoder, AVFrame* frame, AVSubtitle* textItem);
// The audio timestamp of a frame in 1/sample-rate units: its own, else the decoder's
// prediction; advances the prediction past the frame.
void StampAudioFrame(StreamDecoder* decoder, AVFrame* frame);
int AudioDecodeThread(void* arg);
int FrontVideoDecodeThread(void* arg);
int RearVideoDecodeThread(void* arg);
int TextDecodeThread(void* arg);

// --- Clock.cpp: clocks, synchronisation and speed.
double NowSeconds();
void ResetClock(PlaybackClock* clock, const std::atomic<int>* queueSerial);
double ReadClock(const PlaybackClock* clock);
int ClockSerial(const PlaybackClock* clock);
double ClockTime(const PlaybackClock* clock);
double ClockSpeed(const PlaybackClock* clock);
void SetClockPaused(PlaybackClock* clock, int paused);
void StampClockAt(PlaybackClock* clock, double t, int serial, double now);
void StampClock(PlaybackClock* clock, double t, int serial);
void ChangeClockSpeed(PlaybackClock* clock, double speed);
void AlignClockWith(PlaybackClock* clock, const PlaybackClock* slave);
MasterClock MasterKind(const VideoState* state);
double ReadMasterClock(const VideoState* state);
double PictureDelay(double delay, const VideoState* state);
double PictureDuration(const VideoState* state, const QueuedFrame* picture,
                       const QueuedFrame* next);
// The late drop, one rule for both places a late picture is dropped: the decoder threads' early
// drop (a decoded picture against the master clock, before it is queued) and the player
// thread's drop at display (the next picture against the moment it falls due).
// Whether a picture lateness seconds late is late enough to drop: later than slack, where the
// mode allows drops with this master clock. A NaN lateness (not known) is never late enough.
bool IsLateEnoughToDrop(double lateness, double slack, MasterClock master,
                        LateDropMode mode = EngineSettings::lateDropMode);
// How far a decoded picture is behind the master clock, in seconds, where the two compare: NaN
// when either time is unknown, when they lie kNoSyncThreshold or more apart (no common
// timeline), or when the picture is of another serial than the video clock.
double LatenessBehindMaster(double pictureTime, double masterTime, int packetSerial,
                            int videoClockSerial);
// How late a picture may be and still be shown, for a picture of that duration: one picture at
// normal speed, where a picture shown a moment late beats a gap; none above it, where most
// pictures cannot be shown anyway.
double LateSlack(double pictureDuration);
void AdjustExternalClockSpeed(VideoState* state);
int WantedSampleCount(VideoState* state, int sampleCount);

// --- VideoOutput.cpp: refresh and presentation (player thread).
void RefreshVideo(VideoState* state, double* remaining);
void DisplayPictures(VideoState* state);
void CatchUpRearPicture(VideoState* state);
void CreatePresentation(VideoState* state);
void DrawPictures(VideoState* state);
// zoomView, mirrorView, fullScreenLayout and swapViews as one value, to notice a change.
int ViewFlags();
int UploadPicture(SDL_Texture** texture, AVFrame* frame, SwsContext** scaler, bool isSmall);
int EnsureTexture(SDL_Renderer* renderer, SDL_Texture** texture, Uint32 format, int width,
                  int height);
void ToggleWindowFullScreen();
// The SDL window of the main picture; none before the first drawing.
SDL_Window* PresentationWindow();
void DestroyRenderers();
void DestroyPresentationWindows();
// The GL library the renderers draw with, loaded on a thread of its own while the media layer
// starts (StartMediaLayer) and released when it stops (StopMediaLayer, after the last playback).
// AwaitPresentationLibrary returns once no load is under way; CreatePresentation waits for it
// before it touches a window.
void StartLoadingPresentationLibrary();
void AwaitPresentationLibrary();
void ReleasePresentationLibrary();
// Position in thousandths for a master clock time and a container duration (microseconds);
// -1 when no position can be given.
int PositionPerMille(double masterClock, std::int64_t durationUs);

// --- Pointer.cpp: the pointer's position on the screen (player thread); false when unknown.
bool PointerPosition(SDL_Window* window, int* x, int* y);

// --- AudioOutput.cpp: audio device, callback and resampling.
int OpenAudioOutput(VideoState* state, const AVChannelLayout* layout, int sampleRate,
                    AudioFormatSpec* target);
// Closes the device and frees what the audio callback kept for it (the conversion, the buffers).
void CloseAudioOutput(VideoState* state);
void AudioCallback(void* opaque, Uint8* stream, int length);
int FetchAudio(VideoState* state);
// Desired device buffer in samples for a sample rate.
int DesiredAudioBufferSamples(int sampleRate);

// --- TelemetryTimeline.cpp: telemetry by tenth of a second.
void AddTelemetryLine(VideoState* state, int key, const std::uint8_t* payload, int size);
void DeliverTelemetry(VideoState* state);
void ClearTelemetryTimeline();
bool TelemetryTimelineEmpty();

} // namespace velk
