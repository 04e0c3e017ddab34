// The read_thread: opens the recording, chooses the front, rear, audio and telemetry streams,
// starts their decoders, then keeps the packet queues filled and carries out seeks.

#include "VideoState.h"

#include "AppGlobals.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <span>

namespace velk {

namespace {

int InterruptCallback(void* opaque) {
    return static_cast<VideoState*>(opaque)->abortRequested.load();
}

void PushQuit(VideoState* state) {
    SDL_Event event{};
    event.type = CmdQuit;
    event.user.data1 = state;
    SDL_PushEvent(&event);
}

void WaitForWakeup(VideoState* state, SDL_mutex* waitMutex) {
    SDL_LockMutex(waitMutex);
    SDL_CondWaitTimeout(state->readerWakeup, waitMutex, 10);
    SDL_UnlockMutex(waitMutex);
}

void FlushAndMark(EncodedPacketQueue* queue) {
    queue->Flush();
    queue->Put(&FlushMarker);
}

// Threads per decoder: VELK_DECODER_THREADS when set (0 is the library's own choice), otherwise
// the cores shared out between the cameras. The library's choice gives each decoder one thread
// per core and one more, so two cameras on two cores ran six frame threads: each picture came
// two or three pictures later, at 4x fewer pictures were shown than with one thread each, and
// every frame thread kept a decoder state of its own.
int DecoderThreadCount(const AVFormatContext* container) {
    static const int chosen = [] {
        const char* value = SDL_getenv("VELK_DECODER_THREADS");
        return value ? SDL_atoi(value) : -1;
    }();
    if (chosen >= 0) return chosen;
    int cameras = 0;
    for (unsigned i = 0; i < container->nb_streams && cameras < 2; ++i)
        if (container->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) ++cameras;
    return std::max(1, SDL_GetCPUCount() / std::max(1, cameras));
}

// How a step of the read_thread ends: the next step follows, or the read_thread ends, either
// quietly (what is queued still plays; the playback stays open until it is stopped) or with a
// quit request to the player thread (the playback cannot go on).
enum class ReadOutcome { Continue, End, Quit };

// What the read_thread owns while it runs, released however it ends. The container is its own
// only until OpenContainer hands it to the state; ClosePlayback closes it from then on.
struct ReaderResources {
    SDL_mutex* waitMutex = nullptr;
    AVPacket* packet = nullptr;
    AVFormatContext* container = nullptr;

    ReaderResources() = default;
    ReaderResources(const ReaderResources&) = delete;
    ReaderResources& operator=(const ReaderResources&) = delete;
    ~ReaderResources() {
        if (container) avformat_close_input(&container);
        av_packet_free(&packet);
        if (waitMutex) SDL_DestroyMutex(waitMutex);
    }
};

// The streams a playback plays: the best audio and text streams and the first two video
// streams, front and rear; -1 where there is none.
struct ChosenStreams {
    int audio = -1;
    int text = -1;
    int front = -1;
    int rear = -1;
};

// The kind of stream each role holds.
AVMediaType KindOf(StreamRole role) {
    switch (role) {
    case StreamRole::Audio:
        return AVMEDIA_TYPE_AUDIO;
    case StreamRole::Front:
    case StreamRole::Rear:
        return AVMEDIA_TYPE_VIDEO;
    case StreamRole::Text:
        break;
    }
    return AVMEDIA_TYPE_SUBTITLE;
}

// The decoder thread of each role.
using ThreadFunction = int (*)(void*);
ThreadFunction DecoderThreadOf(StreamRole role) {
    switch (role) {
    case StreamRole::Audio:
        return AudioDecodeThread;
    case StreamRole::Front:
        return FrontVideoDecodeThread;
    case StreamRole::Rear:
        return RearVideoDecodeThread;
    case StreamRole::Text:
        break;
    }
    return TextDecodeThread;
}

void CarryOutSeek(VideoState* state, AVFormatContext* container) {
    const std::int64_t target = state->seekTarget;
    const std::int64_t relative = state->seekRelative;
    const int flags = state->seekFlags;
    const std::int64_t minimum = relative > 0 ? target - relative + 2 : INT64_MIN;
    const std::int64_t maximum = relative < 0 ? target - relative - 2 : INT64_MAX;
    // Cleared before the queues are flushed: the player reads "end of file and nothing left"
    // as the end of the recording, and the emptied queues of a file read to its end would
    // look exactly like that until the reader came round again.
    state->endOfFile = 0;
    int ret = avformat_seek_file(container, -1, minimum, target, maximum, flags);
    if (ret < 0) {
        av_log(nullptr, AV_LOG_ERROR, "%s: error while seeking\n", container->url);
    } else {
        // Pictures first: the sound, which waits for the pictures of the new serial, must not
        // see its own new serial next to the pictures' old one.
        for (StreamRole role : kPicturesFirst)
            if (PlaybackStream s = state->Stream(role); s.IsOpen()) FlushAndMark(&s.packets);
        if (flags & AVSEEK_FLAG_BYTE)
            StampClock(&state->externalClock, NAN, 0);
        else
            StampClock(&state->externalClock, target / 1000000.0, 0);
        state->seeksDone.fetch_add(1);
    }
    state->attachedPicturesPending = 1;
    if (state->paused) state->stepRequested = 1; // the player shows one picture of the target
    state->seekRequested.store(0, std::memory_order_release);
}

// Queues the cover picture of an attached-picture video stream; <0 on failure.
int QueueAttachedPicture(AVStream* stream, EncodedPacketQueue* queue, int index) {
    if (!stream || !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) return 0;
    AVPacket* copy = av_packet_alloc();
    if (!copy) return AVERROR(ENOMEM);
    int ret = av_packet_ref(copy, &stream->attached_pic);
    if (ret >= 0) {
        queue->Put(copy);
        queue->PutEndMarker(index);
    }
    av_packet_free(&copy);
    return ret;
}

// The cover pictures of both cameras, after the opening and after each seek; <0 on failure.
int QueueAttachedPictures(VideoState* state) {
    for (StreamRole role : {StreamRole::Front, StreamRole::Rear}) {
        PlaybackStream s = state->Stream(role);
        if (!s.IsOpen()) continue;
        if (int ret = QueueAttachedPicture(s.stream, &s.packets, s.index); ret < 0) return ret;
    }
    return 0;
}

// Whether reading waits: the queues hold enough, or more bytes than the ceiling. The rear
// queue's bytes do not count toward the ceiling: only the front, audio and text data decide
// when reading pauses.
bool IsReadingAhead(VideoState* state) {
    int bytes = 0;
    for (StreamRole role : kStreamRoles)
        if (role != StreamRole::Rear) bytes += state->Stream(role).packets.byteSize;
    if (bytes > kBufferCeilingBytes) return true;
    for (StreamRole role : kStreamRoles) {
        PlaybackStream s = state->Stream(role);
        if (!IsBufferedEnough(s.stream, s.index, &s.packets)) return false;
    }
    return true;
}

// The file is read to its end: every open stream's queue gets its end marker.
void MarkEndOfFile(VideoState* state) {
    for (StreamRole role : kPicturesFirst)
        if (PlaybackStream s = state->Stream(role); s.IsOpen()) s.packets.PutEndMarker(s.index);
    state->endOfFile = 1;
}

// Hands a packet read to the queue of its stream, or drops it: packets of streams not played,
// the front camera's when its cover picture stands for it (QueueAttachedPicture), and text
// packets too short to hold a line.
void QueuePacket(VideoState* state, AVPacket* pkt) {
    for (StreamRole role : kStreamRoles) {
        PlaybackStream s = state->Stream(role);
        if (pkt->stream_index != s.index) continue;
        const bool wanted =
            role == StreamRole::Front  ? !(s.stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            : role == StreamRole::Text ? pkt->size >= kMinTextPacketBytes
                                       : true;
        if (wanted) {
            s.packets.Put(pkt);
            return;
        }
        break;
    }
    av_packet_unref(pkt);
}

// The player pauses and resumes the container too (network streams).
void FollowPauseState(VideoState* state, AVFormatContext* container) {
    if (state->paused == state->lastPausedState) return;
    state->lastPausedState = state->paused;
    if (state->paused)
        state->containerPauseResult = av_read_pause(container);
    else
        av_read_play(container);
}

// --- The steps of the read_thread, in their order.

ReadOutcome PrepareReader(VideoState* state, ReaderResources& reader) {
    reader.waitMutex = SDL_CreateMutex();
    if (!reader.waitMutex) {
        av_log(nullptr, AV_LOG_FATAL, "SDL_CreateMutex(): %s\n", SDL_GetError());
        return ReadOutcome::Quit;
    }
    state->endOfFile = 0;
    reader.packet = av_packet_alloc();
    reader.container = avformat_alloc_context();
    if (!reader.packet || !reader.container) {
        av_log(nullptr, AV_LOG_FATAL, "Could not allocate context.\n");
        return ReadOutcome::Quit;
    }
    reader.container->interrupt_callback.callback = InterruptCallback;
    reader.container->interrupt_callback.opaque = state;
    return ReadOutcome::Continue;
}

// Opens the file and finds what its streams hold; the container is the state's afterwards.
ReadOutcome OpenContainer(VideoState* state, ReaderResources& reader) {
    if (avformat_open_input(&reader.container, state->fileName.c_str(), state->inputFormat,
                            nullptr) < 0) {
        // avformat_open_input freed the context on failure.
        reader.container = nullptr;
        PostWindowMessage(Globals().mainWindow, MsgOpenFailed, 1, 0);
        return ReadOutcome::End;
    }
    AVFormatContext* container = reader.container;
    state->container = container;
    reader.container = nullptr;
    av_format_inject_global_side_data(container);

    if (avformat_find_stream_info(container, nullptr) < 0) {
        av_log(nullptr, AV_LOG_WARNING, "%s: could not find codec parameters\n",
               state->fileName.c_str());
        return ReadOutcome::Quit;
    }
    if (container->pb) container->pb->eof_reached = 0;

    const bool discontinuous = container->iformat->flags & AVFMT_TS_DISCONT;
    if (byteSeekMode < 0)
        byteSeekMode = discontinuous && std::strcmp("ogg", container->iformat->name) != 0;
    state->pictureGapLimit = discontinuous ? 10.0 : 3600.0;
    if (EngineSettings::reportProgress) av_dump_format(container, 0, state->fileName.c_str(), 0);
    return ReadOutcome::Continue;
}

ChosenStreams ChooseStreams(AVFormatContext* container) {
    for (unsigned i = 0; i < container->nb_streams; ++i)
        container->streams[i]->discard = AVDISCARD_ALL;
    ChosenStreams chosen;
    chosen.audio = av_find_best_stream(container, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    chosen.text = av_find_best_stream(container, AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
    for (unsigned i = 0; i < container->nb_streams && chosen.rear < 0; ++i) {
        if (container->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        (chosen.front < 0 ? chosen.front : chosen.rear) = static_cast<int>(i);
    }
    return chosen;
}

// What the player thread may read about the container from now on.
void PublishContainer(VideoState* state, const AVFormatContext* container) {
    state->durationUs = container->duration;
    state->startTimeUs = container->start_time;
    state->bitRate = container->bit_rate;
    state->fileSize = container->pb ? avio_size(container->pb) : -1;
    state->containerReady.store(1, std::memory_order_release);
}

// Chooses the streams, starts their decoders (the sound first) and decides the picture mode.
ReadOutcome OpenStreams(VideoState* state) {
    AVFormatContext* container = state->container;
    const ChosenStreams chosen = ChooseStreams(container);
    const int frontWidth =
        chosen.front >= 0 ? container->streams[chosen.front]->codecpar->width : 0;
    PostWindowMessage(progressWindow.load(), MsgSpeedRange, frontWidth == 1920 ? 1 : 0, 0);
    PublishContainer(state, container);

    state->pictureMode = EngineSettings::initialPictureMode;
    if (chosen.audio >= 0) OpenStreamDecoding(state, chosen.audio);
    int frontResult = -1;
    if (chosen.front >= 0) {
        frontResult = OpenStreamDecoding(state, chosen.front);
        if (chosen.rear >= 0) OpenStreamDecoding(state, chosen.rear);
    }
    if (state->pictureMode == PictureMode::Undecided)
        state->pictureMode = frontResult >= 0 ? PictureMode::Pictures : PictureMode::NoPictures;
    if (chosen.text >= 0) OpenStreamDecoding(state, chosen.text);

    if (state->frontStreamIndex < 0 && state->audioStreamIndex < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Failed to open file '%s' or configure filtergraph\n",
               state->fileName.c_str());
        return ReadOutcome::Quit;
    }
    if (AppGlobals& globals = Globals(); globals.panelCalls) {
        globals.panelCalls->ShowTotalTime(container->duration);
        globals.panelCalls->SelectViewerMode(state->rearStreamIndex >= 0);
    }
    return ReadOutcome::Continue;
}

// Keeps the packet queues filled and carries out the player's requests until the playback is
// stopped or the input fails.
ReadOutcome ReadPackets(VideoState* state, ReaderResources& reader) {
    AVFormatContext* container = state->container;
    AVPacket* pkt = reader.packet;
    while (!state->abortRequested) {
        FollowPauseState(state, container);
        if (state->seekRequested.load(std::memory_order_acquire)) CarryOutSeek(state, container);
        if (state->attachedPicturesPending) {
            if (QueueAttachedPictures(state) < 0) return ReadOutcome::Quit;
            state->attachedPicturesPending = 0;
        }
        if (IsReadingAhead(state)) {
            WaitForWakeup(state, reader.waitMutex);
            continue;
        }

        const int readResult = av_read_frame(container, pkt);
        if (readResult < 0) {
            if ((readResult == AVERROR_EOF || avio_feof(container->pb)) && !state->endOfFile)
                MarkEndOfFile(state);
            // What is queued still plays; the playback stays open until stopped.
            if (container->pb && container->pb->error) return ReadOutcome::End;
            WaitForWakeup(state, reader.waitMutex);
            continue;
        }
        state->endOfFile = 0;
        QueuePacket(state, pkt);
    }
    return ReadOutcome::End;
}

ReadOutcome ReadRecording(VideoState* state) {
    ReaderResources reader;
    ReadOutcome outcome = PrepareReader(state, reader);
    if (outcome == ReadOutcome::Continue) outcome = OpenContainer(state, reader);
    if (outcome == ReadOutcome::Continue) outcome = OpenStreams(state);
    if (outcome == ReadOutcome::Continue) outcome = ReadPackets(state, reader);
    return outcome;
}

// Sets up the sound device for the decoder's format and the audio callback's state for it;
// <0 on failure.
int SetUpAudioOutput(VideoState* state, AVCodecContext* context) {
    AVChannelLayout layout{};
    int ret = av_channel_layout_copy(&layout, &context->ch_layout);
    if (ret < 0) return ret;
    ret = OpenAudioOutput(state, &layout, context->sample_rate, &state->audioTarget);
    av_channel_layout_uninit(&layout);
    if (ret < 0) return ret;
    state->deviceBufferBytes = ret;
    av_channel_layout_uninit(&state->audioSource.channelLayout);
    state->audioSource = state->audioTarget;
    state->audioSource.channelLayout = {};
    av_channel_layout_copy(&state->audioSource.channelLayout, &state->audioTarget.channelLayout);
    state->audioBufferSize = 0;
    state->audioBufferIndex = 0;
    state->driftWeight = std::exp(std::log(0.01) / kAudioDiffAverageCount);
    state->driftSamples = 0;
    state->driftThreshold =
        static_cast<double>(state->deviceBufferBytes) / state->audioTarget.bytesPerSecond;
    return 0;
}

} // namespace

bool IsBufferedEnough(AVStream* stream, int streamIndex, EncodedPacketQueue* queue) {
    return streamIndex < 0 || queue->abortRequested ||
           (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) ||
           (queue->packetCount > kEnoughPackets &&
            (!queue->totalDuration ||
             av_q2d(stream->time_base) * queue->totalDuration.load() > 1.0));
}

int ReadThread(void* arg) {
    auto* state = static_cast<VideoState*>(arg);
    if (ReadRecording(state) == ReadOutcome::Quit) PushQuit(state);
    return 0;
}

void ApplyDecoderSettings(AVCodecContext* context) {
    context->workaround_bugs = 1;
    context->lowres = 0;
    context->idct_algo = FF_IDCT_AUTO;
    context->skip_loop_filter = AVDISCARD_DEFAULT;
    context->skip_idct = AVDISCARD_DEFAULT;
    context->skip_frame = AVDISCARD_DEFAULT;
    context->error_concealment = 3;
}

int OpenStreamDecoding(VideoState* state, int streamIndex) {
    AVFormatContext* container = state->container;
    if (streamIndex < 0 || streamIndex >= static_cast<int>(container->nb_streams)) return -1;
    AVStream* stream = container->streams[streamIndex];

    AVCodecContext* context = avcodec_alloc_context3(nullptr);
    if (!context) return AVERROR(ENOMEM);
    int ret = avcodec_parameters_to_context(context, stream->codecpar);
    if (ret < 0) {
        avcodec_free_context(&context);
        return ret;
    }
    context->pkt_timebase = stream->time_base;

    const AVMediaType type = context->codec_type;
    const AVCodec* codec = type == AVMEDIA_TYPE_SUBTITLE ? avcodec_find_decoder_by_name("text")
                                                         : avcodec_find_decoder(context->codec_id);
    if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) {
        ApplyDecoderSettings(context);
        context->thread_count = DecoderThreadCount(container);
        // A stream without a usable decoder is left closed; its context is freed here.
        if (!codec || avcodec_open2(context, codec, nullptr) < 0) {
            avcodec_free_context(&context);
            return -1;
        }
    } else {
        if (!codec) {
            av_log(nullptr, AV_LOG_WARNING, "No codec could be found with id %d\n",
                   context->codec_id);
            avcodec_free_context(&context);
            return AVERROR(EINVAL);
        }
        context->codec_id = codec->id;
        if ((ret = avcodec_open2(context, codec, nullptr)) < 0) {
            avcodec_free_context(&context);
            return ret;
        }
    }

    state->endOfFile = 0;
    stream->discard = AVDISCARD_DEFAULT;

    // The role the stream takes: the first video stream opened is the front camera.
    StreamRole role;
    switch (type) {
    case AVMEDIA_TYPE_AUDIO:
        if ((ret = SetUpAudioOutput(state, context)) < 0) {
            avcodec_free_context(&context);
            return ret;
        }
        role = StreamRole::Audio;
        break;
    case AVMEDIA_TYPE_VIDEO:
        role = state->frontStreamIndex < 0 ? StreamRole::Front : StreamRole::Rear;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        role = StreamRole::Text;
        break;
    default:
        avcodec_free_context(&context);
        return -1;
    }

    PlaybackStream opened = state->Stream(role);
    opened.stream = stream;
    opened.index = streamIndex;
    InitDecoder(&opened.decoder, stream, context, &opened.packets, state->readerWakeup);
    if (role == StreamRole::Audio &&
        (container->iformat->flags & (AVFMT_NOBINSEARCH | AVFMT_NOGENSEARCH | AVFMT_NO_BYTE_SEEK)) &&
        !container->iformat->read_seek) {
        opened.decoder.startTime = stream->start_time;
        opened.decoder.startTimeBase = stream->time_base;
    }
    ret = StartDecoder(&opened.decoder, DecoderThreadOf(role), "decoder", state);
    if (ret >= 0 && role == StreamRole::Audio) SDL_PauseAudio(0);
    if (ret >= 0 && role == StreamRole::Front) state->attachedPicturesPending = 1;
    return ret;
}

void CloseStreamDecoding(VideoState* state, int streamIndex) {
    AVFormatContext* container = state->container;
    if (!container || streamIndex < 0 || streamIndex >= static_cast<int>(container->nb_streams))
        return;
    // The open roles of the stream's kind close together. Closing either camera closes both:
    // the rear picture only ever moves with the front.
    const AVMediaType kind = container->streams[streamIndex]->codecpar->codec_type;
    StreamRole closing[std::size(kStreamRoles)];
    std::size_t count = 0;
    for (StreamRole role : kStreamRoles)
        if (KindOf(role) == kind && state->Stream(role).IsOpen()) closing[count++] = role;
    const std::span<const StreamRole> roles(closing, count);

    for (StreamRole role : roles) {
        PlaybackStream s = state->Stream(role);
        StopDecoder(&s.decoder, &s.frames);
        if (role == StreamRole::Audio) CloseAudioOutput(state);
        FreeDecoder(&s.decoder);
    }
    container->streams[streamIndex]->discard = AVDISCARD_ALL;
    for (StreamRole role : roles) {
        PlaybackStream s = state->Stream(role);
        container->streams[s.index]->discard = AVDISCARD_ALL;
        s.stream = nullptr;
        s.index = -1;
    }
}

} // namespace velk
