#include "frame_stream.h"

#include "frame_encoder.h"

namespace {

int kindIndex(FrameKind kind)
{
    for (int i = 0; i < 4; ++i)
        if (kAllFrameKinds[i] == kind)
            return i;
    return 0;
}

} // namespace

FrameStreamBuilder::FrameStreamBuilder(std::uint32_t seed) : rng(seed) {}

bool FrameStreamBuilder::isSyncWord(std::uint8_t high, std::uint8_t low)
{
    const int word = (high << 8) | low;
    for (FrameKind kind : kAllFrameKinds)
        if (word == int(kind))
            return true;
    return false;
}

std::uint8_t FrameStreamBuilder::randomByteAfter(std::uint8_t previous)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::uint8_t b;
    do {
        b = std::uint8_t(byte(rng));
    } while (isSyncWord(previous, b));
    return b;
}

void FrameStreamBuilder::append(std::uint8_t byte)
{
    stream.append(char(byte));
    lastByte = byte;
}

QByteArray FrameStreamBuilder::randomBody(FrameKind kind)
{
    // The body follows the second sync byte, which never starts a sync word.
    QByteArray body;
    std::uint8_t previous = std::uint8_t(int(kind) & 0xFF);
    for (int i = 0; i < payloadLength(kind) - 1; ++i) {
        previous = randomByteAfter(previous);
        body.append(char(previous));
    }
    return body;
}

bool FrameStreamBuilder::addFrame(FrameKind kind, const QByteArray &body, bool badChecksum)
{
    QByteArray frame = encodeFrame(kind, body);
    if (badChecksum) {
        std::uniform_int_distribution<int> delta(1, 255);
        frame[frame.size() - 1] = char(std::uint8_t(frame.back()) + delta(rng));
    }
    for (int i = 2; i + 1 < frame.size(); ++i)
        if (isSyncWord(std::uint8_t(frame[i]), std::uint8_t(frame[i + 1])))
            return false;
    for (char c : frame)
        append(std::uint8_t(c));
    cutPending = false;
    PacketCounters &c = counts[kindIndex(kind)];
    ++(badChecksum ? c.bad : c.good);
    return true;
}

void FrameStreamBuilder::addCutFrame(FrameKind kind, int keptBytes)
{
    const auto sync = std::uint16_t(kind);
    append(std::uint8_t(sync >> 8));
    append(std::uint8_t(sync & 0xFF));
    for (int i = 0; i < keptBytes && i < payloadLength(kind) - 1; ++i)
        append(randomByteAfter(lastByte));
    cutPending = true;
    ++cutCount;
}

void FrameStreamBuilder::addNoise(int count)
{
    if (cutPending)
        return;
    for (int i = 0; i < count; ++i)
        append(randomByteAfter(lastByte));
}

QByteArray FrameStreamBuilder::takeBytes()
{
    QByteArray out;
    out.swap(stream);
    return out;
}

PacketCounters FrameStreamBuilder::expected(FrameKind kind) const
{
    return counts[kindIndex(kind)];
}
