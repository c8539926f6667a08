// Forwarding of value lines from the window's data frames to a TCP client on
// the loopback, on the window's monotonic schedule.
#include "net/forward_line.h"
#include "window_rig.h"

#include <QTcpSocket>

namespace {

// A client that collects everything the window sends it.
struct Client {
    QTcpSocket socket;
    QByteArray received;

    Client()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { received += socket.readAll(); });
    }
    void connectTo(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }
    // Waits until `expected` bytes have arrived (or too many); true if they are exactly those.
    bool receives(const QByteArray &expected)
    {
        const bool arrived = QTest::qWaitFor([&] { return received.size() >= expected.size(); }, 5000);
        return arrived && received == expected;
    }
};

// A rig whose stored settings switch the server on, on a port the system picks.
std::unique_ptr<WindowRig> rigWithServer(const QString &interval = QStringLiteral("10"))
{
    auto rig = std::make_unique<WindowRig>(WindowRig::OpenLater);
    QSettings ini(rig->iniPath(), QSettings::IniFormat);
    ini.setValue("Server/Activ", true);
    ini.setValue("Server/IP", "127.0.0.1");
    ini.setValue("Server/Port", "0");
    ini.setValue("Server/Interval", interval);
    ini.sync();
    rig->open();
    return rig;
}

bool connectClient(WindowRig &rig, Client &client)
{
    auto p = rig.probe();
    client.connectTo(p.server().serverPort());
    return QTest::qWaitFor([&] { return p.ui().cb_ClientConnected->isChecked(); }, 5000);
}

// Frame i of a sequence carries tsa 20 + i, so each line tells its frame.
Measurement frameNumber(int i) { return sampleMeasurement(20.0 + i); }

} // namespace

class TestForwarding : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void firstFrameIsSentAtOnce();
    void schedule_data();
    void schedule();
    void scheduleRunsWithoutClient();
    void untickAndTickServer();
};

void TestForwarding::firstFrameIsSentAtOnce()
{
    auto rig = rigWithServer();
    auto p = rig->probe();
    QVERIFY(p.settingsUi().cb_ServerAktiv->isChecked());
    QVERIFY(p.server().isListening());
    QVERIFY(!p.ui().cb_ClientConnected->isChecked());

    Client client;
    QVERIFY(connectClient(*rig, client));
    QVERIFY(rig->feed(sampleMeasurement(45.0)));
    QVERIFY(client.receives("TSA:45;TW:52.3;TSV:38.1;TAM:-3.5;TSE:30.2;FLOW:4.5;PWM:60;EnergyDay:12;"
                            "EnergyTotal:3456;Status:Ok;ErrorCode:0;"));
}

void TestForwarding::schedule_data()
{
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QList<int>>("frameTimesMs");
    QTest::addColumn<QList<int>>("sentFrames");

    // Each row ends on a frame that sends, so a line sent too many shows up
    // before the last line expected.
    QList<int> everySecond;
    for (int s = 0; s <= 10; ++s)
        everySecond << s * 1000;
    QTest::newRow("10 s") << "10" << everySecond << QList<int>{0, 10};
    QTest::newRow("3 s") << "3" << QList<int>{0, 1000, 2000, 2999, 3000, 4000, 5999, 6000} << QList<int>{0, 4, 7};
    QTest::newRow("0") << "0" << QList<int>{0, 400, 800, 1800} << QList<int>{0, 1, 2, 3};
    QTest::newRow("no number") << "abc" << QList<int>{0, 400, 800, 1800} << QList<int>{0, 1, 2, 3};
    QTest::newRow("empty") << "" << QList<int>{0, 10, 20} << QList<int>{0, 1, 2};
    QTest::newRow("negative") << "-5" << QList<int>{0, 400, 800} << QList<int>{0, 1, 2};
}

void TestForwarding::schedule()
{
    QFETCH(QString, interval);
    QFETCH(QList<int>, frameTimesMs);
    QFETCH(QList<int>, sentFrames);
    auto rig = rigWithServer(interval);
    QCOMPARE(rig->probe().settingsUi().te_ServerInterval->text(), interval);
    Client client;
    QVERIFY(connectClient(*rig, client));

    QByteArray expected;
    for (int i : sentFrames)
        expected += forwardLineBytes(frameNumber(i));
    for (int i = 0; i < frameTimesMs.size(); ++i) {
        rig->clock.mono = frameTimesMs[i];
        QVERIFY(rig->feed(frameNumber(i)));
    }
    QVERIFY2(client.receives(expected), client.received.constData());
}

void TestForwarding::scheduleRunsWithoutClient()
{
    auto rig = rigWithServer("10");
    QVERIFY(rig->feed(frameNumber(0))); // due, but nobody to send to
    Client client;
    QVERIFY(connectClient(*rig, client));
    for (int s = 1; s <= 10; ++s) {
        rig->clock.advance(1000);
        QVERIFY(rig->feed(frameNumber(s)));
    }
    QVERIFY2(client.receives(forwardLineBytes(frameNumber(10))), client.received.constData());
}

void TestForwarding::untickAndTickServer()
{
    auto rig = rigWithServer("0");
    auto p = rig->probe();
    const quint16 firstPort = p.server().serverPort();
    Client client;
    QVERIFY(connectClient(*rig, client));

    // Unticking lets the client go and stops listening.
    p.settingsUi().cb_ServerAktiv->click();
    QVERIFY(!p.settingsUi().cb_ServerAktiv->isChecked());
    QVERIFY(!p.ui().cb_ClientConnected->isChecked());
    QVERIFY(!p.server().isListening());
    QTRY_COMPARE(client.socket.state(), QAbstractSocket::UnconnectedState);

    Client refused;
    refused.connectTo(firstPort);
    QTRY_COMPARE(refused.socket.error(), QAbstractSocket::ConnectionRefusedError);

    // Ticking listens on the port now in the field.
    const quint16 newPort = freeLoopbackPort();
    QVERIFY(newPort != 0);
    p.settingsUi().te_ServerPort->setText(QString::number(newPort));
    p.settingsUi().cb_ServerAktiv->click();
    QVERIFY(p.settingsUi().cb_ServerAktiv->isChecked());
    QCOMPARE(p.server().serverPort(), newPort);
    Client again;
    again.connectTo(newPort);
    QTRY_VERIFY(p.ui().cb_ClientConnected->isChecked());
    QVERIFY(rig->feed(frameNumber(1)));
    QVERIFY(again.receives(forwardLineBytes(frameNumber(1))));
}

QTEST_MAIN(TestForwarding)
#include "test_forwarding.moc"
