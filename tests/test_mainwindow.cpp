#include "test_support.h"

#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <ctime>

namespace {

QString panelText(MainWindowProbe &p) { return p.ui().te_Data->toPlainText(); }

double processCpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

QString expectedPanel(const Measurement &m, quint64 good, quint64 bad)
{
    Measurement shown = m;
    shown.clockText = formatControllerClock(m.clockHour, m.clockMinute, m.clockDay, m.clockMonth, m.clockYear);
    return QString::fromUtf8("TSA: %1 \xc2\xb0" "C\nTW:  52.3 \xc2\xb0" "C\nTSV: 38.1 \xc2\xb0" "C\nTAM: -3.5 \xc2\xb0"
                             "C\nTSE: 30.2 \xc2\xb0" "C\nFluss: 4.5 l/min\nPWM: 60\nTag: 12 kWh\nGesamt: 3456 kWh\n"
                             "Zeit: 9:05  3.7.2025\nStatus: Ok\nErrorCode: 0\n\nPakete: %2 Ok / %3 Fehler")
        .arg(m.tsa)
        .arg(good)
        .arg(bad);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void formAndInitialState_data();
    void formAndInitialState();
    void startState();
    void settingsMenuShowsDialog();
    void quickReferenceTooltip();
    void helpMenuEntries_data();
    void helpMenuEntries();
    void mousePressRefreshesPortList();
    void livePanelFromPseudoTerminal();
    void portNotAvailable();
    void unpluggedAdapterIsReopened();
    void unsupportedLineSettingKeepsPortOpen();
};

void TestMainWindow::formAndInitialState_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("text");
    QTest::newRow("comport light") << "cb_ComportOk" << "Comport ok";
    QTest::newRow("client light") << "cb_ClientConnected" << "Client verbunden";
    QTest::newRow("start") << "pb_Start" << "Start";
    QTest::newRow("stop") << "pb_Stop" << "Stop";
    QTest::newRow("filename label") << "label" << "Filename:";
    QTest::newRow("stem") << "FilenameLineEdit" << "test";
    QTest::newRow("suffix") << "labelFilename" << "_1.CSV";
    QTest::newRow("debug") << "cbDebug" << "Debug Output";
    QTest::newRow("fit time") << "pb_XFit" << "Fit Time";
    QTest::newRow("fit samples") << "pb_YFit" << "Fit Samples";
    QTest::newRow("menu view") << "menuDatei" << "Ansicht";
    QTest::newRow("menu settings") << "menuEinstellungen" << "Einstellungen...";
    QTest::newRow("menu help") << "menuHilfe" << "Hilfe";
    QTest::newRow("show plot") << "actionZeige_Plotfenster" << "Zeige Plotfenster";
    QTest::newRow("show log") << "actionZeige_Log_Einstellungen" << "Zeige Log Einstellungen";
    QTest::newRow("quick reference") << "actionKurzreferenz" << "Kurzreferenz";
    QTest::newRow("about") << "actionAbout" << QString::fromUtf8("\xc3\x9c" "ber");
    QTest::newRow("about qt") << "action_ber_Qt" << QString::fromUtf8("\xc3\x9c" "ber Qt");
}

void TestMainWindow::formAndInitialState()
{
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    TempAppDir dir;
    MainWindow w;
    QObject *o = w.findChild<QObject *>(objectName);
    QVERIFY2(o, qPrintable(objectName));
    const QVariant value = o->property(o->inherits("QMenu") ? "title" : "text");
    QCOMPARE(value.toString(), text);
}

void TestMainWindow::startState()
{
    TempAppDir dir;
    MainWindow w;
    MainWindowProbe p{w};
    QCOMPARE(w.windowTitle(), QString("Taral-Bus  (V 1.3.3)"));
    QVERIFY(!p.ui().cb_ComportOk->isEnabled());
    QVERIFY(!p.ui().cb_ComportOk->isChecked());
    QVERIFY(!p.ui().cb_ClientConnected->isEnabled());
    QVERIFY(p.ui().pb_Start->isEnabled());
    QVERIFY(!p.ui().pb_Stop->isEnabled());
    QVERIFY(!p.ui().cbDebug->isChecked());
    QVERIFY(p.ui().actionZeige_Plotfenster->isChecked());
    QVERIFY(p.ui().actionZeige_Log_Einstellungen->isChecked());
    QVERIFY(!p.settingsUi().cb_ServerAktiv->isChecked());
    QCOMPARE(p.settingsUi().te_ServerIp->text(), QString("127.0.0.1"));
    QCOMPARE(p.settingsUi().te_ServerPort->text(), QString("5001"));
    QCOMPARE(p.settingsUi().te_ServerInterval->text(), QString("10"));
    QCOMPARE(w.size(), QSize(700, 400));
    QCOMPARE(p.ui().te_Data->textInteractionFlags(), Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QVERIFY(!p.ui().te_Data->acceptDrops());
    QVERIFY(p.ui().menuEinstellungen->actions().isEmpty());
    QVERIFY(!p.retryTimer().isActive());
    QCOMPARE(p.retryTimer().interval(), 3000);
    QCOMPARE(p.valueRangeLower(), 200.0);
    QCOMPARE(p.valueRangeUpper(), -100.0);
    QCOMPARE(p.keyRangeUpper() - p.keyRangeLower(), 10.0);
    QVERIFY(!w.findChild<QDialog *>("Setting")->isVisible());
}

void TestMainWindow::settingsMenuShowsDialog()
{
    TempAppDir dir;
    MainWindow w;
    MainWindowProbe p{w};
    w.show();
    auto *dialog = w.findChild<QDialog *>("Setting");
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
    p.ui().menuEinstellungen->popup(QPoint(0, 0));
    QTRY_VERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QString("Einstellungen"));
    QVERIFY(dialog->isModal());
    p.ui().menuEinstellungen->hide();
    p.settingsUi().te_ServerPort->setText("6000");
    p.settingsUi().buttonBox->button(QDialogButtonBox::Cancel)->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(p.settingsUi().te_ServerPort->text(), QString("6000"));
}

void TestMainWindow::quickReferenceTooltip()
{
    TempAppDir dir;
    MainWindow w;
    MainWindowProbe p{w};
    QCOMPARE(p.ui().te_Data->toolTip(),
             QString::fromUtf8("TSA\t: Kollektortemperatur\nTW\t:  Speicher\nTSV\t: Solarvorlauf\n"
                               "TAM\t: Au\xc3\x9f" "entemperatur\nTSE\t: Solarr\xc3\xbc" "cklauf\n"));
}

// Each entry of "Hilfe" opens its window: the about dialog (the same one each
// time) and two message boxes, which the test closes again.
void TestMainWindow::helpMenuEntries_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("textPart");
    QTest::newRow("quick reference") << "actionKurzreferenz" << "Kurzreferenz" << "Kollektortemperatur";
    QTest::newRow("about Qt") << "action_ber_Qt" << QString::fromUtf8("\xc3\x9c" "ber Qt") << "Qt";
    QTest::newRow("about") << "actionAbout" << QString::fromUtf8("\xc3\x9c" "ber") << "";
}

void TestMainWindow::helpMenuEntries()
{
    QFETCH(QString, action);
    QFETCH(QString, title);
    QFETCH(QString, textPart);
    TempAppDir dir;
    MainWindow w;
    w.show();
    if (action == "actionAbout") {
        auto *about = w.findChild<QDialog *>("AboutDialog");
        QVERIFY(about && !about->isVisible());
        w.findChild<QAction *>(action)->trigger();
        QVERIFY(about->isVisible());
        QCOMPARE(about->windowTitle(), title);
        about->findChild<QPushButton *>("pb_OK")->click();
        w.findChild<QAction *>(action)->trigger();
        QCOMPARE(w.findChildren<QDialog *>("AboutDialog").size(), 1);
        QVERIFY(about->isVisible());
        return;
    }
    QString seenTitle, seenText;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seenTitle = box->windowTitle();
        seenText = box->text();
        box->close();
    });
    w.findChild<QAction *>(action)->trigger(); // returns when the box is closed
    QCOMPARE(seenTitle, title);
    QVERIFY2(seenText.contains(textPart), qPrintable(seenText));
}

void TestMainWindow::mousePressRefreshesPortList()
{
    TempAppDir dir;
    Pty pty;
    StartOptions options;
    options.port = pty.path;
    MainWindow w(options);
    MainWindowProbe p{w};
    QComboBox *box = p.settingsUi().cb_Comport;
    QVERIFY(box->findText(pty.path) >= 0);
    QVERIFY(p.port().isOpen());
    box->clear();
    QTest::mouseClick(box, Qt::RightButton); // a press other than the left button opens no popup
    QVERIFY(box->findText(pty.path) >= 0);
    QVERIFY(p.port().isOpen());
}

void TestMainWindow::livePanelFromPseudoTerminal()
{
    TempAppDir dir;
    Pty pty;
    TestClock clock;
    StartOptions options;
    options.port = pty.path;
    options.clock = &clock;
    MainWindow w(options);
    MainWindowProbe p{w};
    QCOMPARE(panelText(p), QString("Port opened"));
    QVERIFY(p.ui().cb_ComportOk->isChecked());
    QVERIFY(!p.retryTimer().isActive()); // a good open leaves nothing to retry

    // A good frame, a bad one, a cut one and another good one in one burst:
    // only the first good frame reaches the panel within this second.
    QByteArray bad = dataFrame(sampleMeasurement(10.0));
    bad[bad.size() - 1] = char(bad.back() + 1);
    pty.write(dataFrame(sampleMeasurement(20.0)) + bad + QByteArray::fromHex("fc3e0102") + dataFrame(sampleMeasurement(30.0)));
    QTRY_COMPARE(p.dataCounters().good, quint64(2));
    QCOMPARE(p.dataCounters().bad, quint64(1));
    QCOMPARE(panelText(p), expectedPanel(sampleMeasurement(20.0), 1, 0));

    clock.advance(999);
    pty.write(dataFrame(sampleMeasurement(40.0)));
    QTRY_COMPARE(p.dataCounters().good, quint64(3));
    QCOMPARE(panelText(p), expectedPanel(sampleMeasurement(20.0), 1, 0));

    clock.advance(1);
    pty.write(dataFrame(sampleMeasurement(-12.5)));
    QTRY_COMPARE(p.dataCounters().good, quint64(4));
    QCOMPARE(panelText(p), expectedPanel(sampleMeasurement(-12.5), 4, 1));

    // The wall clock set back by an hour does not stop the once-a-second step.
    clock.wall -= 3600 * 1000;
    clock.mono += 1000;
    pty.write(dataFrame(sampleMeasurement(50.0)));
    QTRY_COMPARE(p.dataCounters().good, quint64(5));
    QCOMPARE(panelText(p), expectedPanel(sampleMeasurement(50.0), 5, 1));
}

void TestMainWindow::portNotAvailable()
{
    TempAppDir dir;
    StartOptions options;
    options.port = dir.file("no-such-tty");
    MainWindow w(options);
    MainWindowProbe p{w};
    QCOMPARE(panelText(p), QString("Port not available"));
    QVERIFY(!p.ui().cb_ComportOk->isChecked());
    QVERIFY(!p.port().isOpen());
    QVERIFY(p.retryTimer().isActive()); // an open failure arms the retry
}

void TestMainWindow::unpluggedAdapterIsReopened()
{
    TempAppDir dir;
    TestClock clock;
    const QString link = dir.file("tty-link");
    auto pty = std::make_unique<Pty>();
    QVERIFY(QFile::link(pty->path, link));
    StartOptions options;
    options.port = link;
    options.clock = &clock;
    MainWindow w(options);
    MainWindowProbe p{w};
    QVERIFY(p.ui().cb_ComportOk->isChecked());
    pty->write(dataFrame(sampleMeasurement(20.0)));
    QTRY_COMPARE(p.dataCounters().good, quint64(1));

    pty.reset(); // the adapter goes away
    QTRY_VERIFY(!p.port().isOpen());
    QVERIFY(!p.ui().cb_ComportOk->isChecked());
    QVERIFY(p.retryTimer().isActive());

    // While the device is gone the program idles: measure its CPU time over
    // half a second of event loop.
    const double cpuBefore = processCpuSeconds();
    QTest::qWait(500);
    const double cpuUsed = processCpuSeconds() - cpuBefore;
    QVERIFY2(cpuUsed < 0.25, qPrintable(QString("CPU %1 s in 0.5 s").arg(cpuUsed)));
    QVERIFY(p.retryTimer().isActive());

    // The retry (fired here instead of waiting 3 s) finds nothing yet and keeps looking.
    QFile::remove(link);
    QMetaObject::invokeMethod(&p.retryTimer(), "timeout");
    QVERIFY(!p.port().isOpen());
    QVERIFY(p.retryTimer().isActive());

    pty = std::make_unique<Pty>(); // the adapter is back, at the same path
    QVERIFY(QFile::link(pty->path, link));
    QMetaObject::invokeMethod(&p.retryTimer(), "timeout");
    QVERIFY(p.port().isOpen());
    QVERIFY(p.ui().cb_ComportOk->isChecked());
    QCOMPARE(panelText(p), QString("Port opened"));
    clock.advance(1000);
    pty->write(dataFrame(sampleMeasurement(33.0)));
    QTRY_COMPARE(p.dataCounters().good, quint64(2));
    QCOMPARE(panelText(p), expectedPanel(sampleMeasurement(33.0), 2, 0));
}

void TestMainWindow::unsupportedLineSettingKeepsPortOpen()
{
    TempAppDir dir;
    Pty pty;
    StartOptions options;
    options.port = pty.path;
    MainWindow w(options);
    MainWindowProbe p{w};
    QVERIFY(p.port().isOpen());
    p.retryTimer().stop();
    emit p.port().errorOccurred(QSerialPort::UnsupportedOperationError);
    QVERIFY(p.port().isOpen());
    QVERIFY(p.ui().cb_ComportOk->isChecked());
    QVERIFY(!p.retryTimer().isActive());
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
