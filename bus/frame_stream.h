#pragma once

#include "frame_synchronizer.h"

#include <QByteArray>
#include <random>

// Builds a bus byte stream of good, bad and cut frames and noise, and knows what
// a receiver must make of it. It never lets two neighbouring bytes form a sync
// word by accident, so every frame ends exactly where the builder says.
// Used by the controller simulator and the tests.
class FrameStreamBuilder
{
public:
    explicit FrameStreamBuilder(std::uint32_t seed = 1);

    // payloadLength(kind) - 1 random bytes that contain no sync word.
    QByteArray randomBody(FrameKind kind);

    // Appends sync word, body and checksum byte (a wrong one if badChecksum).
    // Returns false and appends nothing when the frame would contain a sync
    // word after its own; the caller changes the body and tries again.
    bool addFrame(FrameKind kind, const QByteArray &body, bool badChecksum = false);

    // Appends a sync word and keptBytes (< payload length) random bytes; the
    // frame is cut short by the sync word of the next frame and counted nowhere.
    void addCutFrame(FrameKind kind, int keptBytes);

    // Appends random bytes between frames. Ignored right after a cut frame,
    // where the bytes would still belong to the cut frame.
    void addNoise(int count);

    // Hands out the bytes built so far and forgets them.
    QByteArray takeBytes();

    PacketCounters expected(FrameKind kind) const;
    std::uint64_t cutFrames() const { return cutCount; }
    std::mt19937 &random() { return rng; }

    static bool isSyncWord(std::uint8_t high, std::uint8_t low);

private:
    std::uint8_t randomByteAfter(std::uint8_t previous);
    void append(std::uint8_t byte);

    std::mt19937 rng;
    QByteArray stream;
    std::uint8_t lastByte = 0;
    bool cutPending = false;
    std::uint64_t cutCount = 0;
    PacketCounters counts[4];
};
