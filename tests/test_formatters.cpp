#include "output/csv_format.h"
#include "output/dump_format.h"
#include "output/panel_text.h"
#include "example_values.h"

#include <QtTest>

class TestFormatters : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void panel();
    void panelOddValues();
    void statistics();
    void csvHeaderBytes();
    void csvRows_data();
    void csvRows();
    void dump_data();
    void dump();
};

void TestFormatters::panel()
{
    Measurement m;
    m.tsa = 20.0;
    m.tw = 45.5;
    m.tsv = -3.2;
    m.tam = 0.0;
    m.tse = 18.1;
    m.flow = 0.0;
    m.pwm = 70;
    m.energyDay = 4;
    m.energyTotal = 300;
    m.status = 0;
    m.clockText = formatControllerClock(9, 5, 3, 7, 25);
    const QStringList expected = {
        QString::fromUtf8("TSA: 20 \xc2\xb0" "C"), QString::fromUtf8("TW:  45.5 \xc2\xb0" "C"),
        QString::fromUtf8("TSV: -3.2 \xc2\xb0" "C"), QString::fromUtf8("TAM: 0 \xc2\xb0" "C"),
        QString::fromUtf8("TSE: 18.1 \xc2\xb0" "C"), "Fluss: 0 l/min", "PWM: 70", "Tag: 4 kWh",
        "Gesamt: 300 kWh", "Zeit: 9:05  3.7.2025", "Status: Ok", "ErrorCode: 0"};
    QCOMPARE(panelLines(m), expected);
}

void TestFormatters::panelOddValues()
{
    Measurement m;
    m.status = 99;
    m.energyDay = -1;
    m.energyTotal = -2147483647 - 1;
    m.tsa = -3276.8;
    m.tam = -0.5;
    const QStringList lines = panelLines(m);
    QCOMPARE(lines[0], QString::fromUtf8("TSA: -3276.8 \xc2\xb0" "C"));
    QCOMPARE(lines[3], QString::fromUtf8("TAM: -0.5 \xc2\xb0" "C"));
    QCOMPARE(lines[7], QString("Tag: -1 kWh"));
    QCOMPARE(lines[8], QString("Gesamt: -2147483648 kWh"));
    QCOMPARE(lines[10], QString("Status: Fehler unbekannt (99)"));
    QCOMPARE(lines[11], QString("ErrorCode: 99"));
}

void TestFormatters::statistics()
{
    QCOMPARE(statisticsLine({1234, 5}), QString("\nPakete: 1234 Ok / 5 Fehler"));
    QCOMPARE(statisticsLine({18446744073709551615ull, 0}), QString("\nPakete: 18446744073709551615 Ok / 0 Fehler"));
}

void TestFormatters::csvHeaderBytes()
{
    QCOMPARE(csvHeader(), QByteArray("Zeit;TSA (\xb0" "C);TW (\xb0" "C);TSV (\xb0" "C);TAM (\xb0" "C);TSE (\xb0"
                                     "C);Fluss (l/min);PWM (%);Tagesleistung (kWh);Gesamtleistung (kWh);Status\n"));
    QCOMPARE(csvSuffix(1), QString("_1.CSV"));
    QCOMPARE(csvSuffix(12), QString("_12.CSV"));
}

void TestFormatters::csvRows_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("energyTotal");
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("example") << 0 << 3456 << QByteArray(";45;52.3;38.1;-3.5;30.2;4.5;60;12;3456;Ok;\n");
    QTest::newRow("all FF total") << 0 << -1 << QByteArray(";45;52.3;38.1;-3.5;30.2;4.5;60;12;-1;Ok;\n");
    QTest::newRow("umlaut in Latin-1") << 34 << 7
                                       << QByteArray(";45;52.3;38.1;-3.5;30.2;4.5;60;12;7;Speicher \xfc" "berhitzt;\n");
    QTest::newRow("unknown status") << 60 << 7
                                    << QByteArray(";45;52.3;38.1;-3.5;30.2;4.5;60;12;7;Fehler unbekannt (60);\n");
}

void TestFormatters::csvRows()
{
    QFETCH(int, status);
    QFETCH(int, energyTotal);
    QFETCH(QByteArray, tail);
    Measurement m = exampleMeasurement();
    m.status = std::uint8_t(status);
    m.energyTotal = energyTotal;
    const QDateTime time(QDate(2025, 7, 3), QTime(9, 5, 7));
    QCOMPARE(csvRow(time, m), time.toString(Qt::TextDate).toLatin1() + tail);
}

void TestFormatters::dump_data()
{
    QTest::addColumn<int>("label");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("2302") << 4 << QByteArray::fromHex("1020ab") << qint64(812)
                          << QByteArray("Sync4 (812 msec):\r\n10 20 ab \r\n");
    QTest::newRow("FD05") << 4 << QByteArray::fromHex("00010a0f10ff") << qint64(0)
                          << QByteArray("Sync4 (0 msec):\r\n00 01 0a 0f 10 ff \r\n");
    QByteArray fc1f;
    for (int i = 0; i < 32; ++i)
        fc1f.append(char(i));
    QTest::newRow("FC1F") << 2 << fc1f << qint64(1000)
                          << QByteArray("Sync2 (1000 msec):\r\n"
                                        "00 01 02 03 04 05 06 07 08 09 \r\n"
                                        "0a 0b 0c 0d 0e 0f 10 11 12 13 \r\n"
                                        "14 15 16 17 18 19 1a 1b 1c 1d \r\n"
                                        "1e 1f \r\n");
    QByteArray data(63, '\xab');
    QByteArray expected = "Sync1 (5 msec):\r\n";
    for (int line = 0; line < 6; ++line)
        expected += "ab ab ab ab ab ab ab ab ab ab \r\n";
    expected += "ab ab ab \r\n";
    QTest::newRow("FC3E") << 1 << data << qint64(5) << expected;
}

void TestFormatters::dump()
{
    QFETCH(int, label);
    QFETCH(QByteArray, payload);
    QFETCH(qint64, ms);
    QFETCH(QByteArray, record);
    QCOMPARE(dumpRecord(label, payload, payload.size(), ms), record);
}

QTEST_APPLESS_MAIN(TestFormatters)
#include "test_formatters.moc"
