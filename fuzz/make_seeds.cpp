// Writes the seed inputs of the fuzz harnesses:
//   fuzz_make_seeds <corpus dir>
// fills <corpus dir>/bus_stream and <corpus dir>/client_input (both must exist).
// Bus streams come from FrameStreamBuilder and the frame encoder; client inputs
// carry the chunk-size header that fuzz_client_input expects.

#include "bus/frame_encoder.h"
#include "bus/frame_stream.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <initializer_list>

namespace {

QString corpusDir;

bool writeSeed(const char *harness, const char *name, const QByteArray &bytes)
{
    const QString path = QStringLiteral("%1/%2/%3").arg(corpusDir, QLatin1String(harness),
                                                         QLatin1String(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s: %d bytes\n", qPrintable(path), int(bytes.size()));
    return true;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Adds a frame with the given body; when the frame would hold a sync word of
// its own, changes a byte the receiver does not interpret and tries again.
void addFrameSomehow(FrameStreamBuilder &b, FrameKind kind, QByteArray body, bool bad = false)
{
    for (int attempt = 0; !b.addFrame(kind, body, bad); ++attempt)
        body[0] = char(attempt + 1);
}

Measurement measurement(double tsa, double tw, double tsv, double tam, double tse, double flow,
                        int pwm, int status, int energyDay, std::int32_t energyTotal)
{
    Measurement m;
    m.tsa = tsa;
    m.tw = tw;
    m.tsv = tsv;
    m.tam = tam;
    m.tse = tse;
    m.flow = flow;
    m.pwm = std::uint8_t(pwm);
    m.status = std::uint8_t(status);
    m.energyDay = std::int16_t(energyDay);
    m.energyTotal = energyTotal;
    m.clockHour = 9;
    m.clockMinute = 5;
    m.clockDay = 3;
    m.clockMonth = 7;
    m.clockYear = 25;
    return m;
}

// The receiver's edge cases, one after the other in one stream.
QByteArray edgeCases()
{
    QByteArray s;
    s += hex("23021020ab");          // a good 2302 frame
    s += hex("0000");                // dropped between frames
    s += hex("23021020ac");          // the same with a failing checksum
    s += hex("fc3e00112233445566778899"); // a data frame cut after 10 bytes ...
    s += hex("23021020ab");          // ... by a 2302 frame
    // A good FD05 frame whose last byte is FD; the 05 after it starts the next one.
    QByteArray body = hex("0102030405");
    std::uint8_t last = frameChecksum(FrameKind::SyncFD05, body);
    body[0] = char(std::uint8_t(body[0]) + std::uint8_t(last - 0xFD));
    s += encodeFrame(FrameKind::SyncFD05, body);
    s += hex("05aabbccddee00");
    return s;
}

// Good frames of every kind; data frames with plain, extreme and odd values and
// status codes whose texts hold umlauts or are unknown.
QByteArray allKinds()
{
    FrameStreamBuilder b(7);
    const Measurement values[] = {
        measurement(45.0, 52.3, 38.1, -3.5, 30.2, 4.5, 60, 0, 12, 3456),
        measurement(-3276.8, 3276.7, 0, -0.5, 0.1, 0, 255, 4, -1, -2147483647 - 1),
        measurement(120.4, 88.8, 99.9, 35.0, 60.6, 12.3, 100, 34, 32767, 2147483647),
        measurement(5, 5, 5, 5, 5, 5, 0, 12, -32768, 0),
        measurement(20, 45.5, -3.2, 0, 18.1, 0, 70, 27, 4, 300),
        measurement(1, 2, 3, 4, 5, 6, 7, 60, 8, 9),
        measurement(10, 20, 30, 40, 50, 6, 70, 255, 80, 90),
    };
    for (const Measurement &m : values) {
        addFrameSomehow(b, FrameKind::SyncFC3E, encodeDataBody(m));
        for (FrameKind kind : {FrameKind::SyncFC1F, FrameKind::Sync2302, FrameKind::SyncFD05})
            addFrameSomehow(b, kind, b.randomBody(kind));
        b.addNoise(3);
    }
    return b.takeBytes();
}

// The controller on a noisy line: good and bad frames, cut frames and noise.
QByteArray faults(std::uint32_t seed, int frames)
{
    FrameStreamBuilder b(seed);
    std::uniform_int_distribution<int> pick(0, 99);
    for (int i = 0; i < frames; ++i) {
        const FrameKind kind = kAllFrameKinds[pick(b.random()) % 4];
        const int roll = pick(b.random());
        if (roll < 10) {
            b.addCutFrame(kind, pick(b.random()) % payloadLength(kind));
        } else {
            QByteArray body = b.randomBody(kind);
            if (kind == FrameKind::SyncFC3E && roll < 60) {
                // Plausible values in the interpreted bytes.
                body = encodeDataBody(measurement(pick(b.random()) - 20, 40 + pick(b.random()) / 10.0,
                                                  35.5, -2.5, 30, pick(b.random()) / 10.0,
                                                  pick(b.random()), pick(b.random()) % 52, 7, 1234));
            }
            addFrameSomehow(b, kind, body, roll >= 90);
        }
        if (pick(b.random()) < 30)
            b.addNoise(1 + pick(b.random()) % 8);
    }
    return b.takeBytes();
}

// fuzz_client_input's layout: (number of size bytes - 1), the size bytes, the stream.
QByteArray clientInput(std::initializer_list<std::uint8_t> sizes, const QByteArray &stream)
{
    QByteArray out;
    out += char(sizes.size() - 1);
    for (std::uint8_t s : sizes)
        out += char(s);
    return out + stream;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    corpusDir = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    ok &= writeSeed("bus_stream", "edge_cases", edgeCases());
    ok &= writeSeed("bus_stream", "all_kinds", allKinds());
    ok &= writeSeed("bus_stream", "faults_1", faults(1, 40));
    ok &= writeSeed("bus_stream", "faults_2", faults(2, 40));
    ok &= writeSeed("bus_stream", "faults_3", faults(3, 12));

    ok &= writeSeed("client_input", "exit", clientInput({127}, "!exit\n"));
    ok &= writeSeed("client_input", "hello_exit", clientInput({3, 1, 5}, "hello\n!exit\n"));
    ok &= writeSeed("client_input", "exit_crlf", clientInput({2}, "!exit\r\n!EXIT\n!exit"));
    ok &= writeSeed("client_input", "exit_split", clientInput({1, 0, 2}, "x\n!exit\nrest"));
    ok &= writeSeed("client_input", "overlong_then_exit",
                    clientInput({0x80 | 70, 5}, QByteArray(1100, 'a') + "!exit\n" + "!exit\n"));
    ok &= writeSeed("client_input", "long_line_one_piece",
                    clientInput({0x80 | 100}, QByteArray(1500, 'b') + "\n!exit\n"));
    return ok ? 0 : 1;
}
