// soak_monitor: the monitor's real window, driven for the soak, the fault
// drills and the steady-state run. It builds MainWindow exactly as taralbus
// does, and adds only what a person at the screen would do or see: it presses
// "Start", ticks "Debug Output", and reports the window's counters and status
// lights on standard output.
//
// The INI file, the recordings and Debug.txt go to this executable's
// directory, as for taralbus (the INI file is named taralbus.ini here too).
//
// Options:
//   --port DEVICE       serial device opened at start (as taralbus --port)
//   --record            press "Start" once the window is up
//   --debug             tick "Debug Output" once the window is up
//   --prefill-days D    put D days of one point per second into each of the
//                       plot's five graphs before the event loop runs, with the
//                       time range a monitor running that long would have
//
// Lines on standard output (times are CLOCK_MONOTONIC milliseconds):
//   main t=..                   entry of main
//   ready t=.. pid=..           window constructed and shown
//   exposed t=..                first expose of the window
//   port t=.. open=0|1          the "Comport ok" light changes
//   client t=.. connected=0|1   the "Client verbunden" light changes
//   port-error t=.. code=.. text=".."   the serial port reports an error
//   stats t=.. <counters>       on "stats" and at exit
//   panel <text>                on "panel": text panel and status bar
// Commands on standard input, one a line: stats, panel, record, stop, debug,
// quit. SIGTERM, SIGINT and the end of standard input quit as well; quitting
// closes the window, so its settings are written as at a normal shutdown.

#include "tests/test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTextEdit>
#include <QWindow>
#include <qcustomplot.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    const ssize_t ignored = ::write(signalPipe[1], &c, 1);
    (void)ignored;
}

long long monoMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void say(const QString &line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString oneLine(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

class ExposeWatch : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!seen && event->type() == QEvent::Expose) {
            auto *window = qobject_cast<QWindow *>(watched);
            if (window && window->isExposed()) {
                seen = true;
                say(QStringLiteral("exposed t=%1").arg(monoMs()));
            }
        }
        return false;
    }
    bool seen = false;
};

// One point a second for `days` days up to now, in each graph: a daily
// sunny-day curve per sensor with a little noise, so the plot has real work
// to do when it samples the points down to the screen's width.
void prefillPlot(MainWindowProbe &probe, double days)
{
    QCustomPlot *plot = probe.ui().customPlot;
    const double now = std::floor(double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
    const int points = int(days * 86400.0);
    const double start = now - points;
    const double base[5] = {20.0, 45.0, 30.0, 8.0, 25.0};
    const double swing[5] = {60.0, 15.0, 35.0, 10.0, 30.0};
    std::uint32_t noise = 12345;
    double tsaMin = 1e9, tsaMax = -1e9;
    for (int g = 0; g < 5; ++g) {
        QVector<QCPGraphData> data(points);
        for (int i = 0; i < points; ++i) {
            const double key = start + i;
            const double day = std::fmod(key, 86400.0) / 86400.0;
            const double sun = std::max(0.0, std::sin((day - 0.25) * 2.0 * M_PI));
            noise = noise * 1664525u + 1013904223u;
            const double jitter = double(noise >> 8) / double(1u << 24) - 0.5;
            const double value = std::round((base[g] + swing[g] * sun + jitter) * 10.0) / 10.0;
            data[i] = QCPGraphData(key, value);
            if (g == 0) {
                tsaMin = std::min(tsaMin, value);
                tsaMax = std::max(tsaMax, value);
            }
        }
        plot->graph(g)->data()->set(data, true);
    }
    // What the window's own upkeep would have left after running that long:
    // the time range from its start up to now, the temperature range around
    // every collector reading seen.
    probe.keyRangeLower() = start;
    probe.keyRangeUpper() = now + 10;
    probe.valueRangeLower() = tsaMin - 5;
    probe.valueRangeUpper() = tsaMax + 5;
    probe.ui().pb_XFit->click();
    probe.ui().pb_YFit->click();
}

} // namespace

int main(int argc, char **argv)
{
    const long long entered = monoMs();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("taralbus"));
    Q_INIT_RESOURCE(resources);
    say(QStringLiteral("main t=%1").arg(entered));

    QString port;
    bool record = false;
    bool debug = false;
    double prefillDays = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--port") && i + 1 < args.size())
            port = args[++i];
        else if (a == QLatin1String("--record"))
            record = true;
        else if (a == QLatin1String("--debug"))
            debug = true;
        else if (a == QLatin1String("--prefill-days") && i + 1 < args.size())
            prefillDays = args[++i].toDouble();
        else {
            std::fprintf(stderr, "soak_monitor: unknown argument %s\n", qPrintable(a));
            return 2;
        }
    }

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    StartOptions options;
    options.port = port;
    auto *window = new MainWindow(options);
    MainWindowProbe probe{*window};

    const auto stats = [&probe] {
        QString line = QStringLiteral("stats t=%1").arg(monoMs());
        const char *names[] = {"fc3e", "fc1f", "2302", "fd05"};
        int n = 0;
        for (FrameKind kind : kAllFrameKinds) {
            const PacketCounters c = probe.counters(kind);
            line += QStringLiteral(" %1_good=%2 %1_bad=%3").arg(QLatin1String(names[n++])).arg(c.good).arg(c.bad);
        }
        line += QStringLiteral(" port_open=%1 retry_armed=%6 client=%2 csv_open=%3 csv=%4 points=%5")
                    .arg(probe.ui().cb_ComportOk->isChecked() ? 1 : 0)
                    .arg(probe.ui().cb_ClientConnected->isChecked() ? 1 : 0)
                    .arg(probe.csvFile().isOpen() ? 1 : 0)
                    .arg(QFileInfo(probe.csvFile().fileName()).fileName())
                    .arg(probe.ui().customPlot->graph(0)->dataCount())
                    .arg(probe.retryTimer().isActive() ? 1 : 0);
        say(line);
    };
    const auto panel = [&probe, window] {
        const QRect g = window->geometry();
        say(QStringLiteral("panel data=\"%1\" status=\"%2\" start_enabled=%3 stop_enabled=%4 debug=%5 visible=%6 "
                           "geometry=%7x%8+%9+%10")
                .arg(oneLine(probe.ui().te_Data->toPlainText()), oneLine(window->statusBar()->currentMessage()))
                .arg(probe.ui().pb_Start->isEnabled() ? 1 : 0)
                .arg(probe.ui().pb_Stop->isEnabled() ? 1 : 0)
                .arg(probe.ui().cbDebug->isChecked() ? 1 : 0)
                .arg(window->isVisible() ? 1 : 0)
                .arg(g.width())
                .arg(g.height())
                .arg(g.x())
                .arg(g.y()));
    };
    bool quitting = false;
    const auto quit = [&] {
        if (quitting)
            return;
        quitting = true;
        stats();
        window->close();
        QCoreApplication::quit();
    };

    QObject::connect(probe.ui().cb_ComportOk, &QCheckBox::toggled,
                     [](bool on) { say(QStringLiteral("port t=%1 open=%2").arg(monoMs()).arg(on ? 1 : 0)); });
    QObject::connect(probe.ui().cb_ClientConnected, &QCheckBox::toggled,
                     [](bool on) { say(QStringLiteral("client t=%1 connected=%2").arg(monoMs()).arg(on ? 1 : 0)); });

    QObject::connect(&probe.port(), &QSerialPort::errorOccurred, [&probe](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError)
            say(QStringLiteral("port-error t=%1 code=%2 text=\"%3\"")
                    .arg(monoMs())
                    .arg(int(error))
                    .arg(oneLine(probe.port().errorString())));
    });

    if (prefillDays > 0)
        prefillPlot(probe, prefillDays);

    ExposeWatch exposeWatch;
    window->winId(); // creates the QWindow, so its first expose is seen
    window->windowHandle()->installEventFilter(&exposeWatch);
    window->show();
    say(QStringLiteral("ready t=%1 pid=%2 port_open=%3 port_error=%4 retry_armed=%5")
            .arg(monoMs())
            .arg(QCoreApplication::applicationPid())
            .arg(probe.ui().cb_ComportOk->isChecked() ? 1 : 0)
            .arg(int(probe.port().error()))
            .arg(probe.retryTimer().isActive() ? 1 : 0));

    if (record) {
        probe.ui().pb_Start->click();
        panel();
    }
    if (debug) {
        probe.ui().cbDebug->click();
        panel();
    }

    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        char c;
        while (::read(signalPipe[0], &c, 1) > 0) {
        }
        quit();
    });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[512];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            quit();
            return;
        }
        pending.append(buffer, int(n));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray command = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (command == "stats")
                stats();
            else if (command == "panel")
                panel();
            else if (command == "record")
                probe.ui().pb_Start->click();
            else if (command == "stop")
                probe.ui().pb_Stop->click();
            else if (command == "debug")
                probe.ui().cbDebug->click();
            else if (command == "quit")
                quit();
        }
    });

    const int rc = app.exec();
    delete window; // writes the settings back, as at a normal shutdown
    say(QStringLiteral("exit t=%1").arg(monoMs()));
    return rc;
}
