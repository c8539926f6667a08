#include "bus/measurement.h"
#include "bus/status_text.h"

#include <QtTest>
#include <map>

namespace {

PayloadBytes payloadWith(int offset, const QByteArray &bytes)
{
    PayloadBytes p{};
    for (int i = 0; i < bytes.size(); ++i)
        p[offset + i] = std::uint8_t(bytes[i]);
    return p;
}

double field(const Measurement &m, const QString &name)
{
    if (name == "tsa") return m.tsa;
    if (name == "tw") return m.tw;
    if (name == "tsv") return m.tsv;
    if (name == "tam") return m.tam;
    if (name == "tse") return m.tse;
    if (name == "flow") return m.flow;
    if (name == "pwm") return m.pwm;
    if (name == "status") return m.status;
    if (name == "energyDay") return m.energyDay;
    if (name == "energyTotal") return m.energyTotal;
    qFatal("unknown field");
    return 0;
}

} // namespace

class TestDataFrame : public QObject
{
    Q_OBJECT
private slots:
    void fields_data();
    void fields();
    void clockText_data();
    void clockText();
    void uninterpretedBytesChangeNothing();
    void statusTexts();
};

void TestDataFrame::fields_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("expected");
    QTest::newRow("tsa 23.5") << 2 << QByteArray::fromHex("eb00") << "tsa" << 23.5;
    QTest::newRow("tsa -20") << 2 << QByteArray::fromHex("38ff") << "tsa" << -20.0;
    QTest::newRow("tsa 0") << 2 << QByteArray::fromHex("0000") << "tsa" << 0.0;
    QTest::newRow("tsa min") << 2 << QByteArray::fromHex("0080") << "tsa" << -3276.8;
    QTest::newRow("tsa max") << 2 << QByteArray::fromHex("ff7f") << "tsa" << 3276.7;
    QTest::newRow("tw") << 4 << QByteArray::fromHex("c701") << "tw" << 45.5;
    QTest::newRow("tsv") << 6 << QByteArray::fromHex("e0ff") << "tsv" << -3.2;
    QTest::newRow("tam") << 8 << QByteArray::fromHex("fbff") << "tam" << -0.5;
    QTest::newRow("tse") << 12 << QByteArray::fromHex("b500") << "tse" << 18.1;
    QTest::newRow("flow 5.4") << 14 << QByteArray::fromHex("3600") << "flow" << 5.4;
    QTest::newRow("pwm unsigned") << 16 << QByteArray::fromHex("c8") << "pwm" << 200.0;
    QTest::newRow("status unsigned") << 20 << QByteArray::fromHex("ff") << "status" << 255.0;
    QTest::newRow("energyDay -1") << 31 << QByteArray::fromHex("ffff") << "energyDay" << -1.0;
    QTest::newRow("energyDay 4") << 31 << QByteArray::fromHex("0400") << "energyDay" << 4.0;
    QTest::newRow("energyTotal 300") << 35 << QByteArray::fromHex("2c010000") << "energyTotal" << 300.0;
    QTest::newRow("energyTotal min") << 35 << QByteArray::fromHex("00000080") << "energyTotal" << -2147483648.0;
    QTest::newRow("energyTotal -1") << 35 << QByteArray::fromHex("ffffffff") << "energyTotal" << -1.0;
}

void TestDataFrame::fields()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(double, expected);
    QCOMPARE(field(decodeDataFrame(payloadWith(offset, bytes)), name), expected);
}

void TestDataFrame::clockText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("9:05") << QByteArray::fromHex("0905030719") << "9:05  3.7.2025";
    QTest::newRow("14:30") << QByteArray::fromHex("0e1e0c0b18") << "14:30  12.11.2024";
    QTest::newRow("midnight 2000") << QByteArray::fromHex("0000010100") << "0:00  1.1.2000";
    QTest::newRow("no range check") << QByteArray::fromHex("ffff636363") << "255:255  99.99.2099";
}

void TestDataFrame::clockText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeDataFrame(payloadWith(24, bytes)).clockText, text);
}

void TestDataFrame::uninterpretedBytesChangeNothing()
{
    PayloadBytes base{};
    for (int i = 0; i < kDataPayloadLength; ++i)
        base[i] = std::uint8_t(i * 7 + 3);
    const Measurement ref = decodeDataFrame(base);
    const QList<int> free = {0, 1, 10, 11, 17, 18, 19, 21, 22, 23, 29, 30, 33, 34};
    QList<int> offsets = free;
    for (int i = 39; i < kDataPayloadLength; ++i)
        offsets << i;
    for (int offset : offsets) {
        PayloadBytes p = base;
        p[offset] = std::uint8_t(~p[offset]);
        const Measurement m = decodeDataFrame(p);
        for (const char *name : {"tsa", "tw", "tsv", "tam", "tse", "flow", "pwm", "status", "energyDay", "energyTotal"})
            QCOMPARE(field(m, name), field(ref, name));
        QCOMPARE(m.clockText, ref.clockText);
    }
}

void TestDataFrame::statusTexts()
{
    const std::map<int, const char *> known = {
        {0, "Ok"},
        {1, "Durchfluss im Solarkreis blockiert oder Pumpe defekt"},
        {2, "Luft in der Anlage"},
        {3, "Kein Volumenstrom im Frostschutz"},
        {4, "Vorlauf- und R\xc3\xbc" "cklauf des Kollektors vertauscht"},
        {5, "R\xc3\xbc" "ckschlagklappe undicht (Fehlzirkulation gegen Pumprichtung)"},
        {6, "Falsche Uhrzeit"},
        {7, "Druckabfall in der Anlage"},
        {8, "Volumenstrom zu hoch"},
        {9, "Hydraulischer Anschluss fehlerhaft (Fehlzirkulation in Pumprichtung)"},
        {10, "Anlage nicht frostsicher"},
        {11, "Keine permanente Spannungsversorgung"},
        {12, "Speicherf\xc3\xbchler falsch gesetzt, ULV defekt oder W\xc3\xa4rmetauscher verkalkt"},
        {13, "Volumenstrom zu niedrig"},
        {14, "Speicher unterk\xc3\xbchlt"},
        {22, "Ausfall Kollektorf\xc3\xbchler (TSA)"},
        {23, "Ausfall F\xc3\xbchler TSE"},
        {24, "Ausfall F\xc3\xbchler TWU"},
        {26, "Ausfall F\xc3\xbchler TW2"},
        {27, "Ausfall Au\xc3\x9f" "ensensor (TWA)"},
        {34, "Speicher \xc3\xbc" "berhitzt"},
        {35, "Speicher 2 \xc3\xbc" "berhitzt"},
        {50, "Frostgefahr"},
    };
    for (int code = 0; code <= 255; ++code) {
        const auto it = known.find(code);
        const QString expected = it != known.end() ? QString::fromUtf8(it->second)
                                                   : QString::fromUtf8("Fehler unbekannt (%1)").arg(code);
        QCOMPARE(statusText(code), expected);
    }
    QCOMPARE(statusText(25), QString::fromUtf8("Fehler unbekannt (25)"));
    QCOMPARE(statusText(255), QString::fromUtf8("Fehler unbekannt (255)"));
}

QTEST_APPLESS_MAIN(TestDataFrame)
#include "test_data_frame.moc"
