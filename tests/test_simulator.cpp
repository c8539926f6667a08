#include "bus/frame_encoder.h"
#include "bus/frame_synchronizer.h"
#include "bus/measurement.h"
#include "bus/status_text.h"
#include "tools/sim_model.h"
#include "tools/sim_stream.h"

#include <QtTest>

#include <cmath>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char *const kSim = TARALBUS_SIM;

long tenths(double v) { return std::lround(v * 10.0); }

long difference(const Measurement &m) { return tenths(m.tsa) - tenths(m.tw); }

// The values line as the monitor forwards it, built here from the template.
QString expectedLine(const Measurement &m)
{
    return QStringLiteral("TSA:%1;TW:%2;TSV:%3;TAM:%4;TSE:%5;FLOW:%6;PWM:%7;EnergyDay:%8;"
                          "EnergyTotal:%9;Status:%10;ErrorCode:%11;\n")
        .arg(m.tsa).arg(m.tw).arg(m.tsv).arg(m.tam).arg(m.tse).arg(m.flow)
        .arg(m.pwm).arg(m.energyDay).arg(m.energyTotal).arg(statusText(m.status)).arg(m.status);
}

// Everything a receiver makes of a byte stream.
struct Received {
    std::map<FrameKind, PacketCounters> counts;
    QList<Measurement> data;
};

Received receive(const QByteArray &bytes)
{
    FrameSynchronizer sync;
    Received r;
    for (char c : bytes)
        if (auto frame = sync.pushByte(std::uint8_t(c)))
            if (frame->kind == FrameKind::SyncFC3E)
                r.data << decodeDataFrame(frame->bytes);
    for (FrameKind k : kAllFrameKinds)
        r.counts[k] = sync.counters(k);
    return r;
}

QString kindName(FrameKind k)
{
    return QString::number(int(k), 16).toUpper();
}

// "sent FC3E good=1 bad=2" becomes FC3E.good and FC3E.bad; "cut=3" becomes cut.
std::map<QString, quint64> parseReport(const QByteArray &text)
{
    std::map<QString, quint64> r;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.startsWith(QLatin1String("sent "))) {
            const QStringList parts = line.split(' ');
            for (int i = 2; i < parts.size(); ++i) {
                const QStringList kv = parts[i].split('=');
                if (kv.size() == 2)
                    r[parts[1] + '.' + kv[0]] = kv[1].toULongLong();
            }
        } else if (line.contains('=')) {
            const QStringList kv = line.split('=');
            r[kv[0]] = kv[1].toULongLong();
        }
    }
    return r;
}

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    while (!f.atEnd())
        lines << QString::fromLatin1(f.readLine());
    return lines;
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runSim(const QStringList &args)
{
    QProcess p;
    p.start(QString::fromLocal8Bit(kSim), args);
    Run r;
    if (!p.waitForStarted() || !p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// Opens a serial device the way a monitor does: raw 8-bit, no controlling tty.
int openRaw(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return fd;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Reads until the first good data frame; a generous poll limit only keeps a
// broken simulator from hanging the test.
std::optional<Measurement> readFirstDataFrame(int fd)
{
    FrameSynchronizer sync;
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0)
            return std::nullopt;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0)
            return std::nullopt;
        for (ssize_t i = 0; i < n; ++i)
            if (auto frame = sync.pushByte(std::uint8_t(buffer[i])))
                if (frame->kind == FrameKind::SyncFC3E)
                    return decodeDataFrame(frame->bytes);
    }
}

// Starts the simulator on a pty and waits for its two announcement lines.
bool startOnPty(QProcess &p, const QStringList &args, QString *device, QString *link)
{
    p.start(QString::fromLocal8Bit(kSim), args);
    if (!p.waitForStarted())
        return false;
    QByteArray out;
    while (out.count('\n') < 2) {
        if (!p.waitForReadyRead(30000))
            return false;
        out += p.readAllStandardOutput();
    }
    const QList<QByteArray> lines = out.split('\n');
    if (!lines[0].startsWith("device: ") || !lines[1].startsWith("link: "))
        return false;
    *device = QString::fromLocal8Bit(lines[0].mid(8));
    *link = QString::fromLocal8Bit(lines[1].mid(6));
    return true;
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT
private slots:
    void plantOverTwoDays();
    void startState_data();
    void startState();
    void clockRollsOver_data();
    void clockRollsOver();
    void syncWordInValueIsNudged_data();
    void syncWordInValueIsNudged();
    void syncWordInClockLosesFrame();
    void faultyStreamKeepsExactBooks();
    void stdoutRunMatchesReport_data();
    void stdoutRunMatchesReport();
    void terminatedRunReportsWhatWentOut();
    void sameSeedSameBytes();
    void badOptionsRejected_data();
    void badOptionsRejected();
    void ptyDeliversFramesAndCleansUp();
    void attachedReaderLosesNothing_data();
    void attachedReaderLosesNothing();
    void lateReaderGetsCurrentFrames();
};

void TestSimulator::plantOverTwoDays()
{
    const QDate firstDay(2025, 6, 3);
    SimModel model(firstDay, 0.0, 7);
    const QDateTime start(firstDay, QTime(0, 0), Qt::UTC);

    Measurement previous = model.reading();
    bool pumpWasOn = model.pumpOn();
    int starts = 0, stops = 0;
    int pumpRunSeconds = 0;
    double runStartTank = 0;
    int runsThatWarmedTank = 0;
    double collectorMax = -100;
    std::int32_t totalAtMidnight = previous.energyTotal;

    for (int second = 1; second <= 2 * 86400; ++second) {
        model.advance(1.0);
        const Measurement m = model.reading();
        const bool on = model.pumpOn();

        // Pump, PWM and flow agree.
        QCOMPARE(on, m.pwm != 0);
        QCOMPARE(on, m.flow != 0.0);
        if (on) {
            QVERIFY2(m.pwm >= 30 && m.pwm <= 100, qPrintable(m.clockText));
            QVERIFY(m.flow >= 1.0 && m.flow <= 6.0);
        }
        // Hysteresis: on from 7 K, off below 3 K, nothing else switches.
        if (on && !pumpWasOn) {
            ++starts;
            QVERIFY2(difference(m) >= 70, qPrintable(m.clockText));
            runStartTank = m.tw;
            pumpRunSeconds = 0;
        }
        if (!on && pumpWasOn) {
            ++stops;
            QVERIFY2(difference(m) < 30, qPrintable(m.clockText));
            if (pumpRunSeconds >= 1800 && m.tw > runStartTank)
                ++runsThatWarmedTank;
        }
        if (on && pumpWasOn)
            QVERIFY2(difference(m) >= 30, qPrintable(m.clockText));
        if (!on && !pumpWasOn)
            QVERIFY2(difference(m) < 70, qPrintable(m.clockText));
        if (on)
            ++pumpRunSeconds;

        // A standing pump never warms the tank.
        if (!pumpWasOn)
            QVERIFY2(m.tw <= previous.tw, qPrintable(m.clockText));
        // Flow and return pipes carry collector and tank heat after a while.
        if (on && pumpRunSeconds > 600) {
            QVERIFY2(std::abs(m.tsv - m.tsa) <= 2.0, qPrintable(m.clockText));
            QVERIFY2(m.tse >= m.tw - 0.2 && m.tse <= m.tsa + 0.2, qPrintable(m.clockText));
        }

        // Outdoor temperature follows the day within 5..20 °C.
        QVERIFY(m.tam >= 4.9 && m.tam <= 20.1);
        if (m.clockHour == 3)
            QVERIFY2(std::abs(m.tsa - m.tam) <= 1.5, qPrintable(m.clockText));
        collectorMax = std::max(collectorMax, m.tsa);

        // The clock runs with model time.
        const QDateTime expected = start.addSecs(second);
        QCOMPARE(int(m.clockHour), expected.time().hour());
        QCOMPARE(int(m.clockMinute), expected.time().minute());
        QCOMPARE(int(m.clockDay), expected.date().day());
        QCOMPARE(int(m.clockMonth), expected.date().month());
        QCOMPARE(int(m.clockYear), expected.date().year() % 100);

        // Energies: the total only grows; the day's yield only grows and
        // starts again at midnight, after the day's yield went into the total.
        QVERIFY(m.energyTotal >= previous.energyTotal);
        if (second % 86400 == 0) {
            QCOMPARE(m.energyDay, std::int16_t(0));
            QVERIFY2(previous.energyDay >= 8, "a sunny day yields several kWh");
            QVERIFY(std::abs((m.energyTotal - totalAtMidnight) - previous.energyDay) <= 1);
            totalAtMidnight = m.energyTotal;
        } else {
            QVERIFY(m.energyDay >= previous.energyDay);
        }

        previous = m;
        pumpWasOn = on;
    }
    QVERIFY2(collectorMax >= 65 && collectorMax <= 95, qPrintable(QString::number(collectorMax)));
    QVERIFY(starts >= 2);
    QVERIFY(stops >= 2);
    QVERIFY(runsThatWarmedTank >= 2);
}

void TestSimulator::startState_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<bool>("pumpRuns");
    QTest::addColumn<bool>("yieldSoFar");
    QTest::newRow("3:00") << QTime(3, 0) << false << false;
    QTest::newRow("12:30") << QTime(12, 30) << true << true;
    QTest::newRow("22:00") << QTime(22, 0) << false << true;
}

void TestSimulator::startState()
{
    // The first reading already fits the time of day.
    QFETCH(QTime, time);
    QFETCH(bool, pumpRuns);
    QFETCH(bool, yieldSoFar);
    SimModel model(QDate(2025, 7, 10), time.msecsSinceStartOfDay() / 1000.0, 3);
    const Measurement &m = model.reading();
    QCOMPARE(model.pumpOn(), pumpRuns);
    QCOMPARE(m.energyDay > 0, yieldSoFar);
    QCOMPARE(int(m.clockHour), time.hour());
    QCOMPARE(int(m.clockMinute), time.minute());
    QCOMPARE(int(m.clockDay), 10);
    QVERIFY(m.tw >= 25 && m.tw <= 75);
}

void TestSimulator::clockRollsOver_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("new year") << QDate(2024, 12, 31) << "23:59  31.12.2024" << "0:00  1.1.2025";
    QTest::newRow("february") << QDate(2025, 2, 28) << "23:59  28.2.2025" << "0:00  1.3.2025";
    QTest::newRow("leap day") << QDate(2024, 2, 28) << "23:59  28.2.2024" << "0:00  29.2.2024";
}

void TestSimulator::clockRollsOver()
{
    QFETCH(QDate, date);
    QFETCH(QString, before);
    QFETCH(QString, after);
    SimModel model(date, 86400 - 30, 1);
    QCOMPARE(model.reading().clockText, before);
    model.advance(29);
    QCOMPARE(model.reading().clockText, before);
    QVERIFY(model.reading().energyDay > 0);
    model.advance(1);
    QCOMPARE(model.reading().clockText, after);
    QCOMPARE(model.reading().energyDay, std::int16_t(0));
}

void TestSimulator::syncWordInValueIsNudged_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("sent");
    // 54.7 is 0x0223, on the wire 23 02; 153.3 is 0x05FD, FD 05.
    QTest::newRow("collector 54.7") << "tsa" << 54.7 << 54.8;
    QTest::newRow("tank 54.7") << "tw" << 54.7 << 54.8;
    QTest::newRow("return 54.7") << "tse" << 54.7 << 54.8;
    QTest::newRow("collector 153.3") << "tsa" << 153.3 << 153.4;
    QTest::newRow("no sync word") << "tsa" << 54.6 << 54.6;
}

void TestSimulator::syncWordInValueIsNudged()
{
    QFETCH(QString, field);
    QFETCH(double, value);
    QFETCH(double, sent);
    Measurement m;
    m.tsa = 60.1; m.tw = 45.2; m.tsv = 59.3; m.tam = 18.4; m.tse = 47.5; m.flow = 2.5;
    m.pwm = 70; m.clockHour = 12; m.clockMinute = 30; m.clockDay = 3; m.clockMonth = 6;
    m.clockYear = 25; m.energyDay = 6; m.energyTotal = 20000;
    double *target = field == "tsa" ? &m.tsa : field == "tw" ? &m.tw : &m.tse;
    *target = value;

    SimStream stream(1, FaultRates{});
    const std::optional<Measurement> out = stream.addDataFrame(m, false);
    QVERIFY(out);
    Measurement expected = m;
    *(field == "tsa" ? &expected.tsa : field == "tw" ? &expected.tw : &expected.tse) = sent;
    QCOMPARE(expectedLine(*out), expectedLine(expected));
    QCOMPARE(stream.nudges(), quint64(value == sent ? 0 : 1));

    const Received r = receive(stream.takeBytes());
    QCOMPARE(r.data.size(), 1);
    QCOMPARE(expectedLine(r.data[0]), expectedLine(expected));
    QCOMPARE(r.counts.at(FrameKind::SyncFC3E).bad, quint64(0));
}

void TestSimulator::syncWordInClockLosesFrame()
{
    // At minute 35 (0x23) on the 2nd of a month the clock bytes read 23 02:
    // no value can move, so the frame parts on the bus like a real one would.
    Measurement m;
    m.tsa = 60.1; m.tw = 45.2; m.clockHour = 10; m.clockMinute = 35; m.clockDay = 2;
    m.clockMonth = 6; m.clockYear = 25;
    SimStream stream(1, FaultRates{});
    QVERIFY(!stream.addDataFrame(m, false));
    QVERIFY(stream.addDataFrame(m, false) == std::nullopt);
    m.clockMinute = 36;
    QVERIFY(stream.addDataFrame(m, false));
    QCOMPARE(stream.unsendableDataFrames(), quint64(2));
    QCOMPARE(stream.cutFrames(), quint64(2));

    const Received r = receive(stream.takeBytes());
    QCOMPARE(r.data.size(), 1);
    QCOMPARE(int(r.data[0].clockMinute), 36);
    for (FrameKind k : kAllFrameKinds) {
        QCOMPARE(r.counts.at(k).good, stream.expected(k).good);
        QCOMPARE(r.counts.at(k).bad, stream.expected(k).bad);
    }
}

void TestSimulator::faultyStreamKeepsExactBooks()
{
    // Far more faults than --faults uses, over two hours, through the monitor's
    // synchronizer.
    SimModel model(QDate(2025, 6, 2), 10 * 3600.0, 5);
    SimStream stream(99, FaultRates{0.15, 0.15, 0.5, 0.15});
    QByteArray bytes;
    QStringList sentLines;
    for (int second = 0; second < 7200; ++second) {
        if (second > 0)
            model.advance(1.0);
        if (auto sent = stream.addSecond(model.reading()))
            sentLines << valuesLine(*sent);
        bytes += stream.takeBytes();
    }
    const Received r = receive(bytes);
    for (FrameKind k : kAllFrameKinds) {
        QCOMPARE(r.counts.at(k).good, stream.expected(k).good);
        QCOMPARE(r.counts.at(k).bad, stream.expected(k).bad);
        QVERIFY(stream.expected(k).bad > 0);
    }
    QVERIFY(stream.cutFrames() > 0);
    QVERIFY(stream.noiseBytes() > 0);
    // 10:35 on the 2nd lies inside the run.
    QVERIFY(stream.unsendableDataFrames() > 0);
    QCOMPARE(r.data.size(), sentLines.size());
    for (int i = 0; i < r.data.size(); ++i)
        QCOMPARE(expectedLine(r.data[i]), sentLines[i]);
}

void TestSimulator::stdoutRunMatchesReport_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("faults");
    QTest::addColumn<int>("status");
    QTest::newRow("clean") << QStringList{"--start-time", "2025-06-03T12:00"} << 50 << false << 0;
    QTest::newRow("faults across a lost minute")
        << QStringList{"--faults", "--start-time", "2025-06-02T10:34"} << 300 << true << 0;
    QTest::newRow("faults and a status")
        << QStringList{"--faults", "--status", "34", "--start-time", "2025-01-15T08:00:00"} << 200
        << true << 34;
}

void TestSimulator::stdoutRunMatchesReport()
{
    QFETCH(QStringList, extra);
    QFETCH(int, count);
    QFETCH(bool, faults);
    QFETCH(int, status);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString values = dir.filePath("values.txt");
    const Run run = runSim(QStringList{"--stdout", "--count", QString::number(count), "--seed", "11",
                                       "--speed", "100000", "--values", values} + extra);
    QCOMPARE(run.exitCode, 0);

    const Received r = receive(run.out);
    const auto report = parseReport(run.err);
    for (FrameKind k : kAllFrameKinds) {
        QCOMPARE(r.counts.at(k).good, report.at(kindName(k) + ".good"));
        QCOMPARE(r.counts.at(k).bad, report.at(kindName(k) + ".bad"));
        QVERIFY(r.counts.at(k).good > 0);
    }
    QCOMPARE(r.counts.at(FrameKind::SyncFC3E).good, quint64(count));
    QCOMPARE(report.at("bytes"), quint64(run.out.size()));
    const quint64 bad = report.at("FC3E.bad") + report.at("FC1F.bad") + report.at("2302.bad")
                        + report.at("FD05.bad");
    QCOMPARE(bad > 0, faults);
    QCOMPARE(report.at("noise") > 0, faults);

    const QStringList lines = readLines(values);
    QCOMPARE(lines.size(), count);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(lines[i], expectedLine(r.data[i]));
        QCOMPARE(int(r.data[i].status), status);
        // The clock bytes of 10:35 on a 2nd contain a sync word: such frames
        // never arrive whole.
        QVERIFY(!(r.data[i].clockDay == 2 && r.data[i].clockMinute == 35));
    }
    if (extra.contains("2025-06-02T10:34"))
        QVERIFY(report.at("lost-data") > 0);
}

void TestSimulator::terminatedRunReportsWhatWentOut()
{
    // SIGTERM in the middle of a second (at bus pace its first bytes are out
    // long before its last): the second is finished first, so the report
    // still matches the bytes exactly.
    QProcess sim;
    sim.start(QString::fromLocal8Bit(kSim), {"--stdout", "--faults", "--seed", "4"});
    QVERIFY(sim.waitForStarted());
    QVERIFY(sim.waitForReadyRead(30000));
    sim.terminate();
    QByteArray out = sim.readAllStandardOutput();
    QVERIFY(sim.waitForFinished(30000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    out += sim.readAllStandardOutput();
    QVERIFY(out.size() >= 65);

    const Received r = receive(out);
    const auto report = parseReport(sim.readAllStandardError());
    QCOMPARE(report.at("bytes"), quint64(out.size()));
    for (FrameKind k : kAllFrameKinds) {
        QCOMPARE(r.counts.at(k).good, report.at(kindName(k) + ".good"));
        QCOMPARE(r.counts.at(k).bad, report.at(kindName(k) + ".bad"));
    }
}

void TestSimulator::sameSeedSameBytes()
{
    const QStringList args{"--stdout", "--count", "120", "--faults", "--speed", "100000",
                           "--start-time", "2025-06-03T11:00"};
    const Run a = runSim(args + QStringList{"--seed", "5"});
    const Run b = runSim(args + QStringList{"--seed", "5"});
    const Run c = runSim(args + QStringList{"--seed", "6"});
    QCOMPARE(a.exitCode, 0);
    QVERIFY(a.out.size() > 120 * 65);
    QVERIFY(a.out == b.out);
    QVERIFY(a.out != c.out);
}

void TestSimulator::badOptionsRejected_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("rate above 1") << QStringList{"--stdout", "--bad-rate", "1.5"};
    QTest::newRow("count 0") << QStringList{"--stdout", "--count", "0"};
    QTest::newRow("speed 0") << QStringList{"--stdout", "--speed", "0"};
    QTest::newRow("status 256") << QStringList{"--stdout", "--status", "256"};
    QTest::newRow("start 25:00") << QStringList{"--stdout", "--start-time", "25:00"};
    QTest::newRow("link and stdout") << QStringList{"--stdout", "--link", "/tmp/x"};
}

void TestSimulator::badOptionsRejected()
{
    QFETCH(QStringList, args);
    const Run run = runSim(QStringList{"--count", "1"} + args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY(run.err.startsWith("taralbus-sim: "));
}

void TestSimulator::ptyDeliversFramesAndCleansUp()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString linkPath = dir.filePath("tty");
    const QString values = dir.filePath("values.txt");
    // A stale link from an earlier run is replaced.
    QVERIFY(QFile::link("/nonexistent", linkPath));

    QProcess sim;
    QString device, link;
    QVERIFY(startOnPty(sim, {"--link", linkPath, "--speed", "20", "--faults", "--values", values},
                       &device, &link));
    QCOMPARE(link, linkPath);
    QCOMPARE(QFileInfo(linkPath).symLinkTarget(), device);

    const int fd = openRaw(linkPath);
    QVERIFY(fd >= 0);
    const std::optional<Measurement> frame = readFirstDataFrame(fd);
    ::close(fd);
    QVERIFY(frame);
    // The frame carries values the simulator says it sent.
    QVERIFY(readLines(values).contains(expectedLine(*frame)));

    sim.terminate();
    QVERIFY(sim.waitForFinished(30000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    const auto report = parseReport(sim.readAllStandardError());
    QVERIFY(report.count("FC3E.good"));
    QVERIFY(report.at("FC3E.good") >= 1);
    QCOMPARE(report.at("FC3E.good"), quint64(readLines(values).size()));
    QVERIFY(report.count("cut") && report.count("bytes") && report.count("flushed"));
    QVERIFY(!QFileInfo(linkPath).isSymLink());
    QVERIFY(!QFileInfo::exists(linkPath));
}

void TestSimulator::attachedReaderLosesNothing_data()
{
    QTest::addColumn<int>("pauseMs");
    QTest::newRow("fast reader") << 0;
    // Reads far slower than the simulator writes at this speed: the simulator
    // has to wait for it instead of discarding what it has not read yet.
    QTest::newRow("slow reader") << 5;
}

void TestSimulator::attachedReaderLosesNothing()
{
    QFETCH(int, pauseMs);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString linkPath = dir.filePath("tty");
    const QString values = dir.filePath("values.txt");
    QProcess sim;
    QString device, link;
    QVERIFY(startOnPty(sim, {"--link", linkPath, "--speed", "5000", "--count", "1000", "--faults",
                             "--seed", "8", "--start-time", "2025-06-03T09:00", "--values", values},
                       &device, &link));
    const int fd = openRaw(linkPath);
    QVERIFY(fd >= 0);
    // Until the simulator ends and closes the pty.
    QByteArray bytes;
    char buffer[1024];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0)
            break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0)
            break;
        bytes.append(buffer, int(n));
        if (pauseMs > 0)
            QThread::msleep(pauseMs);
    }
    ::close(fd);
    QVERIFY(sim.waitForFinished(30000));
    QCOMPARE(sim.exitCode(), 0);

    // What arrived is the tail of what was sent, without a gap: bytes written
    // before the port was opened may have been discarded, none after.
    const Received r = receive(bytes);
    const QStringList lines = readLines(values);
    QCOMPARE(lines.size(), 1000);
    QVERIFY(r.data.size() >= 500);
    const int first = lines.size() - r.data.size();
    const QByteArray report = sim.readAllStandardError();
    for (int i = 0; i < r.data.size(); ++i)
        QVERIFY2(expectedLine(r.data[i]) == lines[first + i],
                 qPrintable(QStringLiteral("frame %1 of %2 received; %3").arg(i).arg(r.data.size()).arg(QString::fromLatin1(report).simplified())));
}

void TestSimulator::lateReaderGetsCurrentFrames()
{
    // Nobody reads for a model hour; a monitor opening the port then gets
    // frames of the last minutes, not the backlog from the start.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString linkPath = dir.filePath("tty");
    const QString values = dir.filePath("values.txt");
    QProcess sim;
    QString device, link;
    QVERIFY(startOnPty(sim, {"--link", linkPath, "--speed", "20000", "--seed", "3", "--start-time",
                             "2025-06-03T00:00", "--values", values},
                       &device, &link));
    QTRY_VERIFY_WITH_TIMEOUT(readLines(values).size() >= 3600, 120000);

    const int fd = openRaw(linkPath);
    QVERIFY(fd >= 0);
    const int sentBeforeOpen = readLines(values).size();
    const std::optional<Measurement> frame = readFirstDataFrame(fd);
    ::close(fd);
    QVERIFY(frame);
    const int frameMinute = frame->clockHour * 60 + frame->clockMinute;
    QVERIFY2(frameMinute >= (sentBeforeOpen - 1200) / 60,
             qPrintable(QStringLiteral("frame of %1 after %2 frames sent").arg(frame->clockText).arg(sentBeforeOpen)));

    sim.terminate();
    QVERIFY(sim.waitForFinished(30000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(parseReport(sim.readAllStandardError()).at("flushed") > 0);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
