// End-to-end runs against the controller simulator: the real monitor program
// and the real window code read the simulator's pseudo-terminal, and what they
// forward, count and record is checked against the simulator's own books.

#include "test_support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kMonitorExe = QStringLiteral(TARALBUS_EXE);
const QString kSimExe = QStringLiteral(TARALBUS_SIM);
// Controller clock at the simulator's start: a summer morning, so the pump
// runs and the values move, and far from the one clock reading whose bytes
// form a sync word.
const QString kStartTime = QStringLiteral("2025-07-03T11:00:00");

QStringList readLatin1Lines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (!line.isEmpty())
            lines << QString::fromLatin1(line);
    return lines;
}

// "sent FC3E good=1 bad=2" becomes FC3E.good and FC3E.bad; "cut=3" becomes cut.
std::map<QString, quint64> parseReport(const QByteArray &text)
{
    std::map<QString, quint64> r;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        if (line.startsWith(QLatin1String("sent "))) {
            const QStringList parts = line.split(QLatin1Char(' '));
            for (int i = 2; i < parts.size(); ++i) {
                const QStringList kv = parts[i].split(QLatin1Char('='));
                if (kv.size() == 2)
                    r[parts[1] + QLatin1Char('.') + kv[0]] = kv[1].toULongLong();
            }
        } else if (line.contains(QLatin1Char('='))) {
            const QStringList kv = line.split(QLatin1Char('='));
            r[kv[0]] = kv[1].toULongLong();
        }
    }
    return r;
}

QString kindName(FrameKind kind)
{
    return QString::number(int(kind), 16).toUpper();
}

// A loopback port that nobody listens on right now.
quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// The path of the "link: <path>" line once the whole line has arrived.
QString announcedLink(const QByteArray &out)
{
    const int at = out.indexOf("link: ");
    if (at < 0)
        return {};
    const int end = out.indexOf('\n', at);
    if (end < 0)
        return {};
    return QString::fromLocal8Bit(out.mid(at + 6, end - at - 6));
}

// The first `count` values of a values line (the part after each "KEY:").
QStringList lineValues(const QString &line, int count)
{
    QStringList values;
    for (const QString &field : line.split(QLatin1Char(';'))) {
        if (values.size() == count)
            break;
        values << field.mid(field.indexOf(QLatin1Char(':')) + 1);
    }
    return values;
}

// The monitor's lines must be the simulator's last lines, one for one: the
// monitor may have missed the frames written before it opened the port, but
// none after, and it has handled the very last one.
QString compareEndAnchored(const QStringList &monitor, const QStringList &sim)
{
    if (monitor.size() > sim.size())
        return QStringLiteral("%1 lines from the monitor, only %2 from the simulator").arg(monitor.size()).arg(sim.size());
    const int offset = sim.size() - monitor.size();
    for (int i = 0; i < monitor.size(); ++i) {
        if (monitor[i] != sim[offset + i])
            return QStringLiteral("monitor line %1 of %2:\n  %3\nsimulator line %4 of %5:\n  %6")
                .arg(i + 1).arg(monitor.size()).arg(monitor[i]).arg(offset + i + 1).arg(sim.size()).arg(sim[offset + i]);
    }
    return {};
}

// The simulator as a child process.
class SimRun
{
public:
    ~SimRun()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
        if (fifoRead >= 0)
            ::close(fifoRead);
    }

    // Starts it and waits until it has announced its link.
    bool start(const QStringList &args)
    {
        proc.start(kSimExe, args);
        if (!proc.waitForStarted(10000))
            return false;
        QByteArray out;
        const bool announced = QTest::qWaitFor([&] {
            out += proc.readAllStandardOutput();
            return !announcedLink(out).isEmpty() || proc.state() == QProcess::NotRunning;
        }, 10000);
        linkSeen.start();
        link = announcedLink(out);
        return announced && !link.isEmpty() && proc.state() == QProcess::Running;
    }

    // Starts it but keeps it from writing a single bus byte until release():
    // its standard output is a full pipe, so it blocks announcing the link it
    // has just made, before its pacer runs.
    bool startHeld(const QStringList &args, const QString &linkPath, const QString &fifoPath)
    {
        const QByteArray fifo = QFile::encodeName(fifoPath);
        if (::mkfifo(fifo.constData(), 0600) != 0)
            return false;
        fifoRead = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int fill = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fifoRead < 0 || fill < 0)
            return false;
        ::fcntl(fill, F_SETPIPE_SZ, 4096); // less to fill; the default size works too
        // Whole pages first, then single bytes until the last page is full
        // as well: then even a short write blocks.
        const QByteArray page(4096, '.');
        while (::write(fill, page.constData(), size_t(page.size())) > 0) {
        }
        while (::write(fill, ".", 1) == 1) {
        }
        const bool full = errno == EAGAIN;
        proc.setStandardOutputFile(fifoPath);
        proc.start(kSimExe, args);
        ::close(fill);
        if (!full || !proc.waitForStarted(10000))
            return false;
        const bool linked = QTest::qWaitFor([&] {
            return QFileInfo::exists(linkPath) || proc.state() == QProcess::NotRunning;
        }, 10000);
        link = linkPath;
        return linked && proc.state() == QProcess::Running;
    }

    // Lets a held simulator go on: empties the pipe, so its announcement goes
    // through and it starts writing.
    bool release()
    {
        QByteArray out;
        return QTest::qWaitFor([&] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(fifoRead, buffer, sizeof buffer)) > 0)
                out.append(buffer, int(n));
            return announcedLink(out) == link;
        }, 10000);
    }

    // SIGTERM; it finishes the current second, waits for the reader to
    // drain the pty and reports.
    bool terminate(int timeoutMs = 20000)
    {
        proc.terminate();
        return waitFinished(timeoutMs);
    }
    bool waitFinished(int timeoutMs)
    {
        return QTest::qWaitFor([&] { return proc.state() == QProcess::NotRunning; }, timeoutMs);
    }
    bool endedCleanly() const { return proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0; }
    QByteArray reportText() { return errText += proc.readAllStandardError(); }
    std::map<QString, quint64> report() { return parseReport(reportText()); }

    QProcess proc;
    QString link;
    QElapsedTimer linkSeen; // since the link was announced

private:
    int fifoRead = -1;
    QByteArray errText;
};

// The real monitor program, copied into a directory of its own so that its
// settings file and outputs are the test's.
class MonitorRun
{
public:
    ~MonitorRun()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }

    bool start(const QString &link, quint16 serverPort)
    {
        exe = dir.filePath(QStringLiteral("taralbus"));
        iniPath = dir.filePath(QStringLiteral("taralbus.ini"));
        if (!dir.isValid() || !QFile::copy(kMonitorExe, exe))
            return false;
        // Hand-written, comment included: a program that saved its settings
        // would not leave these bytes as they are.
        iniBytes = QStringLiteral("; monitor settings for an end-to-end run\n"
                                  "[System]\nCOMPort=%1\n"
                                  "[View]\nPlot=true\nLog=true\n"
                                  "[Server]\nActiv=true\nIP=127.0.0.1\nPort=%2\nInterval=0\n"
                                  "[Window]\nPosX=12\nPosY=34\nWidth=640\nHeight=420\n")
                       .arg(link)
                       .arg(serverPort)
                       .toLatin1();
        QFile ini(iniPath);
        if (!ini.open(QIODevice::WriteOnly) || ini.write(iniBytes) != iniBytes.size())
            return false;
        ini.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        proc.setProcessEnvironment(env);
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.start(exe, {QStringLiteral("--port"), link});
        return proc.waitForStarted(10000);
    }

    QByteArray iniNow() const
    {
        QFile ini(iniPath);
        return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray("(no file)");
    }

    // User plus system CPU time so far, from /proc/<pid>/stat.
    double cpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(proc.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray text = stat.readAll();
        // Fields after the command name in parentheses; utime and stime are
        // the 14th and 15th of the line.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            return -1;
        return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
    }

    QString output() { return QString::fromLocal8Bit(out += proc.readAll()); }

    QTemporaryDir dir;
    QProcess proc;
    QString exe;
    QString iniPath;
    QByteArray iniBytes;

private:
    QByteArray out;
};

// A client of the forwarding server. The value lines have no line end; the
// stream is cut before each "TSA:", and the last line counts once it is
// whole (it ends in the error code and ";").
class ValueLineClient : public QObject
{
public:
    ValueLineClient()
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { take(); });
    }

    // Tries again until the monitor listens.
    bool connectTo(quint16 port, int timeoutMs)
    {
        return QTest::qWaitFor([&] {
            if (socket.state() == QAbstractSocket::UnconnectedState)
                socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.state() == QAbstractSocket::ConnectedState;
        }, timeoutMs);
    }

    QString last() const { return lines.isEmpty() ? QString() : lines.last(); }

    QTcpSocket socket;
    QStringList lines;
    QByteArray pending;

private:
    void take()
    {
        static const QRegularExpression wholeLine(QStringLiteral("^TSA:.*;ErrorCode:\\d+;$"));
        pending += socket.readAll();
        for (;;) {
            const int next = pending.indexOf("TSA:", 1);
            if (next > 0) {
                lines << QString::fromLatin1(pending.left(next));
                pending.remove(0, next);
                continue;
            }
            if (wholeLine.match(QString::fromLatin1(pending)).hasMatch()) {
                lines << QString::fromLatin1(pending);
                pending.clear();
            }
            return;
        }
    }
};

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void forwardedLinesAreTheSimulatorsValues();
    void windowKeepsTheSimulatorsBooks();
    void monitorReopensARestartedSimulator();
};

void TestEndToEnd::forwardedLinesAreTheSimulatorsValues()
{
    QTemporaryDir work;
    const QString link = work.filePath(QStringLiteral("tty"));
    const QString valuesPath = work.filePath(QStringLiteral("values.txt"));

    SimRun sim;
    QVERIFY(sim.start({"--link", link, "--speed", "20", "--seed", "7", "--faults", "--values", valuesPath,
                       "--start-time", kStartTime}));
    const quint16 port = freeLoopbackPort();
    QVERIFY(port != 0);
    MonitorRun monitor;
    QVERIFY(monitor.start(link, port));
    ValueLineClient client;
    QVERIFY2(client.connectTo(port, 15000), qPrintable(monitor.output()));
    QVERIFY2(QTest::qWaitFor([&] { return client.lines.size() >= 40; }, 30000),
             qPrintable(QStringLiteral("%1 lines\n%2").arg(client.lines.size()).arg(monitor.output())));

    // End the simulator; it waits for the monitor to read what it wrote, so
    // the monitor's last line is the simulator's last.
    QVERIFY(sim.terminate());
    QVERIFY2(sim.endedCleanly(), sim.reportText().constData());
    const QStringList values = readLatin1Lines(valuesPath);
    QVERIFY(!values.isEmpty());
    QCOMPARE(quint64(values.size()), sim.report()["FC3E.good"]);
    QVERIFY2(QTest::qWaitFor([&] { return client.last() == values.last(); }, 10000),
             qPrintable(QStringLiteral("last line from the monitor:\n  %1\nlast from the simulator:\n  %2")
                            .arg(client.last(), values.last())));
    QVERIFY2(client.pending.isEmpty(), client.pending.constData());
    const QString mismatch = compareEndAnchored(client.lines, values);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    qInfo("%d value lines forwarded, each the simulator's (of %d good data frames sent)",
          int(client.lines.size()), int(values.size()));

    // Killed by SIGTERM, the monitor leaves its settings file as it was.
    QCOMPARE(monitor.proc.state(), QProcess::Running);
    monitor.proc.terminate();
    QVERIFY(QTest::qWaitFor([&] { return monitor.proc.state() == QProcess::NotRunning; }, 10000));
    QCOMPARE(monitor.iniNow(), monitor.iniBytes);
}

void TestEndToEnd::windowKeepsTheSimulatorsBooks()
{
    TempAppDir dir;
    const QString link = dir.file(QStringLiteral("tty"));
    const QString valuesPath = dir.file(QStringLiteral("values.txt"));

    // The window must see the stream from its first byte: opening the port
    // discards what is waiting in it.
    SimRun sim;
    QVERIFY(sim.startHeld({"--link", link, "--count", "200", "--speed", "50", "--seed", "5", "--faults", "--values",
                           valuesPath, "--start-time", kStartTime},
                          link, dir.file(QStringLiteral("sim-stdout"))));

    TestClock clock;
    StartOptions options;
    options.port = link;
    options.clock = &clock;
    MainWindow w(options);
    MainWindowProbe p{w};
    QVERIFY(p.port().isOpen());
    QVERIFY(!p.retryTimer().isActive()); // no re-open (and discard) midway
    QCOMPARE(QFileInfo(valuesPath).size(), qint64(0)); // not a frame made yet
    p.ui().pb_Start->click();
    QVERIFY(p.csvFile().isOpen());

    // A display step, and so a CSV row, at most once per monotonic second.
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&clock] { clock.advance(1000); });
    ticker.start(25);

    QVERIFY(sim.release());
    QVERIFY(sim.waitFinished(60000));
    QVERIFY2(sim.endedCleanly(), sim.reportText().constData());
    auto report = sim.report();
    // Exact books need every byte delivered: nothing thrown away unread.
    QVERIFY2(report["flushed"] == 0 && report["dropped"] == 0, sim.reportText().constData());
    QCOMPARE(report["FC3E.good"], quint64(200));

    // Once the window has read everything, its books are the simulator's;
    // when they never get there, the comparisons below show what differs.
    const bool caughtUp = QTest::qWaitFor([&] {
        for (FrameKind kind : kAllFrameKinds)
            if (p.counters(kind).good != report[kindName(kind) + ".good"]
                || p.counters(kind).bad != report[kindName(kind) + ".bad"])
                return false;
        return true;
    }, 10000);
    if (!caughtUp)
        qWarning("the window's counters still differ from the report after 10 s");
    quint64 bad = 0;
    for (FrameKind kind : kAllFrameKinds) {
        const QString name = kindName(kind);
        QCOMPARE(p.counters(kind).good, report[name + ".good"]);
        QCOMPARE(p.counters(kind).bad, report[name + ".bad"]);
        bad += report[name + ".bad"];
    }
    QVERIFY(bad > 0); // the faults did reach the window

    ticker.stop();
    p.ui().pb_Stop->click();
    const QStringList values = readLatin1Lines(valuesPath);
    QCOMPARE(quint64(values.size()), report["FC3E.good"]);
    const QStringList csv = readLatin1Lines(dir.file(QStringLiteral("test_1.CSV")));
    QVERIFY(!csv.isEmpty());
    QVERIFY(csv.first().startsWith(QLatin1String("Zeit;TSA")));
    const QStringList rows = csv.mid(1);
    QVERIFY2(rows.size() >= 50, qPrintable(QString::number(rows.size())));

    // Each row carries the values of one good data frame, in the order sent,
    // and its time lies at least a second after the previous row's.
    int at = -1;
    QDateTime previousTime;
    for (int r = 0; r < rows.size(); ++r) {
        QStringList fields = rows[r].split(QLatin1Char(';'));
        QCOMPARE(fields.size(), 12);
        QVERIFY2(fields.last().isEmpty(), qPrintable(rows[r]));
        const QDateTime time = QDateTime::fromString(fields[0], Qt::TextDate);
        QVERIFY2(time.isValid(), qPrintable(rows[r]));
        if (previousTime.isValid())
            QVERIFY2(previousTime.secsTo(time) >= 1, qPrintable(rows[r]));
        previousTime = time;
        const QStringList rowValues = fields.mid(1, 10);
        int next = at + 1;
        while (next < values.size() && lineValues(values[next], 10) != rowValues)
            ++next;
        QVERIFY2(next < values.size(),
                 qPrintable(QStringLiteral("CSV row %1 matches no simulator line after line %2:\n  %3")
                                .arg(r + 1).arg(at + 1).arg(rows[r])));
        at = next;
    }
    qInfo("books equal the simulator's report (%llu bad frames of all kinds); %d CSV rows match its values",
          static_cast<unsigned long long>(bad), int(rows.size()));
}

void TestEndToEnd::monitorReopensARestartedSimulator()
{
    QTemporaryDir work;
    const QString link = work.filePath(QStringLiteral("tty"));
    const QString firstValues = work.filePath(QStringLiteral("values-1.txt"));
    const QString secondValues = work.filePath(QStringLiteral("values-2.txt"));

    auto first = std::make_unique<SimRun>();
    QVERIFY(first->start({"--link", link, "--speed", "20", "--seed", "3", "--faults", "--values", firstValues,
                          "--start-time", kStartTime}));
    const quint16 port = freeLoopbackPort();
    QVERIFY(port != 0);
    MonitorRun monitor;
    QVERIFY(monitor.start(link, port));
    ValueLineClient client;
    QVERIFY2(client.connectTo(port, 15000), qPrintable(monitor.output()));
    QVERIFY2(QTest::qWaitFor([&] { return client.lines.size() >= 10; }, 30000), qPrintable(monitor.output()));

    // The adapter goes: the simulator ends and takes its link with it.
    QVERIFY(first->terminate());
    QVERIFY(first->endedCleanly());
    const QStringList before = readLatin1Lines(firstValues);
    QVERIFY(!before.isEmpty());
    QVERIFY(QTest::qWaitFor([&] { return client.last() == before.last(); }, 10000));
    QVERIFY(!QFileInfo::exists(link));
    first.reset();

    // While it is gone no line comes and the monitor idles between its tries.
    const double cpuBefore = monitor.cpuSeconds();
    QVERIFY(cpuBefore >= 0);
    QElapsedTimer gap;
    gap.start();
    QSignalSpy arrivals(&client.socket, &QTcpSocket::readyRead);
    QVERIFY2(!arrivals.wait(4000), "a value line came while the device was gone");
    QCOMPARE(monitor.proc.state(), QProcess::Running);

    // The adapter comes back at the same path.
    SimRun second;
    QVERIFY(second.start({"--link", link, "--speed", "20", "--seed", "8", "--faults", "--values", secondValues,
                          "--start-time", kStartTime}));
    const double gapSeconds = gap.elapsed() / 1000.0;
    const double cpuUsed = monitor.cpuSeconds() - cpuBefore;
    const int linesBefore = client.lines.size();
    QVERIFY2(QTest::qWaitFor([&] { return client.lines.size() > linesBefore; }, 8000),
             qPrintable(monitor.output()));
    const qint64 reopenMs = second.linkSeen.elapsed();

    QVERIFY(QTest::qWaitFor([&] { return client.lines.size() >= linesBefore + 10; }, 30000));
    QVERIFY(second.terminate());
    QVERIFY(second.endedCleanly());
    const QStringList after = readLatin1Lines(secondValues);
    QVERIFY(!after.isEmpty());
    QVERIFY(QTest::qWaitFor([&] { return client.last() == after.last(); }, 10000));
    const QString mismatch = compareEndAnchored(client.lines.mid(linesBefore), after);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));

    qInfo("first value line %lld ms after the link came back; monitor CPU %.3f s in a %.2f s gap (%.1f %%)",
          reopenMs, cpuUsed, gapSeconds, 100.0 * cpuUsed / gapSeconds);
    QVERIFY2(cpuUsed < 0.25 * gapSeconds,
             qPrintable(QStringLiteral("CPU %1 s in %2 s without device").arg(cpuUsed).arg(gapSeconds)));

    monitor.proc.terminate();
    QVERIFY(QTest::qWaitFor([&] { return monitor.proc.state() == QProcess::NotRunning; }, 10000));
}

QTEST_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
