// Packet and frame queues: the hand-over between the read_thread, the decoder threads and the
// consumers. Serial numbers let every consumer recognise data from before the last seek.

#include "VideoState.h"

namespace velk {

AVPacket FlushMarker;

void PrepareFlushMarker() {
    // An empty packet whose data points at itself: never freed, never counted as data.
    FlushMarker = AVPacket{};
    FlushMarker.pts = AV_NOPTS_VALUE;
    FlushMarker.dts = AV_NOPTS_VALUE;
    FlushMarker.pos = -1;
    FlushMarker.data = reinterpret_cast<std::uint8_t*>(&FlushMarker);
}

namespace {
int CreateLockPair(SDL_mutex** mutex, SDL_cond** condition) {
    *mutex = SDL_CreateMutex();
    if (!*mutex) {
        av_log(nullptr, AV_LOG_FATAL, "SDL_CreateMutex(): %s\n", SDL_GetError());
        return AVERROR(ENOMEM);
    }
    *condition = SDL_CreateCond();
    if (!*condition) {
        av_log(nullptr, AV_LOG_FATAL, "SDL_CreateCond(): %s\n", SDL_GetError());
        return AVERROR(ENOMEM);
    }
    return 0;
}
} // namespace

int EncodedPacketQueue::Init() {
    first = last = nullptr;
    packetCount = 0;
    byteSize = 0;
    totalDuration = 0;
    serial = 0;
    abortRequested = 1; // refuses packets until Start
    return CreateLockPair(&mutex, &condition);
}

int EncodedPacketQueue::AppendLocked(AVPacket* pkt) {
    if (abortRequested) return -1;
    auto* node = static_cast<PacketNode*>(av_malloc(sizeof(PacketNode)));
    if (!node) return -1;
    if (IsFlushMarker(pkt))
        node->packet = *pkt; // the marker owns nothing
    else
        av_packet_move_ref(&node->packet, pkt); // the node takes the payload's reference
    node->next = nullptr;
    if (IsFlushMarker(pkt)) serial.fetch_add(1);
    node->serial = serial.load();
    if (!last)
        first = node;
    else
        last->next = node;
    last = node;
    packetCount.fetch_add(1);
    byteSize.fetch_add(node->packet.size + kPacketNodeOverhead);
    totalDuration.fetch_add(node->packet.duration);
    SDL_CondSignal(condition);
    return 0;
}

void EncodedPacketQueue::Start() {
    SDL_LockMutex(mutex);
    abortRequested = 0;
    AppendLocked(&FlushMarker);
    SDL_UnlockMutex(mutex);
}

int EncodedPacketQueue::Put(AVPacket* pkt) {
    SDL_LockMutex(mutex);
    int ret = AppendLocked(pkt);
    SDL_UnlockMutex(mutex);
    if (ret < 0 && !IsFlushMarker(pkt)) av_packet_unref(pkt);
    return ret;
}

int EncodedPacketQueue::PutEndMarker(int streamIndex) {
    AVPacket* pkt = av_packet_alloc();
    if (!pkt) return -1;
    pkt->data = nullptr;
    pkt->size = 0;
    pkt->stream_index = streamIndex;
    int ret = Put(pkt);
    av_packet_free(&pkt);
    return ret;
}

int EncodedPacketQueue::Get(AVPacket* pkt, bool block, int* serialOut) {
    int ret;
    SDL_LockMutex(mutex);
    for (;;) {
        if (abortRequested) {
            ret = -1;
            break;
        }
        PacketNode* node = first;
        if (node) {
            first = node->next;
            if (!first) last = nullptr;
            packetCount.fetch_sub(1);
            byteSize.fetch_sub(node->packet.size + kPacketNodeOverhead);
            totalDuration.fetch_sub(node->packet.duration);
            *pkt = node->packet;
            if (serialOut) *serialOut = node->serial;
            av_free(node);
            ret = 1;
            break;
        }
        if (!block) {
            ret = 0;
            break;
        }
        SDL_CondWait(condition, mutex);
    }
    SDL_UnlockMutex(mutex);
    return ret;
}

void EncodedPacketQueue::Flush() {
    SDL_LockMutex(mutex);
    for (PacketNode* node = first; node;) {
        PacketNode* next = node->next;
        if (!IsFlushMarker(&node->packet)) av_packet_unref(&node->packet);
        av_free(node);
        node = next;
    }
    first = last = nullptr;
    packetCount = 0;
    byteSize = 0;
    totalDuration = 0;
    SDL_UnlockMutex(mutex);
}

void EncodedPacketQueue::Abort() {
    SDL_LockMutex(mutex);
    abortRequested = 1;
    SDL_CondSignal(condition);
    SDL_UnlockMutex(mutex);
}

void EncodedPacketQueue::Destroy() {
    if (mutex) Flush();
    if (mutex) SDL_DestroyMutex(mutex);
    if (condition) SDL_DestroyCond(condition);
    mutex = nullptr;
    condition = nullptr;
}

// --- Frame queue

int DecodedFrameQueue::Init(EncodedPacketQueue* queue, int requestedCapacity, int keepLast) {
    readIndex = writeIndex = 0;
    count = 0;
    shownHeld = 0;
    packetQueue = queue;
    capacity = FFMIN(requestedCapacity, kMaxFrameQueueSize);
    holdShown = keepLast ? 1 : 0;
    if (int ret = CreateLockPair(&mutex, &condition); ret < 0) return ret;
    for (int i = 0; i < capacity; ++i) {
        slots[i] = QueuedFrame{};
        slots[i].frame = av_frame_alloc();
        if (!slots[i].frame) return AVERROR(ENOMEM);
    }
    return 0;
}

void DecodedFrameQueue::ReleaseSlot(QueuedFrame* slot) {
    av_frame_unref(slot->frame);
    if (slot->hasTextItem) {
        avsubtitle_free(&slot->textItem);
        slot->hasTextItem = false;
    }
}

void DecodedFrameQueue::Destroy() {
    for (int i = 0; i < capacity; ++i) {
        if (!slots[i].frame) continue;
        ReleaseSlot(&slots[i]);
        av_frame_free(&slots[i].frame);
    }
    if (mutex) SDL_DestroyMutex(mutex);
    if (condition) SDL_DestroyCond(condition);
    mutex = nullptr;
    condition = nullptr;
}

void DecodedFrameQueue::Signal() {
    SDL_LockMutex(mutex);
    SDL_CondSignal(condition);
    SDL_UnlockMutex(mutex);
}

QueuedFrame* DecodedFrameQueue::AwaitFreeSlot() {
    SDL_LockMutex(mutex);
    while (count >= capacity && !packetQueue->abortRequested)
        SDL_CondWait(condition, mutex);
    SDL_UnlockMutex(mutex);
    if (packetQueue->abortRequested) return nullptr;
    return &slots[writeIndex];
}

void DecodedFrameQueue::Push() {
    slots[writeIndex].sequence = ++pushedCount;
    if (++writeIndex == capacity) writeIndex = 0;
    SDL_LockMutex(mutex);
    count.fetch_add(1);
    SDL_CondSignal(condition);
    SDL_UnlockMutex(mutex);
}

QueuedFrame* DecodedFrameQueue::AwaitFilledSlot() {
    SDL_LockMutex(mutex);
    while (count - shownHeld <= 0 && !packetQueue->abortRequested)
        SDL_CondWait(condition, mutex);
    SDL_UnlockMutex(mutex);
    if (packetQueue->abortRequested) return nullptr;
    return CurrentSlot();
}

void DecodedFrameQueue::Next() {
    if (holdShown && !shownHeld) {
        shownHeld = 1;
        return;
    }
    ReleaseSlot(&slots[readIndex]);
    if (++readIndex == capacity) readIndex = 0;
    SDL_LockMutex(mutex);
    count.fetch_sub(1);
    SDL_CondSignal(condition);
    SDL_UnlockMutex(mutex);
}

std::int64_t DecodedFrameQueue::LastShownPosition() const {
    const QueuedFrame& slot = slots[readIndex];
    if (shownHeld && slot.serial == packetQueue->serial) return slot.bytePosition;
    return -1;
}

} // namespace velk
