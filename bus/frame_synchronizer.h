#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

// The four frame kinds of the controller's bus, each valued by its sync word
// (high byte first on the wire). None means no frame is being collected.
enum class FrameKind : std::uint16_t {
    None = 0,
    SyncFC3E = 0xFC3E, // the data frame
    SyncFC1F = 0xFC1F,
    Sync2302 = 0x2302,
    SyncFD05 = 0xFD05,
};

constexpr int kMaxPayloadLength = 63;
constexpr int kDataPayloadLength = 63;

// Payload bytes after the sync word; fixed per kind.
constexpr int payloadLength(FrameKind kind)
{
    switch (kind) {
    case FrameKind::SyncFC3E: return 63;
    case FrameKind::SyncFC1F: return 32;
    case FrameKind::Sync2302: return 3;
    case FrameKind::SyncFD05: return 6;
    case FrameKind::None: break;
    }
    return 0;
}

// Label under which the frame dump heads a frame of this kind (there is no 3).
constexpr int dumpLabel(FrameKind kind)
{
    switch (kind) {
    case FrameKind::SyncFC3E: return 1;
    case FrameKind::SyncFC1F: return 2;
    case FrameKind::Sync2302:
    case FrameKind::SyncFD05: return 4;
    case FrameKind::None: break;
    }
    return 0;
}

constexpr FrameKind kAllFrameKinds[] = {FrameKind::SyncFC3E, FrameKind::SyncFC1F,
                                         FrameKind::Sync2302, FrameKind::SyncFD05};

using PayloadBytes = std::array<std::uint8_t, kMaxPayloadLength>;

// A frame whose checksum held. Only the first `length` bytes of `bytes` belong to it.
struct CompletedFrame {
    FrameKind kind = FrameKind::None;
    int length = 0;
    PayloadBytes bytes{};
};

struct PacketCounters {
    std::uint64_t good = 0;
    std::uint64_t bad = 0;
};

namespace detail {
// For each possible latest byte, the sync word it would complete. Bytes that
// complete none get a word whose low half differs from them, so a single
// comparison with the sync register decides.
struct SyncTable {
    std::uint16_t word[256] = {};
    constexpr SyncTable()
    {
        for (int low = 0; low < 256; ++low)
            word[low] = std::uint16_t(low ^ 0xFF);
        for (FrameKind kind : kAllFrameKinds)
            word[int(kind) & 0xFF] = std::uint16_t(kind);
    }
};
inline constexpr SyncTable syncWordEndingIn{};
} // namespace detail

// Finds frames in the bus byte stream by their sync words and checks them by the
// 8-bit sum of all frame bytes (sync word included), which must be 0.
// Constant work per byte and a fixed buffer: it never allocates.
class FrameSynchronizer
{
public:
    // Feeds one received byte; returns the frame this byte completes if its
    // checksum holds. Inline: it runs for every byte on the bus.
#if defined(__GNUC__)
    [[gnu::always_inline]]
#endif
    std::optional<CompletedFrame> pushByte(std::uint8_t byte)
    {
        syncRegister = static_cast<std::uint16_t>((syncRegister << 8) | byte);
        // The sync test comes first, also in the middle of a frame: a sync word
        // abandons the frame being collected without counting it.
        if (detail::syncWordEndingIn.word[byte] == syncRegister) {
            startFrame();
            return std::nullopt;
        }
        if (currentKind == FrameKind::None)
            return std::nullopt;
        payload[payloadCount] = PayloadByte(byte);
        if (++payloadCount < currentLength)
            return std::nullopt;
        return finishFrame();
    }

    PacketCounters counters(FrameKind kind) const;

private:
    static constexpr int counterIndex(FrameKind kind)
    {
        switch (kind) {
        case FrameKind::SyncFC3E: return 0;
        case FrameKind::SyncFC1F: return 1;
        case FrameKind::Sync2302: return 2;
        case FrameKind::SyncFD05: return 3;
        case FrameKind::None: break;
        }
        return -1;
    }
    void startFrame();
    std::optional<CompletedFrame> finishFrame();

    std::uint16_t syncRegister = 0;
    FrameKind currentKind = FrameKind::None;
    int currentLength = 0;
    int payloadCount = 0;
    // A type of its own, so that stores into the buffer cannot alias the other
    // members and the per-byte state can stay in registers.
    enum class PayloadByte : std::uint8_t {};
    PayloadByte payload[kMaxPayloadLength] = {};
    PacketCounters packetCounters[4];
};

inline void FrameSynchronizer::startFrame()
{
    currentKind = static_cast<FrameKind>(syncRegister);
    currentLength = payloadLength(currentKind);
    payloadCount = 0;
}

inline std::optional<CompletedFrame> FrameSynchronizer::finishFrame()
{
    const FrameKind kind = currentKind;
    currentKind = FrameKind::None;
    PacketCounters &counter = packetCounters[counterIndex(kind)];
    // The 8-bit sum of every frame byte, sync word included, must be 0.
    unsigned sum = (unsigned(kind) >> 8) + (unsigned(kind) & 0xFF);
    for (int i = 0; i < currentLength; ++i)
        sum += std::uint8_t(payload[i]);
    if (std::uint8_t(sum) != 0) {
        ++counter.bad;
        return std::nullopt;
    }
    ++counter.good;
    CompletedFrame frame;
    frame.kind = kind;
    frame.length = currentLength;
    std::memcpy(frame.bytes.data(), payload, sizeof payload);
    return frame;
}
