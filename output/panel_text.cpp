#include "panel_text.h"

#include "bus/status_text.h"

QStringList panelLines(const Measurement &m)
{
    return {
        QStringLiteral("TSA: %1 °C").arg(m.tsa),
        QStringLiteral("TW:  %1 °C").arg(m.tw),
        QStringLiteral("TSV: %1 °C").arg(m.tsv),
        QStringLiteral("TAM: %1 °C").arg(m.tam),
        QStringLiteral("TSE: %1 °C").arg(m.tse),
        QStringLiteral("Fluss: %1 l/min").arg(m.flow),
        QStringLiteral("PWM: %1").arg(int(m.pwm)),
        QStringLiteral("Tag: %1 kWh").arg(m.energyDay),
        QStringLiteral("Gesamt: %1 kWh").arg(m.energyTotal),
        QStringLiteral("Zeit: %1").arg(m.clockText),
        QStringLiteral("Status: %1").arg(statusText(m.status)),
        QStringLiteral("ErrorCode: %1").arg(int(m.status)),
    };
}

QString statisticsLine(const PacketCounters &counters)
{
    return QStringLiteral("\nPakete: %1 Ok / %2 Fehler").arg(counters.good).arg(counters.bad);
}
