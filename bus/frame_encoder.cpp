#include "frame_encoder.h"

#include <cmath>

namespace {

void putInt16(QByteArray &b, int offset, int value)
{
    b[offset] = char(value & 0xFF);
    b[offset + 1] = char((value >> 8) & 0xFF);
}

void putTenths(QByteArray &b, int offset, double value)
{
    putInt16(b, offset, int(std::lround(value * 10.0)));
}

} // namespace

std::uint8_t frameChecksum(FrameKind kind, const QByteArray &body)
{
    const auto sync = static_cast<std::uint16_t>(kind);
    unsigned sum = (sync >> 8) + (sync & 0xFF);
    for (char c : body)
        sum += static_cast<std::uint8_t>(c);
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

QByteArray encodeFrame(FrameKind kind, const QByteArray &body)
{
    const auto sync = static_cast<std::uint16_t>(kind);
    QByteArray frame;
    frame.reserve(body.size() + 3);
    frame.append(char(sync >> 8));
    frame.append(char(sync & 0xFF));
    frame.append(body);
    frame.append(char(frameChecksum(kind, body)));
    return frame;
}

QByteArray encodeDataBody(const Measurement &m)
{
    namespace O = DataFrameOffset;
    QByteArray b(kDataPayloadLength - 1, '\0');
    putTenths(b, O::tsa, m.tsa);
    putTenths(b, O::tw, m.tw);
    putTenths(b, O::tsv, m.tsv);
    putTenths(b, O::tam, m.tam);
    putTenths(b, O::tse, m.tse);
    putTenths(b, O::flow, m.flow);
    b[O::pwm] = char(m.pwm);
    b[O::status] = char(m.status);
    b[O::clockHour] = char(m.clockHour);
    b[O::clockMinute] = char(m.clockMinute);
    b[O::clockDay] = char(m.clockDay);
    b[O::clockMonth] = char(m.clockMonth);
    b[O::clockYear] = char(m.clockYear);
    putInt16(b, O::energyDay, m.energyDay);
    const auto total = static_cast<std::uint32_t>(m.energyTotal);
    for (int i = 0; i < 4; ++i)
        b[O::energyTotal + i] = char((total >> (8 * i)) & 0xFF);
    return b;
}
