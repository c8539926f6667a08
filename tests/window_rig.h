#pragma once
// A main window that reads a pseudo-terminal, runs on a clock the test steps
// and keeps its files in a temporary directory; with helpers that write bytes
// to the bus and wait until the window has taken them.

#include "test_support.h"

#include <QTcpServer>

#include <memory>

class WindowRig
{
public:
    enum Start { OpenNow, OpenLater };

    explicit WindowRig(Start start = OpenNow)
    {
        if (start == OpenNow)
            open();
    }

    // Constructs the window (again, after a restart) on the same directory,
    // pseudo-terminal and clock.
    void open()
    {
        StartOptions options;
        options.port = pty.path;
        options.clock = &clock;
        window = std::make_unique<MainWindow>(options);
    }
    // Destroys the window the normal way, which writes the settings file.
    void close() { window.reset(); }

    MainWindow &w() { return *window; }
    MainWindowProbe probe() { return MainWindowProbe{*window}; }

    // Writes bytes that complete `goodFrames` good frames of `kind` and waits
    // until the window has counted them.
    bool feed(const QByteArray &bytes, FrameKind kind = FrameKind::SyncFC3E, quint64 goodFrames = 1)
    {
        const quint64 target = probe().counters(kind).good + goodFrames;
        pty.write(bytes);
        return QTest::qWaitFor([&] { return probe().counters(kind).good == target; }, 5000);
    }
    bool feed(const Measurement &m) { return feed(dataFrame(m)); }

    // Writes a frame of `kind` whose checksum is off and waits until it is counted as bad.
    bool feedBad(FrameKind kind, QByteArray frame)
    {
        frame[frame.size() - 1] = char(frame.back() + 1);
        const quint64 target = probe().counters(kind).bad + 1;
        pty.write(frame);
        return QTest::qWaitFor([&] { return probe().counters(kind).bad == target; }, 5000);
    }

    QString iniPath() const { return dir.file(QCoreApplication::applicationName() + QStringLiteral(".ini")); }

    // Members are destroyed bottom up: the window first, the directory last.
    TempAppDir dir;
    Pty pty;
    TestClock clock;

private:
    std::unique_ptr<MainWindow> window;
};

// A loopback port nobody listens on right now.
inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
