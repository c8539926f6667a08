#include "csv_format.h"

#include "bus/status_text.h"

QByteArray csvHeader()
{
    return QStringLiteral("Zeit;TSA (°C);TW (°C);TSV (°C);TAM (°C);TSE (°C);Fluss (l/min);PWM (%);"
                          "Tagesleistung (kWh);Gesamtleistung (kWh);Status\n")
        .toLatin1();
}

QByteArray csvRow(const QDateTime &localTime, const Measurement &m)
{
    // Filled one placeholder at a time, so a "%" in a value cannot be taken
    // for a later placeholder.
    return QStringLiteral("%1;%2;%3;%4;%5;%6;%7;%8;%9;%10;%11;\n")
        .arg(localTime.toString(Qt::TextDate))
        .arg(m.tsa)
        .arg(m.tw)
        .arg(m.tsv)
        .arg(m.tam)
        .arg(m.tse)
        .arg(m.flow)
        .arg(int(m.pwm))
        .arg(m.energyDay)
        .arg(m.energyTotal)
        .arg(statusText(m.status))
        .toLatin1();
}

QString csvSuffix(int number)
{
    return QStringLiteral("_%1.CSV").arg(number);
}
