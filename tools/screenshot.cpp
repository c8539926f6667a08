// Draws the main window after a few minutes of plausible bus traffic and
// saves it as a PNG: taralbus-screenshot OUT.png [MINUTES]
//
// Runs offscreen, on a pseudo-terminal as the serial port and on a clock of
// its own that steps one second per data frame, so it takes a moment
// whatever the number of minutes. Files the window writes go to a temporary
// directory.
#include "app/app_paths.h"
#include "app/clock.h"
#include "app/mainwindow.h"
#include "bus/frame_encoder.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A clock that moves only when told to.
class SteppedClock : public Clock
{
public:
    qint64 wall = 1751533507000; // 2025-07-03, late morning in central Europe
    qint64 mono = 0;
    qint64 wallMs() const override { return wall; }
    qint64 monotonicMs() const override { return mono; }
};

// The controller's side of a pseudo-terminal; the window opens the other side.
class PtyMaster
{
public:
    PtyMaster()
    {
        fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0)
            return;
        termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        path = QString::fromLocal8Bit(ptsname(fd));
    }
    ~PtyMaster()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool write(const QByteArray &bytes) const
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    QString path;

private:
    int fd = -1;
};

// A sunny spell passing over the collector: cold at first, as warm as the
// air, it heats up and cools down again while the tank warms slowly. The
// collector's range is what the window fits the temperature axis to, so all
// five curves stay in view.
Measurement plantAt(int second, int seconds)
{
    const double phase = double(second) / seconds;
    const double sun = std::max(0.0, std::sin(M_PI * phase) + 0.15 * std::sin(12 * M_PI * phase));
    auto tenths = [](double v) { return std::round(v * 10) / 10; };
    Measurement m;
    m.tsa = tenths(12.0 + 63.0 * sun);
    m.tw = tenths(44.0 + 6.0 * phase);
    m.tsv = tenths(m.tsa - 2.0 - 4.0 * sun);
    m.tam = tenths(11.5 + 0.8 * std::sin(2 * M_PI * phase));
    m.tse = tenths(m.tw - 4.0 + 3.0 * sun);
    m.flow = sun > 0.3 ? 4.5 : 0.0;
    m.pwm = sun > 0.3 ? std::uint8_t(30 + 60 * std::min(1.0, sun)) : 0;
    m.energyDay = std::int16_t(second / 60);
    m.energyTotal = 3456;
    m.status = 0;
    m.clockHour = 11;
    m.clockMinute = std::uint8_t(5 + second / 60 % 55);
    m.clockDay = 3;
    m.clockMonth = 7;
    m.clockYear = 25;
    return m;
}

// A sync word inside a frame makes the receiver drop the frame and start
// over, as on the real bus. The simulated values step around such frames.
bool carriesSyncWord(const QByteArray &frame)
{
    for (int i = 1; i + 1 < frame.size(); ++i) {
        const auto word = std::uint16_t(std::uint8_t(frame[i]) << 8 | std::uint8_t(frame[i + 1]));
        for (FrameKind kind : kAllFrameKinds)
            if (word == std::uint16_t(kind))
                return true;
    }
    return false;
}

QByteArray frameAt(int second, int seconds)
{
    Measurement m = plantAt(second, seconds);
    QByteArray frame = encodeFrame(FrameKind::SyncFC3E, encodeDataBody(m));
    while (carriesSyncWord(frame)) {
        for (double *t : {&m.tsa, &m.tw, &m.tsv, &m.tam, &m.tse})
            *t += 0.1;
        frame = encodeFrame(FrameKind::SyncFC3E, encodeDataBody(m));
    }
    return frame;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: taralbus-screenshot OUT.png [MINUTES]\n");
        return 2;
    }
    const int minutes = args.size() > 2 ? args[2].toInt() : 5;
    const int seconds = qBound(1, minutes, 24 * 60) * 60;

    QTemporaryDir dataDir;
    setAppDataDir(dataDir.path());
    PtyMaster pty;
    if (pty.path.isEmpty()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    SteppedClock clock;
    StartOptions options;
    options.port = pty.path;
    options.clock = &clock;
    MainWindow window(options);
    window.resize(1200, 640);
    window.show();

    // One data frame a second; each adds a point to every curve.
    const QCPGraph *collector = window.findChild<QCustomPlot *>(QStringLiteral("customPlot"))->graph(0);
    for (int s = 0; s < seconds; ++s) {
        clock.wall += 1000;
        clock.mono += 1000;
        if (!pty.write(frameAt(s, seconds))) {
            std::fprintf(stderr, "pseudo-terminal write failed\n");
            return 1;
        }
        const QDeadlineTimer deadline(5000);
        while (collector->dataCount() <= s && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (collector->dataCount() <= s) {
            std::fprintf(stderr, "the window took no frame at second %d\n", s);
            return 1;
        }
    }
    QCoreApplication::processEvents();

    if (!window.grab().save(args[1])) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}
