// Arbitrary bus bytes through one FrameSynchronizer. Every frame it hands out is
// checked against a plain reference receiver written here from the protocol's
// rules, decoded when it is a data frame, and put through every text
// formatter, whose output is rebuilt independently and compared. Any
// difference aborts.

#define FUZZ_HARNESS_NAME "fuzz_bus_stream"
#include "fuzz_check.h"

#include "bus/frame_synchronizer.h"
#include "bus/measurement.h"
#include "bus/status_text.h"
#include "net/forward_line.h"
#include "output/csv_format.h"
#include "output/dump_format.h"
#include "output/panel_text.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string format(const char *pattern, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, pattern);
    const int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    CHECK(n >= 0 && n < int(sizeof buffer), "format buffer too small");
    return std::string(buffer, size_t(n));
}

std::string utf8(const QString &s)
{
    return s.toUtf8().toStdString();
}

// The bus's frame kinds as the protocol defines them, kept apart from the
// library's own table on purpose.
struct KindInfo {
    std::uint16_t sync;
    int payloadLength;
    int dumpLabel;
    FrameKind kind;
};
constexpr KindInfo kKinds[4] = {
    {0xFC3E, 63, 1, FrameKind::SyncFC3E},
    {0xFC1F, 32, 2, FrameKind::SyncFC1F},
    {0x2302, 3, 4, FrameKind::Sync2302},
    {0xFD05, 6, 4, FrameKind::SyncFD05},
};

int kindIndexOf(FrameKind kind)
{
    for (int i = 0; i < 4; ++i)
        if (kKinds[i].kind == kind)
            return i;
    return -1;
}

// A receiver written for clarity, not speed.
struct ReferenceReceiver {
    std::uint16_t reg = 0;
    int collecting = -1; // index into kKinds, -1 when idle
    std::vector<std::uint8_t> payload;
    std::uint64_t good[4] = {};
    std::uint64_t bad[4] = {};
    std::uint64_t syncWords[4] = {};

    // Returns the index of the kind of a good frame this byte completes, or -1.
    int push(std::uint8_t byte)
    {
        reg = std::uint16_t((reg << 8) | byte);
        for (int i = 0; i < 4; ++i) {
            if (reg == kKinds[i].sync) {
                ++syncWords[i];
                collecting = i;
                payload.clear();
                return -1;
            }
        }
        if (collecting < 0)
            return -1;
        payload.push_back(byte);
        if (int(payload.size()) < kKinds[collecting].payloadLength)
            return -1;
        const int done = collecting;
        collecting = -1;
        unsigned sum = (kKinds[done].sync >> 8) + (kKinds[done].sync & 0xFF);
        for (std::uint8_t b : payload)
            sum += b;
        if ((sum & 0xFF) != 0) {
            ++bad[done];
            return -1;
        }
        ++good[done];
        return done;
    }
};

const QString kDegreeC = QString::fromUtf8(" \xc2\xb0" "C");
QDateTime fixedTime;
QString fixedTimeText;

// Qt's arg(double) with its defaults is 'g' with six significant digits and a
// point as decimal separator; every decoded value is a whole number of tenths
// well inside the range where %g prints no exponent.
std::string decimal(double value)
{
    return format("%g", value);
}

void checkLatin1Lossless(const QString &text, const char *what)
{
    const QByteArray bytes = text.toLatin1();
    CHECK(bytes.size() == text.size(), "%s: Latin-1 form has %d bytes for %d characters", what,
          int(bytes.size()), int(text.size()));
    CHECK(QString::fromLatin1(bytes) == text, "%s does not survive Latin-1: \"%s\"", what,
          utf8(text).c_str());
}

bool isKnownStatus(int code)
{
    static const int known[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                12, 13, 14, 22, 23, 24, 26, 27, 34, 35, 50};
    for (int k : known)
        if (k == code)
            return true;
    return false;
}

void checkStatusText(int code)
{
    const QString text = statusText(code);
    CHECK(!text.isEmpty(), "statusText(%d) is empty", code);
    checkLatin1Lossless(text, "statusText");
    CHECK(!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('\n')),
          "statusText(%d) holds a field or line separator", code);
    if (!isKnownStatus(code))
        CHECK(utf8(text) == format("Fehler unbekannt (%d)", code), "statusText(%d) is \"%s\"", code,
              utf8(text).c_str());
    else if (code == 0)
        CHECK(text == QLatin1String("Ok"), "statusText(0) is \"%s\"", utf8(text).c_str());
}

std::int16_t int16At(const PayloadBytes &p, int offset)
{
    return std::int16_t(std::uint16_t(p[offset] | (p[offset + 1] << 8)));
}

void checkMeasurement(const PayloadBytes &p, const Measurement &m)
{
    const struct {
        double value;
        int offset;
        const char *name;
    } tenths[] = {{m.tsa, 2, "tsa"},   {m.tw, 4, "tw"},    {m.tsv, 6, "tsv"},
                  {m.tam, 8, "tam"},   {m.tse, 12, "tse"}, {m.flow, 14, "flow"}};
    for (const auto &t : tenths) {
        const double expected = double(int16At(p, t.offset)) / 10.0;
        CHECK(t.value == expected, "%s decoded as %g, bytes say %g", t.name, t.value, expected);
        CHECK(t.value >= -3276.8 && t.value <= 3276.7, "%s out of range: %g", t.name, t.value);
    }
    CHECK(m.pwm == p[16], "pwm %d, byte %d", m.pwm, p[16]);
    CHECK(m.status == p[20], "status %d, byte %d", m.status, p[20]);
    CHECK(m.clockHour == p[24] && m.clockMinute == p[25] && m.clockDay == p[26]
              && m.clockMonth == p[27] && m.clockYear == p[28],
          "clock bytes decoded wrongly");
    CHECK(m.energyDay == int16At(p, 31), "energyDay %d", int(m.energyDay));
    const std::uint32_t total = std::uint32_t(p[35]) | std::uint32_t(p[36]) << 8
                                | std::uint32_t(p[37]) << 16 | std::uint32_t(p[38]) << 24;
    CHECK(m.energyTotal == std::int32_t(total), "energyTotal %" PRId32, m.energyTotal);
    const std::string clock =
        format("%d:%02d  %d.%d.20%02d", p[24], p[25], p[26], p[27], p[28]);
    CHECK(utf8(m.clockText) == clock, "clock text \"%s\", expected \"%s\"",
          utf8(m.clockText).c_str(), clock.c_str());
}

void checkPanel(const Measurement &m)
{
    const QStringList lines = panelLines(m);
    CHECK(lines.size() == 12, "panel has %d lines", int(lines.size()));
    const QString expected[12] = {
        QString::fromStdString("TSA: " + decimal(m.tsa)) + kDegreeC,
        QString::fromStdString("TW:  " + decimal(m.tw)) + kDegreeC,
        QString::fromStdString("TSV: " + decimal(m.tsv)) + kDegreeC,
        QString::fromStdString("TAM: " + decimal(m.tam)) + kDegreeC,
        QString::fromStdString("TSE: " + decimal(m.tse)) + kDegreeC,
        QString::fromStdString("Fluss: " + decimal(m.flow) + " l/min"),
        QString::fromStdString(format("PWM: %d", m.pwm)),
        QString::fromStdString(format("Tag: %d kWh", int(m.energyDay))),
        QString::fromStdString(format("Gesamt: %" PRId32 " kWh", m.energyTotal)),
        QStringLiteral("Zeit: ") + m.clockText,
        QStringLiteral("Status: ") + statusText(m.status),
        QString::fromStdString(format("ErrorCode: %d", m.status)),
    };
    for (int i = 0; i < 12; ++i) {
        CHECK(lines[i] == expected[i], "panel line %d is \"%s\", expected \"%s\"", i + 1,
              utf8(lines[i]).c_str(), utf8(expected[i]).c_str());
        CHECK(!lines[i].contains(QLatin1Char('\n')), "panel line %d holds a line break", i + 1);
    }
}

void checkStatistics(const PacketCounters &c)
{
    const std::string expected =
        format("\nPakete: %" PRIu64 " Ok / %" PRIu64 " Fehler", c.good, c.bad);
    const QString line = statisticsLine(c);
    CHECK(utf8(line) == expected, "statistics line \"%s\"", utf8(line).c_str());
}

std::string valueFields(const Measurement &m, const char *const keys[7], const char *sep)
{
    // The six decimals and the PWM value, each as "<key><value><sep>".
    const double values[6] = {m.tsa, m.tw, m.tsv, m.tam, m.tse, m.flow};
    std::string out;
    for (int i = 0; i < 6; ++i)
        out += keys[i] + decimal(values[i]) + sep;
    out += keys[6] + format("%d", m.pwm) + sep;
    return out;
}

void checkCsvRow(const Measurement &m)
{
    const QByteArray row = csvRow(fixedTime, m);
    CHECK(row.endsWith(";\n"), "CSV row does not end with \";\\n\"");
    CHECK(row.count('\n') == 1, "CSV row holds %d line ends", int(row.count('\n')));
    CHECK(row.count(';') == 11, "CSV row holds %d separators", int(row.count(';')));
    static const char *const noKeys[7] = {"", "", "", "", "", "", ""};
    const QString expected = fixedTimeText + QLatin1Char(';')
                             + QString::fromStdString(valueFields(m, noKeys, ";"))
                             + QString::fromStdString(format("%d;%" PRId32 ";", int(m.energyDay),
                                                             m.energyTotal))
                             + statusText(m.status) + QStringLiteral(";\n");
    CHECK(QString::fromLatin1(row) == expected, "CSV row \"%s\", expected \"%s\"",
          QString::fromLatin1(row).toUtf8().constData(), utf8(expected).c_str());
    CHECK(row == expected.toLatin1(), "CSV row bytes differ from their Latin-1 text");
}

void checkForwardLine(const Measurement &m)
{
    const QString line = formatForwardLine(m);
    CHECK(line.startsWith(QLatin1String("TSA:")), "forward line does not start with TSA:");
    CHECK(line.endsWith(QLatin1Char(';')), "forward line does not end with ';'");
    CHECK(!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r')),
          "forward line holds a line end");
    CHECK(line.count(QLatin1Char(';')) == 11, "forward line holds %d fields",
          int(line.count(QLatin1Char(';'))));
    static const char *const keys[7] = {"TSA:", "TW:", "TSV:", "TAM:", "TSE:", "FLOW:", "PWM:"};
    const QString expected =
        QString::fromStdString(valueFields(m, keys, ";")
                               + format("EnergyDay:%d;EnergyTotal:%" PRId32 ";Status:",
                                        int(m.energyDay), m.energyTotal))
        + statusText(m.status) + QString::fromStdString(format(";ErrorCode:%d;", m.status));
    CHECK(line == expected, "forward line \"%s\", expected \"%s\"", utf8(line).c_str(),
          utf8(expected).c_str());
    checkLatin1Lossless(line, "forward line");
    const QByteArray bytes = forwardLineBytes(m);
    CHECK(bytes == line.toLatin1(), "forward line bytes differ from the line's Latin-1 form");
}

void checkDumpRecord(int kindIndex, const CompletedFrame &frame, qint64 elapsedMs)
{
    const int length = frame.length;
    const QByteArray payload(reinterpret_cast<const char *>(frame.bytes.data()), length);
    const QByteArray record = dumpRecord(dumpLabel(frame.kind), payload, length, elapsedMs);

    std::string expected = format("Sync%d (%lld msec):", kKinds[kindIndex].dumpLabel,
                                  static_cast<long long>(elapsedMs));
    for (int i = 0; i < length; ++i) {
        if (i % 10 == 0)
            expected += "\r\n";
        expected += format("%02x ", frame.bytes[size_t(i)]);
    }
    expected += "\r\n";
    CHECK(record.toStdString() == expected, "dump record of a %d-byte frame differs", length);

    // The shape on its own: a header and ceil(length / 10) byte lines, each
    // line ending in "\r\n" and holding no other line break.
    const int lines = 1 + (length + 9) / 10;
    CHECK(record.endsWith("\r\n"), "dump record does not end with \\r\\n");
    CHECK(record.count("\r\n") == lines, "dump record has %d lines, expected %d",
          int(record.count("\r\n")), lines);
    CHECK(record.count('\n') == lines && record.count('\r') == lines,
          "dump record holds a stray line break");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A locale with a decimal comma: the outputs must still use a point.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    fixedTime = QDateTime(QDate(2025, 7, 3), QTime(9, 5, 7), Qt::LocalTime);
    fixedTimeText = fixedTime.toString(Qt::TextDate);
    if (fixedTimeText.isEmpty() || fixedTimeText.contains(QLatin1Char(';'))
        || fixedTimeText.contains(QLatin1Char('\n')))
        fail("unusable time text \"%s\"", utf8(fixedTimeText).c_str());
    for (int code = 0; code < 256; ++code)
        checkStatusText(code);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    FrameSynchronizer sync;
    ReferenceReceiver reference;
    std::uint64_t framesOut[4] = {};

    for (size_t pos = 0; pos < size; ++pos) {
        const std::optional<CompletedFrame> frame = sync.pushByte(data[pos]);
        const int expectedKind = reference.push(data[pos]);
        if (!frame) {
            CHECK(expectedKind < 0, "byte %zu should complete a good frame of kind %04x", pos,
                  unsigned(kKinds[expectedKind].sync));
            continue;
        }
        const int k = kindIndexOf(frame->kind);
        CHECK(k >= 0, "frame of unknown kind %04x at byte %zu", unsigned(frame->kind), pos);
        CHECK(k == expectedKind, "byte %zu completes a frame of kind %04x that should not be", pos,
              unsigned(kKinds[k].sync));
        CHECK(frame->length == kKinds[k].payloadLength, "frame of kind %04x with %d bytes",
              unsigned(kKinds[k].sync), frame->length);
        CHECK(frame->length == payloadLength(frame->kind), "payloadLength disagrees");
        CHECK(std::memcmp(frame->bytes.data(), reference.payload.data(), size_t(frame->length)) == 0,
              "payload of the frame ending at byte %zu differs", pos);
        unsigned sum = (kKinds[k].sync >> 8) + (kKinds[k].sync & 0xFF);
        for (int i = 0; i < frame->length; ++i)
            sum += frame->bytes[size_t(i)];
        CHECK((sum & 0xFF) == 0, "frame with a failing checksum handed out");
        ++framesOut[k];

        if (frame->kind == FrameKind::SyncFC3E) {
            const Measurement m = decodeDataFrame(frame->bytes);
            checkMeasurement(frame->bytes, m);
            checkStatusText(m.status);
            checkPanel(m);
            checkCsvRow(m);
            checkForwardLine(m);
            checkStatistics(sync.counters(FrameKind::SyncFC3E));
        }
        checkDumpRecord(k, *frame, qint64(pos) * 1000003);
    }

    for (int k = 0; k < 4; ++k) {
        const PacketCounters c = sync.counters(kKinds[k].kind);
        CHECK(c.good == reference.good[k] && c.bad == reference.bad[k],
              "counters of %04x: %" PRIu64 " good / %" PRIu64 " bad, expected %" PRIu64
              " / %" PRIu64,
              unsigned(kKinds[k].sync), c.good, c.bad, reference.good[k], reference.bad[k]);
        CHECK(c.good + c.bad <= reference.syncWords[k],
              "%04x: %" PRIu64 " frames counted from %" PRIu64 " sync words",
              unsigned(kKinds[k].sync), c.good + c.bad, reference.syncWords[k]);
        CHECK(c.good == framesOut[k], "%04x: %" PRIu64 " good, %" PRIu64 " handed out",
              unsigned(kKinds[k].sync), c.good, framesOut[k]);
    }
    const PacketCounters none = sync.counters(FrameKind::None);
    CHECK(none.good == 0 && none.bad == 0, "counters of no kind are not zero");
    checkStatistics(sync.counters(FrameKind::SyncFC3E));
    return 0;
}
