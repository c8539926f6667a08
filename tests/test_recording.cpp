// The CSV recorder and the frame dump, on real files in a temporary directory.
#include "window_rig.h"

#include <QStatusBar>

#include <signal.h>
#include <sys/resource.h>
#include <time.h>

namespace {

const QByteArray kHeader = "Zeit;TSA (\xb0" "C);TW (\xb0" "C);TSV (\xb0" "C);TAM (\xb0" "C);TSE (\xb0"
                           "C);Fluss (l/min);PWM (%);Tagesleistung (kWh);Gesamtleistung (kWh);Status\n";

// The rig's clock starts at 09:05:07 UTC; the test runs in central European time.
const QByteArray kStartTimeText = "Thu Jul 3 11:05:07 2025";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

QByteArray writtenFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return content;
}

// The payload of a wire frame as the dump shows it: ten bytes a line.
QByteArray dumpedBytes(const QByteArray &frame)
{
    const QByteArray payload = frame.mid(2);
    QByteArray lines;
    for (int i = 0; i < payload.size(); i += 10)
        lines += payload.mid(i, 10).toHex(' ') + " \r\n";
    return lines;
}

// Lowers the size limit for files this process writes, for as long as it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = signal(SIGXFSZ, SIG_IGN); // a failed write, not the end of the process
        rlimit lowered = saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, oldHandler);
    }

private:
    rlimit saved{};
    sighandler_t oldHandler;
};

} // namespace

Q_DECLARE_METATYPE(Measurement)

class TestRecording : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void headerOnStart();
    void rowBytes_data();
    void rowBytes();
    void atMostOneRowPerSecond();
    void rowIsOnDiskWhileRecording();
    void numberingAcrossStopAndStart();
    void numberingSkipsExistingFiles();
    void failedOpen();
    void failedWrite();

    void dumpOfAllFrameKinds();
    void dumpOnlyWhileTicked();
    void noDumpOfBadFrames();
    void dumpOpenFailure();
};

void TestRecording::headerOnStart()
{
    WindowRig rig;
    auto p = rig.probe();
    p.ui().pb_Start->click();
    QVERIFY(p.csvFile().isOpen());
    QCOMPARE(p.ui().labelFilename->text(), QString("_1.CSV"));
    QVERIFY(!p.ui().pb_Start->isEnabled());
    QVERIFY(p.ui().pb_Stop->isEnabled());
    p.ui().pb_Stop->click();
    QVERIFY(!p.csvFile().isOpen());
    QVERIFY(p.ui().pb_Start->isEnabled());
    QVERIFY(!p.ui().pb_Stop->isEnabled());
    QCOMPARE(readFile(rig.dir.file("test_1.CSV")), kHeader);
}

void TestRecording::rowBytes_data()
{
    QTest::addColumn<Measurement>("m");
    QTest::addColumn<QByteArray>("values");

    QTest::newRow("example") << sampleMeasurement(45.0) << QByteArray("45;52.3;38.1;-3.5;30.2;4.5;60;12;3456;Ok;\n");
    Measurement swapped = sampleMeasurement(71.4);
    swapped.status = 4;
    QTest::newRow("status with umlaut")
        << swapped
        << QByteArray("71.4;52.3;38.1;-3.5;30.2;4.5;60;12;3456;Vorlauf- und R\xfc" "cklauf des Kollektors vertauscht;\n");
    Measurement negative = sampleMeasurement(-0.5);
    negative.energyDay = -7;
    negative.energyTotal = -1;
    negative.flow = 0;
    negative.pwm = 255;
    QTest::newRow("negative energies") << negative << QByteArray("-0.5;52.3;38.1;-3.5;30.2;0;255;-7;-1;Ok;\n");
}

void TestRecording::rowBytes()
{
    QFETCH(Measurement, m);
    QFETCH(QByteArray, values);
    WindowRig rig;
    auto p = rig.probe();
    p.ui().pb_Start->click();
    QVERIFY(rig.feed(m));
    p.ui().pb_Stop->click();
    QCOMPARE(readFile(rig.dir.file("test_1.CSV")), kHeader + kStartTimeText + ';' + values);
}

void TestRecording::atMostOneRowPerSecond()
{
    WindowRig rig;
    auto p = rig.probe();
    p.ui().pb_Start->click();
    QVERIFY(rig.feed(sampleMeasurement(40.0)));
    rig.clock.advance(400);
    QVERIFY(rig.feed(sampleMeasurement(41.0)));
    rig.clock.advance(599);
    QVERIFY(rig.feed(sampleMeasurement(42.0)));
    rig.clock.advance(1);
    QVERIFY(rig.feed(sampleMeasurement(43.0)));
    p.ui().pb_Stop->click();
    QCOMPARE(readFile(rig.dir.file("test_1.CSV")),
             kHeader + kStartTimeText + ";40;52.3;38.1;-3.5;30.2;4.5;60;12;3456;Ok;\n"
                 + "Thu Jul 3 11:05:08 2025;43;52.3;38.1;-3.5;30.2;4.5;60;12;3456;Ok;\n");
}

void TestRecording::rowIsOnDiskWhileRecording()
{
    WindowRig rig;
    auto p = rig.probe();
    p.ui().pb_Start->click();
    QCOMPARE(readFile(rig.dir.file("test_1.CSV")), kHeader);
    QVERIFY(rig.feed(sampleMeasurement(45.0)));
    QVERIFY(p.csvFile().isOpen());
    QCOMPARE(readFile(rig.dir.file("test_1.CSV")),
             kHeader + kStartTimeText + ";45;52.3;38.1;-3.5;30.2;4.5;60;12;3456;Ok;\n");
}

void TestRecording::numberingAcrossStopAndStart()
{
    WindowRig rig;
    auto p = rig.probe();
    p.ui().pb_Start->click();
    QVERIFY(rig.feed(sampleMeasurement(45.0)));
    p.ui().pb_Stop->click();
    const QByteArray first = readFile(rig.dir.file("test_1.CSV"));
    QCOMPARE(first.count('\n'), 2);

    p.ui().pb_Start->click();
    QCOMPARE(p.ui().labelFilename->text(), QString("_2.CSV"));
    rig.clock.advance(1000);
    QVERIFY(rig.feed(sampleMeasurement(46.0)));
    p.ui().pb_Stop->click();
    QCOMPARE(readFile(rig.dir.file("test_2.CSV")),
             kHeader + "Thu Jul 3 11:05:08 2025;46;52.3;38.1;-3.5;30.2;4.5;60;12;3456;Ok;\n");
    QCOMPARE(readFile(rig.dir.file("test_1.CSV")), first);

    // A new stem goes on with the window's number.
    p.ui().FilenameLineEdit->setText("kollektor");
    p.ui().pb_Start->click();
    p.ui().pb_Stop->click();
    QCOMPARE(p.ui().labelFilename->text(), QString("_3.CSV"));
    QCOMPARE(readFile(rig.dir.file("kollektor_3.CSV")), kHeader);
}

void TestRecording::numberingSkipsExistingFiles()
{
    // Recordings of an earlier run lie in the directory.
    WindowRig rig(WindowRig::OpenLater);
    const QByteArray earlier1 = writtenFile(rig.dir.file("test_1.CSV"), "recorded yesterday\n");
    const QByteArray earlier3 = writtenFile(rig.dir.file("test_3.CSV"), "recorded this morning\n");
    rig.open();
    auto p = rig.probe();

    p.ui().pb_Start->click();
    QVERIFY(p.csvFile().isOpen());
    QCOMPARE(p.ui().labelFilename->text(), QString("_2.CSV"));
    p.ui().pb_Stop->click();
    QCOMPARE(readFile(rig.dir.file("test_2.CSV")), kHeader);

    p.ui().pb_Start->click();
    QCOMPARE(p.ui().labelFilename->text(), QString("_4.CSV"));
    p.ui().pb_Stop->click();
    QCOMPARE(readFile(rig.dir.file("test_4.CSV")), kHeader);

    // The number never goes back, not even to a number whose file is gone.
    QVERIFY(QFile::remove(rig.dir.file("test_2.CSV")));
    p.ui().pb_Start->click();
    QCOMPARE(p.ui().labelFilename->text(), QString("_5.CSV"));
    p.ui().pb_Stop->click();
    QVERIFY(!QFile::exists(rig.dir.file("test_2.CSV")));

    QCOMPARE(readFile(rig.dir.file("test_1.CSV")), earlier1);
    QCOMPARE(readFile(rig.dir.file("test_3.CSV")), earlier3);

    // After a restart the numbers of this run's files are skipped too.
    rig.close();
    rig.open();
    auto q = rig.probe();
    q.ui().pb_Start->click();
    QCOMPARE(q.ui().labelFilename->text(), QString("_2.CSV"));
    q.ui().pb_Stop->click();
    q.ui().pb_Start->click();
    QCOMPARE(q.ui().labelFilename->text(), QString("_6.CSV"));
    q.ui().pb_Stop->click();
    QCOMPARE(readFile(rig.dir.file("test_4.CSV")), kHeader);
}

void TestRecording::failedOpen()
{
    WindowRig rig;
    auto p = rig.probe();
    p.ui().FilenameLineEdit->setText("missing/test");
    p.ui().pb_Start->click();
    QVERIFY(!p.csvFile().isOpen());
    QCOMPARE(p.ui().te_Data->toPlainText(), QString("Error opening file"));
    QCOMPARE(p.w.statusBar()->currentMessage(), QString("Error opening file"));
    QVERIFY(p.ui().pb_Start->isEnabled());
    QVERIFY(!p.ui().pb_Stop->isEnabled());

    // The next display step replaces the panel text; the status bar keeps the message.
    QVERIFY(rig.feed(sampleMeasurement(45.0)));
    QVERIFY(p.ui().te_Data->toPlainText().startsWith("TSA: 45"));
    QCOMPARE(p.w.statusBar()->currentMessage(), QString("Error opening file"));

    // With a stem that can be opened the number that failed is used.
    p.ui().FilenameLineEdit->setText("test");
    p.ui().pb_Start->click();
    QVERIFY(p.csvFile().isOpen());
    QCOMPARE(p.ui().labelFilename->text(), QString("_1.CSV"));
    QVERIFY(p.w.statusBar()->currentMessage().isEmpty());
    QVERIFY(!p.ui().pb_Start->isEnabled());
    QVERIFY(p.ui().pb_Stop->isEnabled());
    p.ui().pb_Stop->click();
    QCOMPARE(readFile(rig.dir.file("test_1.CSV")), kHeader);
}

void TestRecording::failedWrite()
{
    WindowRig rig;
    auto p = rig.probe();
    p.ui().pb_Start->click();
    QVERIFY(p.csvFile().isOpen());
    {
        // The disk is full right after the header.
        FileSizeLimit full(rlim_t(kHeader.size()));
        QVERIFY(rig.feed(sampleMeasurement(45.0)));
    }
    QVERIFY(!p.csvFile().isOpen());
    QVERIFY(p.ui().te_Data->toPlainText().contains("Error writing file"));
    QCOMPARE(p.w.statusBar()->currentMessage(), QString("Error writing file"));
    QVERIFY(p.ui().pb_Start->isEnabled());
    QVERIFY(!p.ui().pb_Stop->isEnabled());

    rig.clock.advance(1000);
    QVERIFY(rig.feed(sampleMeasurement(46.0)));
    QCOMPARE(p.w.statusBar()->currentMessage(), QString("Error writing file"));
    QCOMPARE(readFile(rig.dir.file("test_1.CSV")), kHeader);

    // Recording again goes on in a new file.
    p.ui().pb_Start->click();
    QCOMPARE(p.ui().labelFilename->text(), QString("_2.CSV"));
    QVERIFY(p.w.statusBar()->currentMessage().isEmpty());
}

void TestRecording::dumpOfAllFrameKinds()
{
    WindowRig rig; // the dump clock starts with the window, at 0 ms
    auto p = rig.probe();
    const QByteArray data = dataFrame(sampleMeasurement(45.0));
    QByteArray body1f;
    for (char c = 0; c < 31; ++c)
        body1f += c;
    const QByteArray frame1f = encodeFrame(FrameKind::SyncFC1F, body1f);
    const QByteArray frame2302 = encodeFrame(FrameKind::Sync2302, QByteArray::fromHex("1020"));
    const QByteArray frameFd05 = encodeFrame(FrameKind::SyncFD05, QByteArray::fromHex("0102030405"));

    rig.clock.advance(300);
    p.ui().cbDebug->click();
    rig.clock.advance(812);
    QVERIFY(rig.feed(data));
    rig.clock.advance(812);
    QVERIFY(rig.feed(frame1f, FrameKind::SyncFC1F));
    rig.clock.advance(812);
    QVERIFY(rig.feed(frame2302, FrameKind::Sync2302));
    rig.clock.advance(45);
    QVERIFY(rig.feed(frameFd05, FrameKind::SyncFD05));
    QVERIFY(rig.feed(frame2302 + frameFd05, FrameKind::SyncFD05)); // two in one burst, 0 ms apart
    p.ui().cbDebug->click();

    QCOMPARE(dumpedBytes(data).count("\r\n"), 7);
    const QByteArray expected = "Sync1 (1112 msec):\r\n" + dumpedBytes(data)
        + "Sync2 (812 msec):\r\n"
          "00 01 02 03 04 05 06 07 08 09 \r\n"
          "0a 0b 0c 0d 0e 0f 10 11 12 13 \r\n"
          "14 15 16 17 18 19 1a 1b 1c 1d \r\n"
          "1e 14 \r\n"
          "Sync4 (812 msec):\r\n"
          "10 20 ab \r\n"
          "Sync4 (45 msec):\r\n"
          "01 02 03 04 05 ef \r\n"
          "Sync4 (0 msec):\r\n"
          "10 20 ab \r\n"
          "Sync4 (0 msec):\r\n"
          "01 02 03 04 05 ef \r\n";
    QCOMPARE(readFile(rig.dir.file("Debug.txt")), expected);
}

void TestRecording::dumpOnlyWhileTicked()
{
    WindowRig rig;
    auto p = rig.probe();
    const QByteArray frame2302 = encodeFrame(FrameKind::Sync2302, QByteArray::fromHex("1020"));
    const QByteArray frameFd05 = encodeFrame(FrameKind::SyncFD05, QByteArray::fromHex("0102030405"));

    // Nothing before the box is ticked; no file either.
    rig.clock.advance(100);
    QVERIFY(rig.feed(frame2302, FrameKind::Sync2302));
    QVERIFY(!QFile::exists(rig.dir.file("Debug.txt")));

    p.ui().cbDebug->click();
    rig.clock.advance(150);
    QVERIFY(rig.feed(frame2302, FrameKind::Sync2302));
    p.ui().cbDebug->click();
    QCOMPARE(readFile(rig.dir.file("Debug.txt")), QByteArray("Sync4 (250 msec):\r\n10 20 ab \r\n"));

    // Unticked: nothing is added, and the time runs on from the last dumped frame.
    rig.clock.advance(500);
    QVERIFY(rig.feed(dataFrame(sampleMeasurement(45.0))));
    QVERIFY(rig.feed(frameFd05, FrameKind::SyncFD05));
    QCOMPARE(readFile(rig.dir.file("Debug.txt")), QByteArray("Sync4 (250 msec):\r\n10 20 ab \r\n"));

    // Ticking again starts an empty file.
    p.ui().cbDebug->click();
    QCOMPARE(QFileInfo(rig.dir.file("Debug.txt")).size(), qint64(0));
    rig.clock.advance(250);
    QVERIFY(rig.feed(frameFd05, FrameKind::SyncFD05));
    p.ui().cbDebug->click();
    QCOMPARE(readFile(rig.dir.file("Debug.txt")), QByteArray("Sync4 (750 msec):\r\n01 02 03 04 05 ef \r\n"));
}

void TestRecording::noDumpOfBadFrames()
{
    WindowRig rig;
    auto p = rig.probe();
    p.ui().cbDebug->click();
    rig.clock.advance(100);
    QVERIFY(rig.feedBad(FrameKind::SyncFC3E, dataFrame(sampleMeasurement(45.0))));
    rig.clock.advance(100);
    QVERIFY(rig.feedBad(FrameKind::Sync2302, encodeFrame(FrameKind::Sync2302, QByteArray::fromHex("1020"))));
    rig.clock.advance(100);
    // A data frame cut short, then a good frame.
    const QByteArray cut = QByteArray::fromHex("fc3e0102");
    QVERIFY(rig.feed(cut + encodeFrame(FrameKind::SyncFD05, QByteArray::fromHex("0102030405")), FrameKind::SyncFD05));
    p.ui().cbDebug->click();
    QCOMPARE(readFile(rig.dir.file("Debug.txt")), QByteArray("Sync4 (300 msec):\r\n01 02 03 04 05 ef \r\n"));
}

void TestRecording::dumpOpenFailure()
{
    WindowRig rig;
    auto p = rig.probe();
    QVERIFY(QDir(rig.dir.dir.path()).mkdir("Debug.txt")); // a name that cannot be opened as a file
    p.ui().cbDebug->click();
    QVERIFY(p.ui().cbDebug->isChecked());
    QCOMPARE(p.ui().te_Data->toPlainText(), QString("Error opening file"));

    // The panel text goes at the next display step; the status bar keeps saying why no dump is written.
    QVERIFY(rig.feed(sampleMeasurement(45.0)));
    QVERIFY(p.ui().te_Data->toPlainText().startsWith("TSA: 45"));
    QCOMPARE(p.w.statusBar()->currentMessage(), QString("Error opening file"));
}

// Recording times are local times rendered with the system locale's names:
// both are fixed here, before the application reads them.
int main(int argc, char **argv)
{
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    qputenv("LC_ALL", "C.UTF-8");
    tzset();
    QApplication app(argc, argv);
    TestRecording test;
QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_recording.moc"
