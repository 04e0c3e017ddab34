// The read_thread: opens the recording, chooses the front, rear, audio and telemetry streams,
// starts their decoders, then keeps the packet queues filled and carries out seeks.

#include "VideoState.h"

#include "AppGlobals.h"

#include <cstring>

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

// Decoder threads per library choice (0) unless VELK_DECODER_THREADS says otherwise.
int DecoderThreadCount() {
    static const int count = [] {
        const char* value = SDL_getenv("VELK_DECODER_THREADS");
        return value ? SDL_atoi(value) : 0;
    }();
    return count;
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
        if (state->frontStreamIndex >= 0) FlushAndMark(&state->frontPackets);
        if (state->rearStreamIndex >= 0) FlushAndMark(&state->rearPackets);
        if (state->audioStreamIndex >= 0) FlushAndMark(&state->audioPackets);
        if (state->textStreamIndex >= 0) FlushAndMark(&state->textPackets);
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
    AVFormatContext* container = nullptr;
    AVPacket* pkt = nullptr;
    int ret = 0;
    AppGlobals& globals = Globals();

    SDL_mutex* waitMutex = SDL_CreateMutex();
    if (!waitMutex) {
        av_log(nullptr, AV_LOG_FATAL, "SDL_CreateMutex(): %s\n", SDL_GetError());
        ret = AVERROR(ENOMEM);
        goto end;
    }
    state->endOfFile = 0;
    pkt = av_packet_alloc();
    container = avformat_alloc_context();
    if (!pkt || !container) {
        av_log(nullptr, AV_LOG_FATAL, "Could not allocate context.\n");
        ret = AVERROR(ENOMEM);
        goto end;
    }
    container->interrupt_callback.callback = InterruptCallback;
    container->interrupt_callback.opaque = state;

    if (avformat_open_input(&container, state->fileName.c_str(), state->inputFormat, nullptr) < 0) {
        // avformat_open_input freed the context on failure.
        container = nullptr;
        PostWindowMessage(globals.mainWindow, MsgOpenFailed, 1, 0);
        ret = 0;
        goto end;
    }
    state->container = container;
    av_format_inject_global_side_data(container);

    if (avformat_find_stream_info(container, nullptr) < 0) {
        av_log(nullptr, AV_LOG_WARNING, "%s: could not find codec parameters\n",
               state->fileName.c_str());
        ret = -1;
        goto end;
    }
    if (container->pb) container->pb->eof_reached = 0;

    {
        const bool discontinuous = container->iformat->flags & AVFMT_TS_DISCONT;
        if (byteSeekMode < 0)
            byteSeekMode = discontinuous && std::strcmp("ogg", container->iformat->name) != 0;
        state->pictureGapLimit = discontinuous ? 10.0 : 3600.0;
    }
    if (EngineSettings::reportProgress) av_dump_format(container, 0, state->fileName.c_str(), 0);

    {
        for (unsigned i = 0; i < container->nb_streams; ++i)
            container->streams[i]->discard = AVDISCARD_ALL;
        int audio = av_find_best_stream(container, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        int text = av_find_best_stream(container, AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
        int video[2] = {-1, -1};
        int found = 0;
        for (unsigned i = 0; i < container->nb_streams && found < 2; ++i)
            if (container->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                video[found++] = static_cast<int>(i);

        const int frontWidth = video[0] >= 0 ? container->streams[video[0]]->codecpar->width : 0;
        PostWindowMessage(progressWindow.load(), MsgSpeedRange, frontWidth == 1920 ? 1 : 0, 0);

        // What the player thread may read about the container from now on.
        state->durationUs = container->duration;
        state->startTimeUs = container->start_time;
        state->bitRate = container->bit_rate;
        state->fileSize = container->pb ? avio_size(container->pb) : -1;
        state->containerReady.store(1, std::memory_order_release);

        state->pictureMode = EngineSettings::initialPictureMode;
        if (audio >= 0) OpenStreamDecoding(state, audio);
        int frontResult = -1;
        if (video[0] >= 0) {
            frontResult = OpenStreamDecoding(state, video[0]);
            if (video[1] >= 0) OpenStreamDecoding(state, video[1]);
        }
        if (state->pictureMode == -1) state->pictureMode = frontResult >= 0 ? 0 : 2;
        if (text >= 0) OpenStreamDecoding(state, text);
    }

    if (state->frontStreamIndex < 0 && state->audioStreamIndex < 0) {
        av_log(nullptr, AV_LOG_FATAL, "Failed to open file '%s' or configure filtergraph\n",
               state->fileName.c_str());
        ret = -1;
        goto end;
    }
    if (globals.panelCalls) {
        globals.panelCalls->ShowTotalTime(container->duration);
        globals.panelCalls->SelectViewerMode(state->rearStreamIndex >= 0);
    }

    while (!state->abortRequested) {
        if (state->paused != state->lastPausedState) {
            state->lastPausedState = state->paused;
            if (state->paused)
                state->containerPauseResult = av_read_pause(container);
            else
                av_read_play(container);
        }
        if (state->seekRequested.load(std::memory_order_acquire)) CarryOutSeek(state, container);

        if (state->attachedPicturesPending) {
            if (state->frontStreamIndex >= 0 &&
                (ret = QueueAttachedPicture(state->frontStream, &state->frontPackets,
                                            state->frontStreamIndex)) < 0)
                goto end;
            if (state->rearStreamIndex > 0 &&
                (ret = QueueAttachedPicture(state->rearStream, &state->rearPackets,
                                            state->rearStreamIndex)) < 0)
                goto end;
            ret = 0;
            state->attachedPicturesPending = 0;
        }

        // The rear queue's bytes do not count toward the ceiling: only the front, audio and
        // text data decide when reading pauses.
        if (state->audioPackets.byteSize + state->frontPackets.byteSize +
                    state->textPackets.byteSize >
                kBufferCeilingBytes ||
            (IsBufferedEnough(state->audioStream, state->audioStreamIndex, &state->audioPackets) &&
             IsBufferedEnough(state->rearStream, state->rearStreamIndex, &state->rearPackets) &&
             IsBufferedEnough(state->frontStream, state->frontStreamIndex, &state->frontPackets) &&
             IsBufferedEnough(state->textStream, state->textStreamIndex, &state->textPackets))) {
            WaitForWakeup(state, waitMutex);
            continue;
        }

        int readResult = av_read_frame(container, pkt);
        if (readResult < 0) {
            if ((readResult == AVERROR_EOF || avio_feof(container->pb)) && !state->endOfFile) {
                if (state->frontStreamIndex >= 0)
                    state->frontPackets.PutEndMarker(state->frontStreamIndex);
                if (state->rearStreamIndex >= 0)
                    state->rearPackets.PutEndMarker(state->rearStreamIndex);
                if (state->audioStreamIndex >= 0)
                    state->audioPackets.PutEndMarker(state->audioStreamIndex);
                if (state->textStreamIndex >= 0)
                    state->textPackets.PutEndMarker(state->textStreamIndex);
                state->endOfFile = 1;
            }
            if (container->pb && container->pb->error) {
                ret = 0; // what is queued still plays; the playback stays open until stopped
                goto end;
            }
            WaitForWakeup(state, waitMutex);
            continue;
        }
        state->endOfFile = 0;

        const int index = pkt->stream_index;
        if (index == state->audioStreamIndex) {
            state->audioPackets.Put(pkt);
        } else if (index == state->frontStreamIndex &&
                   !(state->frontStream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            state->frontPackets.Put(pkt);
        } else if (index == state->rearStreamIndex) {
            state->rearPackets.Put(pkt);
        } else if (index == state->textStreamIndex && pkt->size >= kMinTextPacketBytes) {
            state->textPackets.Put(pkt);
        } else {
            av_packet_unref(pkt);
        }
    }
    ret = 0;

end:
    if (container && !state->container) avformat_close_input(&container);
    av_packet_free(&pkt);
    if (ret != 0) PushQuit(state);
    if (waitMutex) SDL_DestroyMutex(waitMutex);
    return 0;
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
        context->workaround_bugs = 1;
        context->lowres = 0;
        context->idct_algo = FF_IDCT_AUTO;
        context->skip_loop_filter = AVDISCARD_DEFAULT;
        context->skip_idct = AVDISCARD_DEFAULT;
        context->skip_frame = AVDISCARD_DEFAULT;
        context->error_concealment = 3;
        context->thread_count = DecoderThreadCount();
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

    switch (type) {
    case AVMEDIA_TYPE_AUDIO: {
        AVChannelLayout layout{};
        if ((ret = av_channel_layout_copy(&layout, &context->ch_layout)) < 0) {
            avcodec_free_context(&context);
            return ret;
        }
        ret = OpenAudioOutput(state, &layout, context->sample_rate, &state->audioTarget);
        av_channel_layout_uninit(&layout);
        if (ret < 0) {
            avcodec_free_context(&context);
            return ret;
        }
        state->deviceBufferBytes = ret;
        av_channel_layout_uninit(&state->audioSource.channelLayout);
        state->audioSource = state->audioTarget;
        state->audioSource.channelLayout = {};
        av_channel_layout_copy(&state->audioSource.channelLayout,
                               &state->audioTarget.channelLayout);
        state->audioBufferSize = 0;
        state->audioBufferIndex = 0;
        state->driftWeight = std::exp(std::log(0.01) / kAudioDiffAverageCount);
        state->driftSamples = 0;
        state->driftThreshold =
            static_cast<double>(state->deviceBufferBytes) / state->audioTarget.bytesPerSecond;
        state->audioStream = stream;
        state->audioStreamIndex = streamIndex;
        InitDecoder(&state->audioDecoder, stream, context, &state->audioPackets,
                    state->readerWakeup);
        if ((container->iformat->flags &
             (AVFMT_NOBINSEARCH | AVFMT_NOGENSEARCH | AVFMT_NO_BYTE_SEEK)) &&
            !container->iformat->read_seek) {
            state->audioDecoder.startTime = stream->start_time;
            state->audioDecoder.startTimeBase = stream->time_base;
        }
        ret = StartDecoder(&state->audioDecoder, AudioDecodeThread, "decoder", state);
        if (ret >= 0) SDL_PauseAudio(0);
        return ret;
    }
    case AVMEDIA_TYPE_VIDEO:
        if (state->frontStreamIndex < 0) {
            state->frontStream = stream;
            state->frontStreamIndex = streamIndex;
            InitDecoder(&state->frontDecoder, stream, context, &state->frontPackets,
                        state->readerWakeup);
            ret = StartDecoder(&state->frontDecoder, FrontVideoDecodeThread, "decoder", state);
            if (ret >= 0) state->attachedPicturesPending = 1;
        } else {
            state->rearStream = stream;
            state->rearStreamIndex = streamIndex;
            InitDecoder(&state->rearDecoder, stream, context, &state->rearPackets,
                        state->readerWakeup);
            ret = StartDecoder(&state->rearDecoder, RearVideoDecodeThread, "decoder", state);
        }
        return ret;
    case AVMEDIA_TYPE_SUBTITLE:
        state->textStream = stream;
        state->textStreamIndex = streamIndex;
        InitDecoder(&state->textDecoder, stream, context, &state->textPackets, state->readerWakeup);
        return StartDecoder(&state->textDecoder, TextDecodeThread, "decoder", state);
    default:
        avcodec_free_context(&context);
        return -1;
    }
}

void CloseStreamDecoding(VideoState* state, int streamIndex) {
    AVFormatContext* container = state->container;
    if (!container || streamIndex < 0 || streamIndex >= static_cast<int>(container->nb_streams))
        return;
    AVCodecParameters* parameters = container->streams[streamIndex]->codecpar;

    switch (parameters->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        StopDecoder(&state->audioDecoder, &state->audioFrames);
        SDL_CloseAudio();
        FreeDecoder(&state->audioDecoder);
        swr_free(&state->resampler);
        av_freep(&state->resampleBuffer);
        state->resampleBufferCapacity = 0;
        state->audioBufferSize = 0;
        state->audioBuffer = nullptr;
        av_channel_layout_uninit(&state->audioSource.channelLayout);
        av_channel_layout_uninit(&state->audioTarget.channelLayout);
        break;
    case AVMEDIA_TYPE_VIDEO:
        // Closing either camera closes both: the rear picture only ever moves with the front.
        if (state->frontStreamIndex >= 0) {
            StopDecoder(&state->frontDecoder, &state->frontPictures);
            FreeDecoder(&state->frontDecoder);
        }
        if (state->rearStreamIndex >= 0) {
            StopDecoder(&state->rearDecoder, &state->rearPictures);
            FreeDecoder(&state->rearDecoder);
        }
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        StopDecoder(&state->textDecoder, &state->textItems);
        FreeDecoder(&state->textDecoder);
        break;
    default:
        break;
    }

    container->streams[streamIndex]->discard = AVDISCARD_ALL;
    switch (parameters->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        state->audioStream = nullptr;
        state->audioStreamIndex = -1;
        break;
    case AVMEDIA_TYPE_VIDEO:
        if (state->rearStreamIndex >= 0)
            container->streams[state->rearStreamIndex]->discard = AVDISCARD_ALL;
        state->frontStream = nullptr;
        state->frontStreamIndex = -1;
        state->rearStream = nullptr;
        state->rearStreamIndex = -1;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        state->textStream = nullptr;
        state->textStreamIndex = -1;
        break;
    default:
        break;
    }
}

} // namespace velk
