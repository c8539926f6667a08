#include "measurement.h"

namespace {

std::int16_t int16At(const PayloadBytes &p, int offset)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[offset] | (p[offset + 1] << 8)));
}

double tenthsAt(const PayloadBytes &p, int offset)
{
    return static_cast<double>(int16At(p, offset)) / 10.0;
}

} // namespace

QString formatControllerClock(int hour, int minute, int day, int month, int year)
{
    return QStringLiteral("%1:%2  %3.%4.20%5")
        .arg(hour)
        .arg(minute, 2, 10, QLatin1Char('0'))
        .arg(day)
        .arg(month)
        .arg(year, 2, 10, QLatin1Char('0'));
}

Measurement decodeDataFrame(const PayloadBytes &p)
{
    namespace O = DataFrameOffset;
    Measurement m;
    m.tsa = tenthsAt(p, O::tsa);
    m.tw = tenthsAt(p, O::tw);
    m.tsv = tenthsAt(p, O::tsv);
    m.tam = tenthsAt(p, O::tam);
    m.tse = tenthsAt(p, O::tse);
    m.flow = tenthsAt(p, O::flow);
    m.pwm = p[O::pwm];
    m.status = p[O::status];
    m.clockHour = p[O::clockHour];
    m.clockMinute = p[O::clockMinute];
    m.clockDay = p[O::clockDay];
    m.clockMonth = p[O::clockMonth];
    m.clockYear = p[O::clockYear];
    m.energyDay = int16At(p, O::energyDay);
    const std::uint32_t total = std::uint32_t(p[O::energyTotal]) | (std::uint32_t(p[O::energyTotal + 1]) << 8)
                                | (std::uint32_t(p[O::energyTotal + 2]) << 16)
                                | (std::uint32_t(p[O::energyTotal + 3]) << 24);
    m.energyTotal = static_cast<std::int32_t>(total);
    m.clockText = formatControllerClock(m.clockHour, m.clockMinute, m.clockDay, m.clockMonth, m.clockYear);
    return m;
}
