// taralbus-sim: plays the solar controller on a pseudo-terminal (or standard
// output), so the monitor can be run and tested without the plant.

#include "sim_model.h"
#include "sim_stream.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// 9600 baud with start and stop bit: ten bits a byte.
constexpr double kBusBytesPerSecond = 960.0;
constexpr int kTickMs = 10;
// Work done in one timer tick at most, so signals are served even when a high
// speed keeps the simulator busy all the time.
constexpr int kMaxSecondsPerTick = 256;
constexpr qint64 kMaxBytesPerTick = 256 * 1024;
// When the pty is full: a reader that has drained it lately is waited for
// this long, otherwise nobody is reading and the unread bytes are thrown
// away after a short grace.
constexpr qint64 kReaderRecentMs = 1000;
constexpr qint64 kStallForReaderMs = 1000;
constexpr qint64 kStallWithoutReaderMs = 50;
// At low speeds the pty holds minutes of traffic before it is full. Once the
// unread bytes have reached back further than the last two seconds of traffic
// for this long, and nobody has read meanwhile, they are discarded, so a
// monitor that opens the port later starts with current frames.
constexpr qint64 kUnreadGraceMs = 2000;
// At exit: how long unread bytes may sit still before nobody is taken to be
// reading them, and how long a reader is waited for at most.
constexpr qint64 kExitIdleMs = 200;
constexpr qint64 kExitWaitMs = 10000;

int signalPipe[2] = {-1, -1};

void onSignal(int signo)
{
    const char c = char(signo);
    const ssize_t ignored = ::write(signalPipe[1], &c, 1);
    (void)ignored;
}

struct Options {
    bool toStdout = false;
    QString link;
    qint64 count = 0; // good data frames to send; 0 runs until stopped
    double speed = 1.0;
    std::uint32_t seed = 0;
    int status = 0;
    FaultRates faults;
    QDate startDate;
    double startSecond = 0;
    QString valuesPath;
};

const char *kindName(FrameKind kind)
{
    switch (kind) {
    case FrameKind::SyncFC3E: return "FC3E";
    case FrameKind::SyncFC1F: return "FC1F";
    case FrameKind::Sync2302: return "2302";
    case FrameKind::SyncFD05: return "FD05";
    case FrameKind::None: break;
    }
    return "none";
}

class Simulator
{
public:
    explicit Simulator(const Options &options);
    ~Simulator();

    bool openPty(QString *error);
    bool openValues(QString *error);
    QString devicePath() const { return device; }
    void start();
    // Writes what is left of the current second and stops.
    void stop();
    void report(FILE *out) const;
    int exitCode() const { return failure ? 1 : 0; }

private:
    void tick();
    void generateSecond();
    qint64 writeOut(const char *data, qint64 length);
    qint64 writeStdout(const char *data, qint64 length);
    qint64 writePty(const char *data, qint64 length);
    void noteUnread();
    void discardStaleBytes();
    void discardUnread();
    void waitForReader();
    void drainMaster();
    void finish();

    Options opt;
    SimModel model;
    SimStream stream;
    QTimer pacer;
    QElapsedTimer wallClock;
    QFile valuesFile;

    QByteArray pending;
    qint64 pendingAt = 0;
    qint64 secondsGenerated = 0;
    double secondStart = 0;   // model seconds since start at which `pending` began
    qint64 writtenThisSecond = 0;
    qint64 lastSecondsBytes[2] = {0, 0}; // sizes of the last two seconds of traffic
    qint64 goodDataFrames = 0;
    bool lastSecondGenerated = false;
    bool stopped = false;
    bool failure = false;

    // Pseudo-terminal.
    int masterFd = -1;
    int slaveFd = -1;
    QString device;
    std::unique_ptr<QSocketNotifier> masterReader;
    bool stalled = false;
    QElapsedTimer stalledFor;
    int lastUnread = 0;
    QElapsedTimer lastDrain; // invalid until a reader shows itself
    QElapsedTimer staleSince; // since when more than two seconds of traffic sit unread

    quint64 bytesWritten = 0;
    quint64 flushes = 0;
    quint64 droppedBytes = 0;
};

Simulator::Simulator(const Options &options)
    : opt(options), model(options.startDate, options.startSecond, options.seed ^ 0x5eed5eedu),
      stream(options.seed, options.faults)
{
    pacer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pacer, &QTimer::timeout, [this] { tick(); });
}

Simulator::~Simulator()
{
    if (!opt.link.isEmpty() && !device.isEmpty()) {
        // Remove the link only while it is still ours.
        char target[4096];
        const ssize_t n = ::readlink(QFile::encodeName(opt.link).constData(), target, sizeof target - 1);
        if (n > 0) {
            target[n] = '\0';
            if (device == QString::fromLocal8Bit(target))
                ::unlink(QFile::encodeName(opt.link).constData());
        }
    }
    masterReader.reset();
    if (slaveFd >= 0)
        ::close(slaveFd);
    if (masterFd >= 0)
        ::close(masterFd);
}

bool Simulator::openPty(QString *error)
{
    masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (masterFd < 0 || ::grantpt(masterFd) != 0 || ::unlockpt(masterFd) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    char name[256];
    if (::ptsname_r(masterFd, name, sizeof name) != 0) {
        *error = QStringLiteral("cannot name the pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    device = QString::fromLocal8Bit(name);

    // Raw 8-bit line: on a pty the master's settings are the slave's, so no
    // echo and no line editing touch the bus bytes.
    termios tio{};
    ::tcgetattr(masterFd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    ::tcsetattr(masterFd, TCSANOW, &tio);

    // Holding the slave open keeps the master writable while no monitor is
    // attached; the bytes nobody reads are discarded (discardStaleBytes).
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(device, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }

    const QByteArray linkName = QFile::encodeName(opt.link);
    struct stat st {};
    if (::lstat(linkName.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a symbolic link").arg(opt.link);
            device.clear();
            return false;
        }
        ::unlink(linkName.constData());
    }
    if (::symlink(name, linkName.constData()) != 0) {
        *error = QStringLiteral("cannot link %1: %2").arg(opt.link, QString::fromLocal8Bit(std::strerror(errno)));
        device.clear();
        return false;
    }

    // Whatever a monitor writes to the port is read and ignored, so it can
    // never fill the other direction.
    masterReader = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Read);
    QObject::connect(masterReader.get(), &QSocketNotifier::activated, [this] { drainMaster(); });
    return true;
}

bool Simulator::openValues(QString *error)
{
    if (opt.valuesPath.isEmpty())
        return true;
    valuesFile.setFileName(opt.valuesPath);
    if (!valuesFile.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("cannot open %1: %2").arg(opt.valuesPath, valuesFile.errorString());
        return false;
    }
    return true;
}

void Simulator::drainMaster()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // End of file or an error: nothing more will come this way.
        masterReader->setEnabled(false);
        return;
    }
}

void Simulator::start()
{
    wallClock.start();
    pacer.start(kTickMs);
}

void Simulator::generateSecond()
{
    if (secondsGenerated > 0)
        model.advance(1.0);
    Measurement values = model.reading();
    values.status = std::uint8_t(opt.status);
    const bool last = opt.count > 0 && goodDataFrames + 1 == opt.count;
    const std::optional<Measurement> sent = stream.addSecond(values, last);
    pending = stream.takeBytes();
    lastSecondsBytes[1] = lastSecondsBytes[0];
    lastSecondsBytes[0] = pending.size();
    pendingAt = 0;
    secondStart = double(secondsGenerated);
    writtenThisSecond = 0;
    ++secondsGenerated;
    if (sent) {
        ++goodDataFrames;
        if (valuesFile.isOpen()) {
            valuesFile.write(valuesLine(*sent).toLatin1());
            valuesFile.flush();
        }
        if (opt.count > 0 && goodDataFrames >= opt.count)
            lastSecondGenerated = true;
    }
}

void Simulator::tick()
{
    if (stopped)
        return;
    if (masterFd >= 0)
        discardStaleBytes();
    const double now = double(wallClock.nsecsElapsed()) / 1e9 * opt.speed;
    int secondsLeft = kMaxSecondsPerTick;
    qint64 bytesLeft = kMaxBytesPerTick;
    bool blocked = false;
    for (;;) {
        if (pendingAt < pending.size()) {
            // Bytes leave at bus pace from the start of their second; a
            // simulator that fell behind catches up in one burst.
            const qint64 due = qint64((now - secondStart) * kBusBytesPerSecond) - writtenThisSecond;
            const qint64 chunk = std::min({due, pending.size() - pendingAt, bytesLeft});
            if (chunk <= 0)
                break;
            const qint64 n = writeOut(pending.constData() + pendingAt, chunk);
            if (n < 0) {
                finish();
                return;
            }
            pendingAt += n;
            writtenThisSecond += n;
            bytesLeft -= n;
            if (n < chunk) {
                blocked = true;
                break;
            }
            continue;
        }
        if (lastSecondGenerated) {
            finish();
            return;
        }
        if (now < double(secondsGenerated) || secondsLeft-- <= 0 || bytesLeft <= 0)
            break;
        generateSecond();
    }
    // Measured again after writing, so that whatever a reader takes before
    // the next tick shows as a drop.
    if (masterFd >= 0)
        noteUnread();
    const bool behind = !blocked && (now >= double(secondsGenerated) || bytesLeft <= 0 || secondsLeft < 0);
    pacer.setInterval(behind ? 0 : kTickMs);
}

qint64 Simulator::writeOut(const char *data, qint64 length)
{
    const qint64 n = opt.toStdout ? writeStdout(data, length) : writePty(data, length);
    if (n > 0)
        bytesWritten += quint64(n);
    return n;
}

qint64 Simulator::writeStdout(const char *data, qint64 length)
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::write(STDOUT_FILENO, data + done, size_t(length - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{STDOUT_FILENO, POLLOUT, 0};
            ::poll(&p, 1, -1);
        } else {
            // The reader went away (EPIPE) or the output broke: nothing more
            // can be delivered.
            if (!(n < 0 && errno == EPIPE)) {
                std::fprintf(stderr, "taralbus-sim: writing the byte stream failed: %s\n", std::strerror(errno));
                failure = true;
            }
            bytesWritten += quint64(done);
            return -1;
        }
    }
    return done;
}

qint64 Simulator::writePty(const char *data, qint64 length)
{
    const ssize_t n = ::write(masterFd, data, size_t(length));
    if (n >= 0) {
        // Room in a full pty that was not made by a flush: a reader.
        if (stalled)
            lastDrain.start();
        stalled = false;
        return n;
    }
    if (errno == EINTR)
        return 0;
    if (errno == EAGAIN) {
        // The pty is full. A reader that is merely slow frees room soon, and
        // is waited for; bytes nobody reads are discarded.
        if (!stalled) {
            stalled = true;
            stalledFor.start();
            return 0;
        }
        const bool readerSeen = lastDrain.isValid() && lastDrain.elapsed() < kReaderRecentMs;
        if (stalledFor.elapsed() < (readerSeen ? kStallForReaderMs : kStallWithoutReaderMs))
            return 0;
        discardUnread();
        stalled = false;
        const ssize_t retried = ::write(masterFd, data, size_t(length));
        return retried > 0 ? retried : 0;
    }
    // EIO and the like: the line is gone for now; these bytes are lost.
    droppedBytes += quint64(length);
    return length;
}

void Simulator::noteUnread()
{
    int unread = 0;
    if (::ioctl(slaveFd, FIONREAD, &unread) != 0)
        return;
    // Fewer unread bytes than last time, and no flush in between: a reader.
    if (unread < lastUnread)
        lastDrain.start();
    lastUnread = unread;
}

void Simulator::discardStaleBytes()
{
    noteUnread();
    const qint64 recent = lastSecondsBytes[0] + lastSecondsBytes[1];
    if (lastUnread <= recent) {
        staleSince.invalidate();
        return;
    }
    if (!staleSince.isValid())
        staleSince.start();
    // Old bytes have sat there for a while and nobody has read any lately.
    const bool readerSeen = lastDrain.isValid() && lastDrain.elapsed() < kUnreadGraceMs;
    if (staleSince.elapsed() >= kUnreadGraceMs && !readerSeen)
        discardUnread();
}

void Simulator::discardUnread()
{
    ::tcflush(slaveFd, TCIFLUSH);
    // Nobody reads: an exclusive lock left behind by a monitor that died
    // would keep the next one out, as the slave never closes while held here.
    ::ioctl(slaveFd, TIOCNXCL);
    lastUnread = 0;
    staleSince.invalidate();
    ++flushes;
}

void Simulator::stop()
{
    if (stopped)
        return;
    stopped = true;
    pacer.stop();
    // Finish the second being written, so every frame counted went out whole.
    // A full pty is flushed after kStallForReaderMs at most, well within the
    // patience given here.
    int patience = 50;
    while (pendingAt < pending.size()) {
        const qint64 n = writeOut(pending.constData() + pendingAt, pending.size() - pendingAt);
        if (n < 0)
            break;
        pendingAt += n;
        if (pendingAt >= pending.size())
            break;
        if (--patience <= 0) {
            droppedBytes += quint64(pending.size() - pendingAt);
            break;
        }
        pollfd p{masterFd, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    if (masterFd >= 0)
        waitForReader();
}

void Simulator::waitForReader()
{
    // Closing the pty discards what is still in it; a monitor that is reading
    // gets the last frames first. Without one the unread bytes stay put, and
    // the wait ends after a short idle time.
    QElapsedTimer total;
    total.start();
    QElapsedTimer idle;
    idle.start();
    const bool readerSeen = lastDrain.isValid() && lastDrain.elapsed() < kReaderRecentMs;
    const qint64 idleLimit = readerSeen ? kStallForReaderMs : kExitIdleMs;
    int previous = -1;
    int emptyChecks = 0;
    while (total.elapsed() < kExitWaitMs) {
        int unread = 0;
        if (::ioctl(slaveFd, FIONREAD, &unread) != 0)
            return;
        // Empty for a few checks in a row: nothing left behind in the pty's
        // own buffers either.
        emptyChecks = unread == 0 ? emptyChecks + 1 : 0;
        if (emptyChecks >= 3)
            return;
        if (previous < 0 || unread < previous)
            idle.restart();
        else if (unread > 0 && idle.elapsed() >= idleLimit)
            return;
        previous = unread;
        ::poll(nullptr, 0, 5);
    }
}

void Simulator::finish()
{
    stop();
    QCoreApplication::quit();
}

void Simulator::report(FILE *out) const
{
    for (FrameKind kind : kAllFrameKinds) {
        const PacketCounters c = stream.expected(kind);
        std::fprintf(out, "sent %s good=%llu bad=%llu\n", kindName(kind),
                     static_cast<unsigned long long>(c.good), static_cast<unsigned long long>(c.bad));
    }
    std::fprintf(out, "cut=%llu\n", static_cast<unsigned long long>(stream.cutFrames()));
    std::fprintf(out, "lost-data=%llu\n", static_cast<unsigned long long>(stream.unsendableDataFrames()));
    std::fprintf(out, "nudged=%llu\n", static_cast<unsigned long long>(stream.nudges()));
    std::fprintf(out, "noise=%llu\n", static_cast<unsigned long long>(stream.noiseBytes()));
    std::fprintf(out, "bytes=%llu\n", static_cast<unsigned long long>(bytesWritten));
    if (!opt.toStdout) {
        std::fprintf(out, "flushed=%llu\n", static_cast<unsigned long long>(flushes));
        std::fprintf(out, "dropped=%llu\n", static_cast<unsigned long long>(droppedBytes));
    }
    std::fprintf(out, "seed=%u\n", opt.seed);
    std::fflush(out);
}

bool parseRate(const QCommandLineParser &parser, const QString &name, double *rate, QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0.0 || value > 1.0) {
        *error = QStringLiteral("--%1 needs a fraction between 0 and 1").arg(name);
        return false;
    }
    *rate = value;
    return true;
}

bool parseStartTime(const QString &text, Options *opt)
{
    for (const char *format : {"H:mm", "H:mm:ss"}) {
        const QTime time = QTime::fromString(text, QLatin1String(format));
        if (time.isValid()) {
            opt->startDate = QDate::currentDate();
            opt->startSecond = time.msecsSinceStartOfDay() / 1000.0;
            return true;
        }
    }
    const QDateTime dateTime = QDateTime::fromString(text, Qt::ISODate);
    if (!dateTime.isValid())
        return false;
    opt->startDate = dateTime.date();
    opt->startSecond = dateTime.time().msecsSinceStartOfDay() / 1000.0;
    return true;
}

bool parseOptions(const QCoreApplication &app, Options *opt, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays the solar controller: writes its bus byte stream (data frame about once a second,\n"
        "the three other frame kinds in between) at 9600-baud pace, with values of a sunny day.\n"
        "\n"
        "By default it opens a pseudo-terminal, links it at --link and prints two lines on\n"
        "standard output: \"device: <pts path>\" and \"link: <link path>\". Point the monitor\n"
        "at either. Bytes nobody reads are discarded, so a monitor that opens the port later\n"
        "gets current frames.\n"
        "\n"
        "On exit (after --count, or on SIGINT/SIGTERM) it reports on standard error, one item\n"
        "a line: \"sent <kind> good=<n> bad=<n>\" for FC3E, FC1F, 2302 and FD05, then cut=<frames\n"
        "cut short by a sync word>, lost-data=<data frames lost to a sync word in their clock\n"
        "bytes, also counted in cut>, nudged=<values moved by 0.1 to keep sync words out>,\n"
        "noise=<noise bytes>, bytes=<bytes written>, in pty mode flushed=<times unread bytes\n"
        "were discarded> and dropped=<bytes lost>, and seed=<n>.\n"
        "\n"
        "--values appends one line per good data frame, in Latin-1:\n"
        "TSA:..;TW:..;TSV:..;TAM:..;TSE:..;FLOW:..;PWM:..;EnergyDay:..;EnergyTotal:..;Status:..;ErrorCode:..;"));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("link"), QStringLiteral("Symbolic link to the pty (default: <tmp>/taralbus-sim-tty)."), QStringLiteral("path")},
        {QStringLiteral("stdout"), QStringLiteral("Write the byte stream to standard output instead of a pty.")},
        {QStringLiteral("count"), QStringLiteral("Stop after n good data frames."), QStringLiteral("n")},
        {QStringLiteral("speed"), QStringLiteral("Run the clock x times faster, pacing and model time alike (default 1)."), QStringLiteral("x")},
        {QStringLiteral("seed"), QStringLiteral("Seed of all random choices; same seed and options, same bytes."), QStringLiteral("n")},
        {QStringLiteral("status"), QStringLiteral("Status code of every data frame, 0..255 (default 0)."), QStringLiteral("code")},
        {QStringLiteral("start-time"), QStringLiteral("Controller clock at start: HH:MM[:SS] today or YYYY-MM-DDTHH:MM[:SS] (default: now)."), QStringLiteral("time")},
        {QStringLiteral("faults"), QStringLiteral("Inject faults at the default rates: bad 0.05, cut 0.03, noise 0.1, sync-in-payload 0.02. A rate option without --faults injects only that fault.")},
        {QStringLiteral("bad-rate"), QStringLiteral("Share of frames with a wrong checksum."), QStringLiteral("fraction")},
        {QStringLiteral("cut-rate"), QStringLiteral("Share of frames cut short by the next sync word."), QStringLiteral("fraction")},
        {QStringLiteral("noise-rate"), QStringLiteral("Share of gaps before a frame that carry noise bytes."), QStringLiteral("fraction")},
        {QStringLiteral("sync-in-payload-rate"), QStringLiteral("Share of frames with a sync word inside their payload."), QStringLiteral("fraction")},
        {QStringLiteral("values"), QStringLiteral("Append the values of every good data frame to this file."), QStringLiteral("path")},
    });
    parser.process(app);

    opt->toStdout = parser.isSet(QStringLiteral("stdout"));
    if (opt->toStdout && parser.isSet(QStringLiteral("link"))) {
        *error = QStringLiteral("--link and --stdout exclude each other");
        return false;
    }
    opt->link = parser.isSet(QStringLiteral("link")) ? parser.value(QStringLiteral("link"))
                                                     : QDir::tempPath() + QStringLiteral("/taralbus-sim-tty");
    bool ok = true;
    if (parser.isSet(QStringLiteral("count"))) {
        opt->count = parser.value(QStringLiteral("count")).toLongLong(&ok);
        if (!ok || opt->count < 1) {
            *error = QStringLiteral("--count needs a whole number of at least 1");
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("speed"))) {
        opt->speed = parser.value(QStringLiteral("speed")).toDouble(&ok);
        if (!ok || !(opt->speed > 0.0) || opt->speed > 1e6) {
            *error = QStringLiteral("--speed needs a number above 0 (up to 1000000)");
            return false;
        }
    }
    opt->seed = QRandomGenerator::global()->generate();
    if (parser.isSet(QStringLiteral("seed"))) {
        opt->seed = parser.value(QStringLiteral("seed")).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("--seed needs a whole number from 0 to 4294967295");
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("status"))) {
        opt->status = parser.value(QStringLiteral("status")).toInt(&ok);
        if (!ok || opt->status < 0 || opt->status > 255) {
            *error = QStringLiteral("--status needs a code from 0 to 255");
            return false;
        }
    }
    const QDateTime now = QDateTime::currentDateTime();
    opt->startDate = now.date();
    opt->startSecond = now.time().msecsSinceStartOfDay() / 1000.0;
    if (parser.isSet(QStringLiteral("start-time"))
        && !parseStartTime(parser.value(QStringLiteral("start-time")), opt)) {
        *error = QStringLiteral("--start-time needs HH:MM, HH:MM:SS or YYYY-MM-DDTHH:MM[:SS]");
        return false;
    }
    // --faults switches all faults on at their defaults; a rate given on its
    // own switches on just that fault.
    if (parser.isSet(QStringLiteral("faults")))
        opt->faults = FaultRates::defaults();
    if (!parseRate(parser, QStringLiteral("bad-rate"), &opt->faults.bad, error)
        || !parseRate(parser, QStringLiteral("cut-rate"), &opt->faults.cut, error)
        || !parseRate(parser, QStringLiteral("noise-rate"), &opt->faults.noise, error)
        || !parseRate(parser, QStringLiteral("sync-in-payload-rate"), &opt->faults.syncInPayload, error))
        return false;
    if (opt->faults.bad + opt->faults.cut + opt->faults.syncInPayload > 1.0) {
        *error = QStringLiteral("bad, cut and sync-in-payload rates add up to more than 1");
        return false;
    }
    opt->valuesPath = parser.value(QStringLiteral("values"));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("taralbus-sim"));

    Options opt;
    QString error;
    if (!parseOptions(app, &opt, &error)) {
        std::fprintf(stderr, "taralbus-sim: %s\n", qPrintable(error));
        return 2;
    }

    // SIGINT and SIGTERM end the run through the event loop, so the current
    // second is finished and the report and link clean-up happen.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("taralbus-sim: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Simulator sim(opt);
    if (!sim.openValues(&error)) {
        std::fprintf(stderr, "taralbus-sim: %s\n", qPrintable(error));
        return 1;
    }
    if (!opt.toStdout) {
        if (!sim.openPty(&error)) {
            std::fprintf(stderr, "taralbus-sim: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("device: %s\nlink: %s\n", qPrintable(sim.devicePath()), qPrintable(opt.link));
        std::fflush(stdout);
    }

    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&sim] {
        char c;
        while (::read(signalPipe[0], &c, 1) > 0) {
        }
        sim.stop();
        QCoreApplication::quit();
    });

    sim.start();
    app.exec();
    sim.stop();
    sim.report(stderr);
    return sim.exitCode();
}
