#include "sim_stream.h"

#include "bus/frame_encoder.h"
#include "net/forward_line.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr FrameKind kOtherKinds[] = {FrameKind::SyncFC1F, FrameKind::Sync2302,
                                     FrameKind::SyncFD05};
constexpr int kMaxNoiseBytes = 12;

// Offset (from the first sync byte) of the first byte pair inside `frame`,
// after its own sync word, that is a sync word; -1 if there is none.
int syncWordAt(const QByteArray &frame)
{
    for (int i = 2; i + 1 < frame.size(); ++i)
        if (FrameStreamBuilder::isSyncWord(std::uint8_t(frame[i]), std::uint8_t(frame[i + 1])))
            return i;
    return -1;
}

// The temperature or flow field that holds the data frame payload byte at
// `offset`, or nullptr for bytes that cannot be moved by a tenth.
double *tenthsFieldAt(Measurement &m, int offset)
{
    namespace O = DataFrameOffset;
    const std::pair<int, double *> fields[] = {{O::tsa, &m.tsa}, {O::tw, &m.tw},
                                               {O::tsv, &m.tsv}, {O::tam, &m.tam},
                                               {O::tse, &m.tse}, {O::flow, &m.flow}};
    for (const auto &[start, field] : fields)
        if (offset == start || offset == start + 1)
            return field;
    return nullptr;
}

} // namespace

SimStream::SimStream(std::uint32_t seed, const FaultRates &faultRates)
    : rates(faultRates), builder(seed)
{
}

SimStream::Fault SimStream::drawFault()
{
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const double r = chance(builder.random());
    if (r < rates.syncInPayload)
        return Fault::SyncInPayload;
    if (r < rates.syncInPayload + rates.cut)
        return Fault::Cut;
    if (r < rates.syncInPayload + rates.cut + rates.bad)
        return Fault::Bad;
    return Fault::None;
}

void SimStream::maybeNoise()
{
    if (rates.noise <= 0)
        return;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (chance(builder.random()) >= rates.noise)
        return;
    std::uniform_int_distribution<int> count(1, kMaxNoiseBytes);
    const int n = count(builder.random());
    // Bytes right after a cut frame would still belong to it; the builder
    // leaves them out, and so does the count.
    if (cutPending)
        return;
    builder.addNoise(n);
    noiseCount += std::uint64_t(n);
}

void SimStream::cutFrame(FrameKind kind)
{
    std::uniform_int_distribution<int> kept(0, payloadLength(kind) - 2);
    builder.addCutFrame(kind, kept(builder.random()));
    cutPending = true;
}

void SimStream::addOtherFrame(FrameKind kind, bool badChecksum)
{
    // A random body can still end in a byte that forms a sync word with the
    // checksum; draw another.
    while (!builder.addFrame(kind, builder.randomBody(kind), badChecksum)) {
    }
    cutPending = false;
}

std::optional<Measurement> SimStream::addSecond(const Measurement &values, bool stopAfterGoodData)
{
    std::optional<Measurement> sent;
    maybeNoise();
    switch (drawFault()) {
    case Fault::None:
        sent = addDataFrame(values, false);
        break;
    case Fault::Bad:
        addDataFrame(values, true);
        break;
    case Fault::Cut:
        cutFrame(FrameKind::SyncFC3E);
        break;
    case Fault::SyncInPayload: {
        // The data frame is abandoned where the sync word appears, and a
        // complete frame of that kind follows. Never a data frame: its random
        // body would arrive as values the controller never had.
        cutFrame(FrameKind::SyncFC3E);
        std::uniform_int_distribution<int> pick(0, 2);
        addOtherFrame(kOtherKinds[pick(builder.random())], false);
        break;
    }
    }
    if (sent && stopAfterGoodData)
        return sent;

    // One to three of the other kinds, in random order.
    FrameKind kinds[3] = {kOtherKinds[0], kOtherKinds[1], kOtherKinds[2]};
    std::shuffle(std::begin(kinds), std::end(kinds), builder.random());
    std::uniform_int_distribution<int> howMany(1, 3);
    const int n = howMany(builder.random());
    for (int i = 0; i < n; ++i) {
        maybeNoise();
        switch (drawFault()) {
        case Fault::None:
            addOtherFrame(kinds[i], false);
            break;
        case Fault::Bad:
            addOtherFrame(kinds[i], true);
            break;
        case Fault::Cut:
            cutFrame(kinds[i]);
            break;
        case Fault::SyncInPayload: {
            cutFrame(kinds[i]);
            std::uniform_int_distribution<int> pick(0, 2);
            addOtherFrame(kOtherKinds[pick(builder.random())], false);
            break;
        }
        }
    }
    return sent;
}

std::optional<Measurement> SimStream::addDataFrame(Measurement values, bool badChecksum)
{
    // Each nudge removes the sync word it was made for; a handful of fields
    // can need one each.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QByteArray body = encodeDataBody(values);
        if (builder.addFrame(FrameKind::SyncFC3E, body, badChecksum)) {
            cutPending = false;
            return values;
        }
        const QByteArray frame = encodeFrame(FrameKind::SyncFC3E, body);
        const int at = syncWordAt(frame);
        if (at < 0)
            break;
        const int payloadOffset = at - 2;
        double *field = tenthsFieldAt(values, payloadOffset);
        if (!field)
            field = tenthsFieldAt(values, payloadOffset + 1);
        if (!field) {
            loseDataFrame(frame, at);
            return std::nullopt;
        }
        // 54.7 °C is 23 02 on the wire; the sensor may as well read 54.8.
        *field = double(std::lround(*field * 10.0) + 1) / 10.0;
        ++nudgeCount;
    }
    // Not reached with values a plant produces; give the frame up as one cut
    // short rather than send bytes whose fate nobody has worked out.
    cutFrame(FrameKind::SyncFC3E);
    ++lostCount;
    return std::nullopt;
}

void SimStream::loseDataFrame(const QByteArray &frame, int syncAt)
{
    // On the bus the data frame ends where the sync word inside it begins and
    // a frame of that kind starts there, made of the bytes that follow. The
    // bytes before the sync word are discarded by every receiver, so random
    // ones serve; the new frame carries the data frame's following bytes and
    // is good only if they happen to sum up.
    ++lostCount;
    const auto kind = FrameKind((std::uint8_t(frame[syncAt]) << 8) | std::uint8_t(frame[syncAt + 1]));
    builder.addCutFrame(FrameKind::SyncFC3E, syncAt - 2);
    const int bodyLength = payloadLength(kind) - 1;
    QByteArray body = frame.mid(syncAt + 2, bodyLength);
    body.append(QByteArray(bodyLength - body.size(), '\0'));
    const int checkAt = syncAt + 2 + bodyLength;
    const std::uint8_t onWire = checkAt < frame.size() ? std::uint8_t(frame[checkAt]) : 0;
    // A data frame made of leftovers must not pass for one the controller sent.
    const bool bad = frameChecksum(kind, body) != onWire || kind == FrameKind::SyncFC3E;
    if (!builder.addFrame(kind, body, bad))
        addOtherFrame(kind, bad);
    cutPending = false;
}

QString valuesLine(const Measurement &m)
{
    return formatForwardLine(m) + QLatin1Char('\n');
}
