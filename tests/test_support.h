#pragma once
// Shared pieces of the window tests: a clock the test steps, a pseudo-terminal
// as the serial port, and access to the window's state.

#include "app/app_paths.h"
#include "app/clock.h"
#include "app/mainwindow.h"
#include "bus/frame_encoder.h"
#include "example_values.h"
#include "ui_mainwindow.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

class TestClock : public Clock
{
public:
    qint64 wall = 1751533507000; // 2025-07-03, a summer day
    qint64 mono = 0;
    qint64 wallMs() const override { return wall; }
    qint64 monotonicMs() const override { return mono; }
    void advance(qint64 ms)
    {
        wall += ms;
        mono += ms;
    }
};

// The controller's side of a pseudo-terminal; the window opens the other side
// (or a symlink to it) as its serial port.
class Pty
{
public:
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            qFatal("no pseudo-terminal");
        termios t;
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
        path = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { close(); }
    void write(const QByteArray &bytes) const
    {
        if (::write(master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qFatal("pty write failed");
    }
    void close()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    QString path;

private:
    int master = -1;
};

struct MainWindowProbe {
    MainWindow &w;
    Ui::MainWindow &ui() { return *w.ui; }
    Ui::Setting &settingsUi() { return w.settingsUi; }
    QSerialPort &port() { return w.serialPort; }
    QFile &csvFile() { return w.csvFile; }
    QTimer &retryTimer() { return *w.retryTimer; }
    Server &server() { return w.server; }
    double &keyRangeLower() { return w.keyRangeLower; }
    double &keyRangeUpper() { return w.keyRangeUpper; }
    double &valueRangeLower() { return w.valueRangeLower; }
    double &valueRangeUpper() { return w.valueRangeUpper; }
    PacketCounters dataCounters() const { return w.synchronizer.counters(FrameKind::SyncFC3E); }
    PacketCounters counters(FrameKind kind) const { return w.synchronizer.counters(kind); }
    QString retryPortName() const { return w.retryPortName; }
};

// The example values with another collector temperature.
inline Measurement sampleMeasurement(double tsa = 45.0)
{
    Measurement m = exampleMeasurement();
    m.tsa = tsa;
    return m;
}

inline QByteArray dataFrame(const Measurement &m)
{
    return encodeFrame(FrameKind::SyncFC3E, encodeDataBody(m));
}

// Points the data directory at a fresh temporary directory for one test.
struct TempAppDir {
    QTemporaryDir dir;
    TempAppDir() { setAppDataDir(dir.path()); }
    QString file(const QString &name) const { return dir.filePath(name); }
};
