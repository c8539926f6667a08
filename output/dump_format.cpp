#include "dump_format.h"

#include <QString>

QByteArray dumpRecord(int dumpLabel, const QByteArray &payload, int length, qint64 elapsedMs)
{
    static const char hexDigits[] = "0123456789abcdef";
    QByteArray out = QStringLiteral("Sync%1 (%2 msec):").arg(dumpLabel).arg(elapsedMs).toLatin1();
    out.reserve(out.size() + length * 3 + (length / 10 + 2) * 2);
    for (int i = 0; i < length && i < payload.size(); ++i) {
        if (i % 10 == 0)
            out += "\r\n";
        const auto byte = std::uint8_t(payload[i]);
        out += hexDigits[byte >> 4];
        out += hexDigits[byte & 0xF];
        out += ' ';
    }
    out += "\r\n";
    return out;
}
