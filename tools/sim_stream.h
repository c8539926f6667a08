#pragma once

#include "bus/frame_stream.h"
#include "bus/measurement.h"

#include <QByteArray>
#include <QString>
#include <optional>

// How often each fault hits a frame (fractions 0..1). A frame gets at most
// one fault; noise is drawn separately for each gap before a frame.
struct FaultRates {
    double bad = 0;           // wrong checksum
    double cut = 0;           // cut short by the sync word of the next frame
    double noise = 0;         // a few random bytes before the frame
    double syncInPayload = 0; // a sync word inside the payload starts a new frame there

    // What --faults uses unless a rate is given.
    static FaultRates defaults() { return {0.05, 0.03, 0.10, 0.02}; }
};

// Turns the controller's readings into the bus byte stream: one data frame a
// second with the other three frame kinds after it, faults as configured. It
// keeps the books a receiver must agree with: good and bad frames per kind,
// frames lost to a sync word.
class SimStream
{
public:
    SimStream(std::uint32_t seed, const FaultRates &rates);

    // Appends one second of bus traffic for `values`: the data frame, then one
    // to three of the other kinds. Returns the values of the data frame if it
    // went out good. With stopAfterGoodData a good data frame ends the second
    // (the stream's last frame).
    std::optional<Measurement> addSecond(const Measurement &values, bool stopAfterGoodData = false);

    // Appends one data frame, good or with a wrong checksum. A temperature or
    // flow whose bytes would form a sync word is moved up by 0.1 until none
    // does; the values actually encoded are returned. When the sync word
    // comes from bytes that cannot move (the clock at minute 35 on the 2nd of
    // a month is 23 02), the frame goes out as the bus would carry it: cut
    // short where the sync word starts the next frame; then nothing is returned.
    std::optional<Measurement> addDataFrame(Measurement values, bool badChecksum);

    QByteArray takeBytes() { return builder.takeBytes(); }

    PacketCounters expected(FrameKind kind) const { return builder.expected(kind); }
    // Frames a receiver abandons because a sync word arrived before their end.
    std::uint64_t cutFrames() const { return builder.cutFrames(); }
    std::uint64_t noiseBytes() const { return noiseCount; }
    // Values moved by 0.1 so their frame carries no sync word.
    std::uint64_t nudges() const { return nudgeCount; }
    // Data frames lost to a sync word in their clock or energy bytes.
    std::uint64_t unsendableDataFrames() const { return lostCount; }

private:
    enum class Fault { None, Bad, Cut, SyncInPayload };
    Fault drawFault();
    void maybeNoise();
    void addOtherFrame(FrameKind kind, bool badChecksum);
    void cutFrame(FrameKind kind);
    void loseDataFrame(const QByteArray &frame, int syncAt);

    FaultRates rates;
    FrameStreamBuilder builder;
    bool cutPending = false;
    std::uint64_t noiseCount = 0;
    std::uint64_t nudgeCount = 0;
    std::uint64_t lostCount = 0;
};

// The line the values file gets for a good data frame: the monitor's
// forwarding line for those values, ending in "\n".
QString valuesLine(const Measurement &m);
