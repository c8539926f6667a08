#include "bus/frame_encoder.h"
#include "bus/frame_stream.h"
#include "bus/frame_synchronizer.h"
#include "bus/measurement.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QByteArray payloadOf(const CompletedFrame &f)
{
    return QByteArray(reinterpret_cast<const char *>(f.bytes.data()), f.length);
}

// "kind:payload-hex" for every frame the synchronizer returns, plus its counters.
struct Feed {
    QStringList frames;
    QList<quint64> counts; // good, bad for FC3E, FC1F, 2302, FD05
};

Feed feed(FrameSynchronizer &sync, const QByteArray &bytes)
{
    Feed out;
    for (char c : bytes)
        if (auto frame = sync.pushByte(std::uint8_t(c)))
            out.frames << QString::number(int(frame->kind), 16) + ':' + QString::fromLatin1(payloadOf(*frame).toHex());
    for (FrameKind k : kAllFrameKinds)
        out.counts << sync.counters(k).good << sync.counters(k).bad;
    return out;
}

QByteArray goodDataBody() { return QByteArray(62, '\x11'); }

} // namespace

class TestFrameSynchronizer : public QObject
{
    Q_OBJECT
private slots:
    void edgeCases_data();
    void edgeCases();
    void stateSurvivesBetweenChunks();
    void randomRoundTrip();
};

void TestFrameSynchronizer::edgeCases_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<QList<quint64>>("counts");

    const QByteArray data = encodeFrame(FrameKind::SyncFC3E, goodDataBody());
    const QString dataText = "fc3e:" + QString::fromLatin1(data.mid(2).toHex());

    QTest::newRow("good 2302") << hex("2302 1020ab") << QStringList{"2302:1020ab"}
                               << QList<quint64>{0, 0, 0, 0, 1, 0, 0, 0};
    QTest::newRow("bad 2302 counts bad") << hex("2302 1020ac") << QStringList{}
                                         << QList<quint64>{0, 0, 0, 0, 0, 1, 0, 0};
    QTest::newRow("all four kinds")
        << encodeFrame(FrameKind::SyncFC1F, QByteArray(31, '\x01')) + data + hex("2302 1020ab")
               + encodeFrame(FrameKind::SyncFD05, hex("0102030405"))
        << QStringList{"fc1f:" + QString::fromLatin1(encodeFrame(FrameKind::SyncFC1F, QByteArray(31, '\x01')).mid(2).toHex()),
                       dataText, "2302:1020ab",
                       "fd05:" + QString::fromLatin1(encodeFrame(FrameKind::SyncFD05, hex("0102030405")).mid(2).toHex())}
        << QList<quint64>{1, 0, 1, 0, 1, 0, 1, 0};
    QTest::newRow("FC 3E inside a data frame restarts it")
        << hex("fc3e") + QByteArray(20, '\x22') + hex("fc3e") + data.mid(2) << QStringList{dataText}
        << QList<quint64>{1, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("data frame cut by 23 02 after 10 bytes")
        << hex("fc3e") + QByteArray(10, '\x22') + hex("2302 1020ab") << QStringList{"2302:1020ab"}
        << QList<quint64>{0, 0, 0, 0, 1, 0, 0, 0};
    QTest::newRow("bytes before a sync word are dropped")
        << hex("000102 3e 1020ab 05 02") + hex("2302 1020ab") << QStringList{"2302:1020ab"}
        << QList<quint64>{0, 0, 0, 0, 1, 0, 0, 0};
    QTest::newRow("nothing without a sync word") << hex("0000 1020ab 3e1f0205") << QStringList{}
                                                  << QList<quint64>{0, 0, 0, 0, 0, 0, 0, 0};
    // 23 02 00 DE FD sums to 0; its last byte and the next 05 form FD 05.
    QTest::newRow("last byte FD and next 05 start FD05")
        << hex("2302 00defd 05 0000000000fe") << QStringList{"2302:00defd", "fd05:0000000000fe"}
        << QList<quint64>{0, 0, 0, 0, 1, 0, 1, 0};
    QTest::newRow("FC 3E as payload bytes 62 and 63 restart the frame")
        << hex("fc3e") + QByteArray(61, '\x22') + hex("fc3e") + data.mid(2) << QStringList{dataText}
        << QList<quint64>{1, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("bytes after a frame are dropped until the next sync")
        << hex("2302 1020ab 1020ab 2302 1020ab") << QStringList{"2302:1020ab", "2302:1020ab"}
        << QList<quint64>{0, 0, 0, 0, 2, 0, 0, 0};
    QTest::newRow("a sync word of the same kind restarts the frame")
        << hex("2302 10 2302 1020ab") << QStringList{"2302:1020ab"} << QList<quint64>{0, 0, 0, 0, 1, 0, 0, 0};
    QTest::newRow("bad data frame") << hex("fc3e") + QByteArray(63, '\x01') << QStringList{}
                                    << QList<quint64>{0, 1, 0, 0, 0, 0, 0, 0};
}

void TestFrameSynchronizer::edgeCases()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, frames);
    QFETCH(QList<quint64>, counts);
    FrameSynchronizer sync;
    const Feed got = feed(sync, stream);
    QCOMPARE(got.frames, frames);
    QCOMPARE(got.counts, counts);
}

// A frame split over two reads (as when the port is closed and re-opened in the
// middle of a frame) goes on with the next bytes.
void TestFrameSynchronizer::stateSurvivesBetweenChunks()
{
    const QByteArray frame = encodeFrame(FrameKind::SyncFC3E, goodDataBody());
    FrameSynchronizer sync;
    QVERIFY(feed(sync, frame.left(30)).frames.isEmpty());
    QCOMPARE(feed(sync, frame.mid(30)).frames.size(), 1);
    QCOMPARE(sync.counters(FrameKind::SyncFC3E).good, quint64(1));
}

void TestFrameSynchronizer::randomRoundTrip()
{
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        FrameStreamBuilder builder(seed);
        std::mt19937 &rng = builder.random();
        auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

        QStringList expectedFrames;
        QList<Measurement> expectedValues;
        for (int i = 0; i < 400; ++i) {
            const FrameKind kind = kAllFrameKinds[pick(0, 3)];
            const int action = pick(0, 9); // 0..5 good, 6..7 bad, 8 cut, 9 noise
            if (action == 9) {
                builder.addNoise(pick(1, 40));
                continue;
            }
            if (action == 8) {
                builder.addCutFrame(kind, pick(0, payloadLength(kind) - 2));
                continue;
            }
            const bool bad = action >= 6;
            Measurement m;
            QByteArray body;
            do {
                if (kind == FrameKind::SyncFC3E) {
                    m.tsa = pick(-32768, 32767) / 10.0;
                    m.tw = pick(-32768, 32767) / 10.0;
                    m.tsv = pick(-32768, 32767) / 10.0;
                    m.tam = pick(-32768, 32767) / 10.0;
                    m.tse = pick(-32768, 32767) / 10.0;
                    m.flow = pick(-32768, 32767) / 10.0;
                    m.pwm = pick(0, 255);
                    m.status = pick(0, 255);
                    m.clockHour = pick(0, 255);
                    m.clockMinute = pick(0, 255);
                    m.clockDay = pick(0, 255);
                    m.clockMonth = pick(0, 255);
                    m.clockYear = pick(0, 255);
                    m.energyDay = std::int16_t(pick(-32768, 32767));
                    m.energyTotal = std::int32_t(std::uint32_t(rng()));
                    body = encodeDataBody(m);
                } else {
                    body = builder.randomBody(kind);
                }
            } while (!builder.addFrame(kind, body, bad));
            if (!bad) {
                expectedFrames << QString::number(int(kind), 16) + ':'
                                      + QString::fromLatin1(encodeFrame(kind, body).mid(2).toHex());
                if (kind == FrameKind::SyncFC3E)
                    expectedValues << m;
            }
        }

        FrameSynchronizer sync;
        QStringList frames;
        QList<Measurement> values;
        for (char c : builder.takeBytes()) {
            if (auto frame = sync.pushByte(std::uint8_t(c))) {
                frames << QString::number(int(frame->kind), 16) + ':' + QString::fromLatin1(payloadOf(*frame).toHex());
                if (frame->kind == FrameKind::SyncFC3E)
                    values << decodeDataFrame(frame->bytes);
            }
        }
        QCOMPARE(frames, expectedFrames);
        for (FrameKind k : kAllFrameKinds) {
            QCOMPARE(sync.counters(k).good, builder.expected(k).good);
            QCOMPARE(sync.counters(k).bad, builder.expected(k).bad);
        }
        QCOMPARE(values.size(), expectedValues.size());
        for (int i = 0; i < values.size(); ++i) {
            const Measurement &a = values[i], &e = expectedValues[i];
            QCOMPARE(a.tsa, e.tsa);
            QCOMPARE(a.tw, e.tw);
            QCOMPARE(a.tsv, e.tsv);
            QCOMPARE(a.tam, e.tam);
            QCOMPARE(a.tse, e.tse);
            QCOMPARE(a.flow, e.flow);
            QCOMPARE(a.pwm, e.pwm);
            QCOMPARE(a.status, e.status);
            QCOMPARE(a.energyDay, e.energyDay);
            QCOMPARE(a.energyTotal, e.energyTotal);
            QCOMPARE(a.clockText, formatControllerClock(e.clockHour, e.clockMinute, e.clockDay, e.clockMonth, e.clockYear));
        }
    }
}

QTEST_APPLESS_MAIN(TestFrameSynchronizer)
#include "test_frame_synchronizer.moc"
