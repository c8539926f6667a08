#include "bus/measurement.h"
#include "example_values.h"
#include "net/client_commands.h"
#include "net/forward_line.h"
#include "net/server.h"

#include <QtTest>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QByteArray kExampleLine =
    "TSA:45;TW:52.3;TSV:38.1;TAM:-3.5;TSE:30.2;FLOW:4.5;PWM:60;EnergyDay:12;EnergyTotal:3456;Status:Ok;ErrorCode:0;";

// A real TCP client on the loopback that collects what it receives, unless it
// is told not to read at all.
struct Client {
    QTcpSocket socket;
    QByteArray received;

    explicit Client(bool reads = true)
    {
        if (reads) {
            QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                             [this] { received += socket.readAll(); });
        } else {
            // Qt takes no more than this from the system, so the kernel
            // buffers fill up and the server's backlog grows.
            socket.setReadBufferSize(1);
        }
    }
    void connectTo(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }
    bool isConnected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    bool isGone() const { return socket.state() == QAbstractSocket::UnconnectedState; }
};

// A port that is free right now.
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// The exit decision of a plain reference: the first complete line equal to "!exit".
bool referenceExits(const QByteArray &stream)
{
    const int lastEnd = stream.lastIndexOf('\n');
    if (lastEnd < 0)
        return false;
    const QList<QByteArray> lines = stream.left(lastEnd).split('\n');
    return lines.contains(QByteArray("!exit"));
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT
private slots:
    void forwardLine_data();
    void forwardLine();

    void commandReader_data();
    void commandReader();
    void commandReaderMatchesReferenceOnRandomStreams();
    void commandReaderStaysBoundedUnderFlood();

    void linesReachTheClientBackToBack();
    void clientClosingEndsService();
    void commands_data();
    void commands();
    void floodWithoutLineEndsStaysBounded();
    void readingClientKeepsUp();
    void nonReadingClientIsDroppedWithoutBlocking();
    void secondClientReplacesFirst();
    void stopThenListenOnNewPort();
    void listenWhileServingMovesAndDropsClient();
    void destroyingServerWithClient();
};

// ---------------------------------------------------------------- value line

void TestServer::forwardLine_data()
{
    QTest::addColumn<double>("tsa");
    QTest::addColumn<double>("tw");
    QTest::addColumn<double>("tsv");
    QTest::addColumn<double>("tam");
    QTest::addColumn<double>("tse");
    QTest::addColumn<double>("flow");
    QTest::addColumn<int>("pwm");
    QTest::addColumn<int>("energyDay");
    QTest::addColumn<int>("energyTotal");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("example") << 45.0 << 52.3 << 38.1 << -3.5 << 30.2 << 4.5 << 60 << 12 << 3456 << 0
                             << kExampleLine;
    QTest::newRow("unknown status 60")
        << 45.0 << 52.3 << 38.1 << -3.5 << 30.2 << 4.5 << 60 << 12 << 3456 << 60
        << QByteArray("TSA:45;TW:52.3;TSV:38.1;TAM:-3.5;TSE:30.2;FLOW:4.5;PWM:60;EnergyDay:12;EnergyTotal:3456;"
                      "Status:Fehler unbekannt (60);ErrorCode:60;");
    QTest::newRow("umlaut as Latin-1")
        << 45.0 << 52.3 << 38.1 << -3.5 << 30.2 << 4.5 << 60 << 12 << 3456 << 34
        << QByteArray("TSA:45;TW:52.3;TSV:38.1;TAM:-3.5;TSE:30.2;FLOW:4.5;PWM:60;EnergyDay:12;EnergyTotal:3456;"
                      "Status:Speicher \xfc" "berhitzt;ErrorCode:34;");
    QTest::newRow("negative energies")
        << 0.0 << 0.1 << -0.1 << 20.0 << 100.5 << 0.0 << 0 << -5 << -123456 << 0
        << QByteArray("TSA:0;TW:0.1;TSV:-0.1;TAM:20;TSE:100.5;FLOW:0;PWM:0;EnergyDay:-5;EnergyTotal:-123456;"
                      "Status:Ok;ErrorCode:0;");
    QTest::newRow("extremes")
        << 3276.7 << -3276.8 << 1000.0 << -1000.0 << 999.9 << 3276.7 << 255 << -32768 << int(-2147483647 - 1) << 255
        << QByteArray("TSA:3276.7;TW:-3276.8;TSV:1000;TAM:-1000;TSE:999.9;FLOW:3276.7;PWM:255;EnergyDay:-32768;"
                      "EnergyTotal:-2147483648;Status:Fehler unbekannt (255);ErrorCode:255;");
    QTest::newRow("largest")
        << 1.0 << 2.0 << 3.0 << 4.0 << 5.0 << 6.0 << 100 << 32767 << 2147483647 << 50
        << QByteArray("TSA:1;TW:2;TSV:3;TAM:4;TSE:5;FLOW:6;PWM:100;EnergyDay:32767;EnergyTotal:2147483647;"
                      "Status:Frostgefahr;ErrorCode:50;");
}

void TestServer::forwardLine()
{
    QFETCH(double, tsa);
    QFETCH(double, tw);
    QFETCH(double, tsv);
    QFETCH(double, tam);
    QFETCH(double, tse);
    QFETCH(double, flow);
    QFETCH(int, pwm);
    QFETCH(int, energyDay);
    QFETCH(int, energyTotal);
    QFETCH(int, status);
    QFETCH(QByteArray, wire);

    Measurement m;
    m.tsa = tsa;
    m.tw = tw;
    m.tsv = tsv;
    m.tam = tam;
    m.tse = tse;
    m.flow = flow;
    m.pwm = std::uint8_t(pwm);
    m.energyDay = std::int16_t(energyDay);
    m.energyTotal = std::int32_t(energyTotal);
    m.status = std::uint8_t(status);

    QCOMPARE(forwardLineBytes(m), wire);
    QCOMPARE(formatForwardLine(m), QString::fromLatin1(wire));
}

// ------------------------------------------------------------ command reader

void TestServer::commandReader_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("exits");
    QTest::addColumn<int>("pending"); // kept bytes afterwards when it does not exit

    const QByteArray x1024(1024, 'x');
    const QByteArray x2000(2000, 'x');
    QTest::newRow("exit") << QByteArray("!exit\n") << true << 0;
    QTest::newRow("exit with CR LF") << QByteArray("!exit\r\n") << false << 0;
    QTest::newRow("upper case") << QByteArray("!EXIT\n") << false << 0;
    QTest::newRow("no line end") << QByteArray("!exit") << false << 5;
    QTest::newRow("hello then exit") << QByteArray("hello\n!exit\n") << true << 0;
    QTest::newRow("leading blank") << QByteArray(" !exit\n") << false << 0;
    QTest::newRow("trailing text") << QByteArray("!exitx\n") << false << 0;
    QTest::newRow("prefix only") << QByteArray("!exi\n") << false << 0;
    QTest::newRow("NUL inside") << QByteArray("!ex\0it\n", 7) << false << 0;
    QTest::newRow("empty lines then exit") << QByteArray("\n\n!exit\n") << true << 0;
    QTest::newRow("exit then more") << QByteArray("!exit\nabc\n!EXIT") << true << 0;
    QTest::newRow("dropped line then partial") << QByteArray("abc\n!ex") << false << 3;
    QTest::newRow("1024 bytes are kept") << x1024 << false << 1024;
    QTest::newRow("1025 bytes are dropped") << x1024 + 'x' << false << 0;
    QTest::newRow("overlong line ending in exit") << x1024 + "!exit\n" << false << 0;
    QTest::newRow("overlong line, then exit") << x2000 + "\n!exit\n" << true << 0;
    QTest::newRow("1024-byte line, then exit") << x1024 + "\n!exit\n" << true << 0;
    QTest::newRow("overlong line, then partial") << x2000 + "\n!ex" << false << 3;
    QTest::newRow("overlong line without end, then exit") << x2000 + "!exit\n!exit\n" << true << 0;
}

void TestServer::commandReader()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, exits);
    QFETCH(int, pending);

    {
        ClientCommandReader r;
        QCOMPARE(r.feed(stream), exits);
        QCOMPARE(r.exitRequested(), exits);
        if (!exits)
            QCOMPARE(r.pendingSize(), pending);
    }
    {
        // Byte by byte, as a slow client would send it.
        ClientCommandReader r;
        bool seen = false;
        for (char c : stream) {
            seen = r.feed(&c, 1) || seen;
            QVERIFY(r.pendingSize() <= ClientCommandReader::maxLineLength);
        }
        QCOMPARE(seen, exits);
        if (!exits)
            QCOMPARE(r.pendingSize(), pending);
    }
    // In two pieces, cut at every position.
    for (int cut = 0; cut <= stream.size(); ++cut) {
        ClientCommandReader r;
        const bool first = r.feed(stream.left(cut));
        const bool second = r.feed(stream.mid(cut));
        QCOMPARE(first || second, exits);
        QCOMPARE(second, exits); // once it has exited it keeps saying so
        if (!exits)
            QCOMPARE(r.pendingSize(), pending);
    }
    {
        ClientCommandReader r;
        r.feed(stream);
        r.reset();
        QCOMPARE(r.exitRequested(), false);
        QCOMPARE(r.pendingSize(), 0);
        QVERIFY(r.feed(QByteArray("!exit\n")));
    }
}

void TestServer::commandReaderMatchesReferenceOnRandomStreams()
{
    // Short lines from an alphabet that often spells the command, cut into
    // random pieces; no line gets near the length bound.
    QRandomGenerator rng(20250704);
    const QByteArray alphabet("!exitEX\r\n \n\n");
    int exits = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray stream;
        const int length = rng.bounded(1, 40);
        for (int i = 0; i < length; ++i)
            stream += (rng.bounded(4) == 0) ? QByteArray("!exit\n").left(rng.bounded(7))
                                            : QByteArray(1, alphabet[rng.bounded(alphabet.size())]);
        ClientCommandReader r;
        bool seen = false;
        for (int pos = 0; pos < stream.size();) {
            const int piece = rng.bounded(1, 8);
            seen = r.feed(stream.mid(pos, piece)) || seen;
            pos += piece;
        }
        QVERIFY2(seen == referenceExits(stream), stream.toHex().constData());
        exits += seen;
    }
    QVERIFY(exits > 100); // the streams did exercise the command
}

void TestServer::commandReaderStaysBoundedUnderFlood()
{
    QRandomGenerator rng(42);
    ClientCommandReader r;
    qint64 total = 0;
    while (total < 4 * 1024 * 1024) {
        // No line end anywhere, and the command's bytes among the junk.
        const int size = rng.bounded(1, 3000);
        QByteArray chunk(size, 'y');
        chunk.replace(0, qMin(size, 5), QByteArray("!exit").left(qMin(size, 5)));
        QVERIFY(!r.feed(chunk));
        QVERIFY(r.pendingSize() <= ClientCommandReader::maxLineLength);
        total += size;
    }
    QVERIFY(r.skippingOverlongLine());
    QVERIFY(!r.feed(QByteArray("!exit\n"))); // still the overlong line
    QVERIFY(r.feed(QByteArray("!exit\n")));  // a line of its own
}

// ------------------------------------------------------------------- server

void TestServer::linesReachTheClientBackToBack()
{
    Server server;
    QSignalSpy spy(&server, &Server::clientConnected);
    QVERIFY(!server.isConnected());
    QVERIFY(!server.send(QStringLiteral("TSA:1;"))); // nobody to send to
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QVERIFY(server.isListening());
    QVERIFY(server.serverPort() != 0);
    QVERIFY(!server.isConnected());

    Client client;
    client.connectTo(server.serverPort());
    QVERIFY(spy.wait());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QVERIFY(server.isConnected());

    Measurement second = exampleMeasurement();
    second.status = 4; // "Rücklauf"
    QVERIFY(server.send(formatForwardLine(exampleMeasurement())));
    QVERIFY(server.send(formatForwardLine(second)));
    const QByteArray secondWire =
        "TSA:45;TW:52.3;TSV:38.1;TAM:-3.5;TSE:30.2;FLOW:4.5;PWM:60;EnergyDay:12;EnergyTotal:3456;"
        "Status:Vorlauf- und R\xfc" "cklauf des Kollektors vertauscht;ErrorCode:4;";
    QTRY_COMPARE(client.received, kExampleLine + secondWire);
    QCOMPARE(spy.count(), 1);
}

void TestServer::clientClosingEndsService()
{
    Server server;
    QSignalSpy spy(&server, &Server::clientConnected);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    Client client;
    client.connectTo(server.serverPort());
    QTRY_VERIFY(server.isConnected());

    client.socket.disconnectFromHost();
    QTRY_VERIFY(!server.isConnected());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QVERIFY(!server.send(QString::fromLatin1(kExampleLine)));

    // The server still listens and serves the next client.
    Client next;
    next.connectTo(server.serverPort());
    QTRY_VERIFY(server.isConnected());
    QVERIFY(server.send(QString::fromLatin1(kExampleLine)));
    QTRY_COMPARE(next.received, kExampleLine);
}

void TestServer::commands_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<bool>("closes");

    QTest::newRow("exit") << QByteArrayList{"!exit\n"} << true;
    QTest::newRow("exit with CR LF") << QByteArrayList{"!exit\r\n"} << false;
    QTest::newRow("upper case") << QByteArrayList{"!EXIT\n"} << false;
    QTest::newRow("no line end") << QByteArrayList{"!exit"} << false;
    QTest::newRow("hello and exit in one piece") << QByteArrayList{"hello\n!exit\n"} << true;
    QTest::newRow("exit in two pieces") << QByteArrayList{"!ex", "it\n"} << true;
    QTest::newRow("line end arrives later") << QByteArrayList{"!exit", "\n"} << true;
    QTest::newRow("other lines only") << QByteArrayList{"hello\n", "exit\n", "!exit \n"} << false;
    QTest::newRow("overlong line ending in exit")
        << QByteArrayList{QByteArray(3000, 'z'), "!exit\n"} << false;
    QTest::newRow("overlong line, then exit")
        << QByteArrayList{QByteArray(3000, 'z'), "\n", "!exit\n"} << true;
}

void TestServer::commands()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(bool, closes);

    Server server;
    QSignalSpy spy(&server, &Server::clientConnected);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    Client client;
    client.connectTo(server.serverPort());
    QTRY_VERIFY(server.isConnected());
    QTRY_VERIFY(client.isConnected());

    qint64 sent = 0;
    for (int i = 0; i < pieces.size(); ++i) {
        client.socket.write(pieces[i]);
        sent += pieces[i].size();
        if (i + 1 < pieces.size()) // let each piece arrive on its own
            QTRY_COMPARE(server.clientBytesRead(), sent);
    }

    if (closes) {
        QTRY_VERIFY(client.isGone());
        QVERIFY(!server.isConnected());
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toBool(), false);
        QVERIFY(!server.send(QString::fromLatin1(kExampleLine)));
    } else {
        // Everything has been read and nothing came of it.
        QTRY_COMPARE(server.clientBytesRead(), sent);
        QVERIFY(server.isConnected());
        QCOMPARE(spy.count(), 1);
        QVERIFY(server.send(QString::fromLatin1(kExampleLine)));
        QTRY_COMPARE(client.received, kExampleLine);
        QVERIFY(client.isConnected());
    }
}

void TestServer::floodWithoutLineEndsStaysBounded()
{
    Server server;
    QSignalSpy spy(&server, &Server::clientConnected);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    Client client;
    client.connectTo(server.serverPort());
    QTRY_VERIFY(server.isConnected());
    QTRY_VERIFY(client.isConnected());

    // Watch the reader's buffer on every turn of the event loop.
    int largest = 0;
    QTimer watch;
    watch.setInterval(0);
    connect(&watch, &QTimer::timeout, [&] { largest = qMax(largest, server.pendingCommandBytes()); });
    watch.start();

    const QByteArray junk(64 * 1024, 'j');
    qint64 sent = 0;
    for (int i = 0; i < 32; ++i) { // 2 MiB without a line end
        client.socket.write(junk);
        sent += junk.size();
    }
    client.socket.write("!exit\n"); // still the same overlong line
    sent += 6;
    QTRY_COMPARE_WITH_TIMEOUT(server.clientBytesRead(), sent, 30000);
    watch.stop();
    largest = qMax(largest, server.pendingCommandBytes());

    QVERIFY(largest <= ClientCommandReader::maxLineLength);
    QVERIFY(server.isConnected());
    QCOMPARE(spy.count(), 1);

    // The client is served as before, and its next proper command works.
    QVERIFY(server.send(QString::fromLatin1(kExampleLine)));
    QTRY_COMPARE(client.received, kExampleLine);
    client.socket.write("partial\n!exit\n");
    QTRY_VERIFY(client.isGone());
    QVERIFY(!server.isConnected());
    QCOMPARE(spy.count(), 2);
}

void TestServer::readingClientKeepsUp()
{
    Server server;
    QSignalSpy spy(&server, &Server::clientConnected);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    Client client;
    client.connectTo(server.serverPort());
    QTRY_VERIFY(server.isConnected());

    // One line per turn of the event loop, far faster than the real interval.
    const int lines = 5000;
    int sent = 0;
    QTimer pump;
    pump.setInterval(0);
    connect(&pump, &QTimer::timeout, [&] {
        if (sent < lines && server.send(QString::fromLatin1(kExampleLine)))
            ++sent;
    });
    pump.start();
    QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), lines * kExampleLine.size(), 30000);
    pump.stop();

    QCOMPARE(sent, lines);
    QVERIFY(server.isConnected());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(client.received, kExampleLine.repeated(lines));
}

void TestServer::nonReadingClientIsDroppedWithoutBlocking()
{
    Server server;
    QSignalSpy spy(&server, &Server::clientConnected);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    Client client(false);
    client.connectTo(server.serverPort());
    QTRY_VERIFY(server.isConnected());
    QTRY_VERIFY(client.isConnected());

    // Sends are driven from the event loop, one per turn, as the data frame
    // handling does; a heartbeat timer shows the loop keeps turning meanwhile.
    const QString line = QString::fromLatin1(kExampleLine);
    int calls = 0, returned = 0, accepted = 0, refused = 0;
    std::vector<qint64> sendNs;
    int heartbeats = 0;
    QTimer pump, heartbeat;
    pump.setInterval(0);
    heartbeat.setInterval(1);
    connect(&heartbeat, &QTimer::timeout, [&] { ++heartbeats; });
    connect(&pump, &QTimer::timeout, [&] {
        QElapsedTimer t;
        t.start();
        ++calls;
        const bool ok = server.send(line);
        ++returned;
        sendNs.push_back(t.nsecsElapsed());
        (ok ? accepted : refused)++;
    });
    QElapsedTimer total;
    total.start();
    pump.start();
    heartbeat.start();
    QVERIFY(spy.wait(30000)); // the drop
    const qint64 untilDropMs = total.elapsed();
    const int callsAtDrop = calls;
    pump.stop();
    heartbeat.stop();

    QCOMPARE(returned, calls);
    QCOMPARE(accepted, callsAtDrop); // every call up to the drop was a served send
    QCOMPARE(refused, 0);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QVERIFY(!server.isConnected());
    QVERIFY(!server.send(line));
    // More than the bound was queued before the client was given up.
    QVERIFY(qint64(accepted) * kExampleLine.size() > Server::maxBacklog);
    QVERIFY(heartbeats > 0);
    std::sort(sendNs.begin(), sendNs.end());
    qInfo("%d sends in %lld ms until the drop (%lld bytes); send median %lld ns, 99.9%% %lld ns, "
          "longest %lld ns; %d heartbeats",
          accepted, untilDropMs, qint64(accepted) * kExampleLine.size(), sendNs[sendNs.size() / 2],
          sendNs[sendNs.size() * 999 / 1000], sendNs.back(), heartbeats);

    // The client, reading at last, finds the connection gone and what it got
    // is an unbroken run of whole lines up to some point.
    client.socket.setReadBufferSize(0);
    QObject::connect(&client.socket, &QTcpSocket::readyRead, &client.socket,
                     [&] { client.received += client.socket.readAll(); });
    client.received += client.socket.readAll();
    QTRY_VERIFY_WITH_TIMEOUT(client.isGone(), 30000);
    const QByteArray all = kExampleLine.repeated(accepted);
    QVERIFY(all.startsWith(client.received));
}

void TestServer::secondClientReplacesFirst()
{
    Server server;
    QSignalSpy spy(&server, &Server::clientConnected);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));

    Client first;
    QSignalSpy firstGone(&first.socket, &QTcpSocket::disconnected);
    first.connectTo(server.serverPort());
    QTRY_COMPARE(spy.count(), 1);
    QTRY_VERIFY(first.isConnected());

    Client second;
    second.connectTo(server.serverPort());
    QTRY_COMPARE(spy.count(), 3); // first released, second accepted
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QCOMPARE(spy.at(2).at(0).toBool(), true);
    QVERIFY(server.isConnected());
    QTRY_COMPARE(firstGone.count(), 1);
    QTRY_VERIFY(second.isConnected());

    QVERIFY(server.send(QString::fromLatin1(kExampleLine)));
    QTRY_COMPARE(second.received, kExampleLine);
    QVERIFY(first.received.isEmpty());

    // The first client's going, seen on its side, reaches nobody.
    first.socket.abort();
    second.socket.write("hello\n");
    QTRY_COMPARE(server.clientBytesRead(), qint64(6));
    QVERIFY(server.isConnected());
    QCOMPARE(spy.count(), 3);
    QVERIFY(server.send(QString::fromLatin1(kExampleLine)));
    QTRY_COMPARE(second.received, kExampleLine + kExampleLine);
    QVERIFY(second.isConnected());

    // And the second client's own command still works.
    second.socket.write("!exit\n");
    QTRY_VERIFY(second.isGone());
    QCOMPARE(spy.count(), 4);
    QVERIFY(!server.isConnected());
}

void TestServer::stopThenListenOnNewPort()
{
    Server server;
    QSignalSpy spy(&server, &Server::clientConnected);
    server.stop(); // idle: nothing to do, nothing emitted
    QCOMPARE(spy.count(), 0);

    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const quint16 oldPort = server.serverPort();
    Client client;
    client.connectTo(oldPort);
    QTRY_VERIFY(server.isConnected());

    server.stop();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QVERIFY(!server.isConnected());
    QVERIFY(!server.isListening());
    QCOMPARE(server.serverPort(), quint16(0));
    QTRY_VERIFY(client.isGone());
    QVERIFY(!server.send(QString::fromLatin1(kExampleLine)));

    // Someone else may take the old port now; the server no longer answers there.
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, oldPort));
    Client stray;
    stray.connectTo(oldPort);
    QTRY_VERIFY(holder.hasPendingConnections());
    QCOMPARE(spy.count(), 2);

    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const quint16 newPort = server.serverPort();
    QVERIFY(newPort != oldPort);
    Client next;
    next.connectTo(newPort);
    QTRY_COMPARE(spy.count(), 3);
    QVERIFY(server.isConnected());
    QVERIFY(server.send(QString::fromLatin1(kExampleLine)));
    QTRY_COMPARE(next.received, kExampleLine);
}

void TestServer::listenWhileServingMovesAndDropsClient()
{
    Server server;
    QSignalSpy spy(&server, &Server::clientConnected);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const quint16 oldPort = server.serverPort();
    Client client;
    client.connectTo(oldPort);
    QTRY_VERIFY(server.isConnected());

    const quint16 port = freePort();
    QVERIFY(port != 0 && port != oldPort);
    QVERIFY(server.listen(QHostAddress::LocalHost, port));
    QCOMPARE(server.serverPort(), port);
    QVERIFY(!server.isConnected());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QTRY_VERIFY(client.isGone());

    // The old port is closed, the new one serves.
    Client stale;
    QSignalSpy staleError(&stale.socket, &QAbstractSocket::errorOccurred);
    stale.connectTo(oldPort);
    QTRY_COMPARE(staleError.count(), 1);
    QCOMPARE(stale.socket.error(), QAbstractSocket::ConnectionRefusedError);

    Client next;
    next.connectTo(port);
    QTRY_COMPARE(spy.count(), 3);
    QVERIFY(server.send(QString::fromLatin1(kExampleLine)));
    QTRY_COMPARE(next.received, kExampleLine);

    // A listen that cannot succeed leaves the server idle, not half-serving.
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    QVERIFY(!server.listen(QHostAddress::LocalHost, taken.serverPort()));
    QVERIFY(!server.isListening());
    QVERIFY(!server.isConnected());
    QCOMPARE(spy.count(), 4);
    QTRY_VERIFY(next.isGone());
}

void TestServer::destroyingServerWithClient()
{
    auto server = std::make_unique<Server>();
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    Client client;
    client.connectTo(server->serverPort());
    QTRY_VERIFY(server->isConnected());
    QVERIFY(server->send(QString::fromLatin1(kExampleLine)));
    QTRY_COMPARE(client.received, kExampleLine);

    server.reset();
    QTRY_VERIFY(client.isGone());
}

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
