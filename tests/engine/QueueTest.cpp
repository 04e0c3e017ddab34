// Packet and frame queues: capacity, serials, accounting, blocking and keep-last semantics.

#include "VideoState.h"

#include <gtest/gtest.h>

#include <thread>

namespace velk {
namespace {

AVPacket* PacketOfSize(int size) {
    AVPacket* pkt = av_packet_alloc();
    av_new_packet(pkt, size);
    pkt->duration = 3;
    return pkt;
}

struct PacketQueueTest : ::testing::Test {
    EncodedPacketQueue queue;
    void SetUp() override {
        PrepareFlushMarker();
        ASSERT_EQ(queue.Init(), 0);
    }
    void TearDown() override { queue.Destroy(); }
};

TEST_F(PacketQueueTest, RefusesUntilStartedThenCountsSerialsAcrossFlush) {
    AVPacket* pkt = PacketOfSize(10);
    EXPECT_EQ(queue.Put(pkt), -1);
    EXPECT_EQ(pkt->size, 0) << "a refused packet's payload is released by Put";
    av_packet_free(&pkt);

    queue.Start();
    EXPECT_EQ(queue.serial, 1);
    EXPECT_EQ(queue.packetCount, 1); // the flush marker
    AVPacket out{};
    int serial = -1;
    ASSERT_EQ(queue.Get(&out, false, &serial), 1);
    EXPECT_TRUE(IsFlushMarker(&out));
    EXPECT_EQ(serial, 1);

    queue.Flush();
    EXPECT_EQ(queue.serial, 1) << "Flush keeps the serial";
    queue.Put(&FlushMarker);
    EXPECT_EQ(queue.serial, 2);
}

TEST_F(PacketQueueTest, AccountsPayloadPlusNodeCost) {
    queue.Start();
    queue.Flush();
    for (int size : {100, 20}) {
        AVPacket* pkt = PacketOfSize(size);
        ASSERT_EQ(queue.Put(pkt), 0);
        av_packet_free(&pkt);
    }
    EXPECT_EQ(queue.byteSize, 280);
    EXPECT_EQ(queue.totalDuration, 6);
    AVPacket* out = av_packet_alloc();
    ASSERT_EQ(queue.Get(out, false, nullptr), 1);
    EXPECT_EQ(out->size, 100) << "oldest first";
    EXPECT_EQ(queue.byteSize, 100);
    av_packet_free(&out);
}

TEST_F(PacketQueueTest, BlockingGetWakesOnPutAndOnAbort) {
    queue.Start();
    queue.Flush();
    AVPacket out{};
    EXPECT_EQ(queue.Get(&out, false, nullptr), 0);

    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        AVPacket* pkt = PacketOfSize(5);
        queue.Put(pkt);
        av_packet_free(&pkt);
    });
    AVPacket* got = av_packet_alloc();
    EXPECT_EQ(queue.Get(got, true, nullptr), 1);
    EXPECT_EQ(got->size, 5);
    producer.join();
    av_packet_free(&got);

    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        queue.Abort();
    });
    EXPECT_EQ(queue.Get(&out, true, nullptr), -1);
    aborter.join();
}

struct FrameQueueTest : ::testing::Test {
    EncodedPacketQueue packets;
    DecodedFrameQueue frames;
    void SetUp() override {
        PrepareFlushMarker();
        ASSERT_EQ(packets.Init(), 0);
        packets.Start();
    }
    void TearDown() override {
        frames.Destroy();
        packets.Destroy();
    }
    void PushFrame(std::int64_t position) {
        QueuedFrame* slot = frames.AwaitFreeSlot();
        ASSERT_NE(slot, nullptr);
        slot->bytePosition = position;
        slot->serial = packets.serial;
        frames.Push();
    }
};

TEST_F(FrameQueueTest, CapacityIsCappedAt16) {
    ASSERT_EQ(frames.Init(&packets, 20, 0), 0);
    EXPECT_EQ(frames.capacity, 16);
}

TEST_F(FrameQueueTest, KeepLastHoldsTheShownFrameUntilTheNextIsTaken) {
    ASSERT_EQ(frames.Init(&packets, 3, 1), 0);
    EXPECT_EQ(frames.LastShownPosition(), -1) << "nothing shown yet";
    PushFrame(1000);
    EXPECT_EQ(frames.Remaining(), 1);
    frames.Next();
    EXPECT_EQ(frames.Remaining(), 0);
    EXPECT_EQ(frames.LastShownSlot()->bytePosition, 1000);
    EXPECT_EQ(frames.LastShownPosition(), 1000);
    PushFrame(2000);
    frames.Next();
    EXPECT_EQ(frames.LastShownSlot()->bytePosition, 2000) << "the first frame was released";
    EXPECT_EQ(frames.count, 1);

    packets.Put(&FlushMarker); // a seek: the shown frame is from before it
    EXPECT_EQ(frames.LastShownPosition(), -1);
}

TEST_F(FrameQueueTest, WithoutKeepLastNextReleasesAtOnce) {
    ASSERT_EQ(frames.Init(&packets, 16, 0), 0);
    PushFrame(1);
    PushFrame(2);
    frames.Next();
    EXPECT_EQ(frames.Remaining(), 1);
    EXPECT_EQ(frames.CurrentSlot()->bytePosition, 2);
}

TEST_F(FrameQueueTest, WaitsEndWhenThePacketQueueAborts) {
    ASSERT_EQ(frames.Init(&packets, 1, 0), 0);
    PushFrame(1);
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        packets.Abort();
        frames.Signal();
    });
    EXPECT_EQ(frames.AwaitFreeSlot(), nullptr) << "a full queue gives no slot once aborted";
    aborter.join();
}

} // namespace
} // namespace velk
