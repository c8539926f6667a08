#include "forward_line.h"

#include "bus/status_text.h"

namespace {

// 'g' with default precision and "." as decimal point whatever the locale:
// 45.0 becomes "45", 52.3 stays "52.3".
QString decimal(double value)
{
    return QStringLiteral("%1").arg(value);
}

QString integer(qlonglong value)
{
    return QString::number(value);
}

} // namespace

QString formatForwardLine(const Measurement &m)
{
    // Built piece by piece rather than by chained arg() on one template, so a
    // status text can never be mistaken for a placeholder of a later field.
    QString line;
    line.reserve(160);
    line += QLatin1String("TSA:") + decimal(m.tsa);
    line += QLatin1String(";TW:") + decimal(m.tw);
    line += QLatin1String(";TSV:") + decimal(m.tsv);
    line += QLatin1String(";TAM:") + decimal(m.tam);
    line += QLatin1String(";TSE:") + decimal(m.tse);
    line += QLatin1String(";FLOW:") + decimal(m.flow);
    line += QLatin1String(";PWM:") + integer(m.pwm);
    line += QLatin1String(";EnergyDay:") + integer(m.energyDay);
    line += QLatin1String(";EnergyTotal:") + integer(m.energyTotal);
    line += QLatin1String(";Status:") + statusText(m.status);
    line += QLatin1String(";ErrorCode:") + integer(m.status);
    line += QLatin1Char(';');
    return line;
}

QByteArray forwardLineBytes(const Measurement &m)
{
    return formatForwardLine(m).toLatin1();
}
