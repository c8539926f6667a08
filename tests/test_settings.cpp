// The settings file: read at start, written at normal shutdown only.
#include "window_rig.h"

#include <QSerialPortInfo>

namespace {

QString iniPath() { return appDataFile(QCoreApplication::applicationName() + QStringLiteral(".ini")); }

void store(const QList<QPair<QString, QString>> &values)
{
    QSettings ini(iniPath(), QSettings::IniFormat);
    for (const auto &entry : values)
        ini.setValue(entry.first, entry.second);
    ini.sync();
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void defaultsWrittenAtClose();
    void plotSwitch_data();
    void plotSwitch();
    void widthThatIsNoNumber();
    void portNameInOtherLetterCase();
    void positionOffEveryScreen_data();
    void positionOffEveryScreen();
    void changesSurviveRestart();
    void nothingWrittenWithoutNormalShutdown();
    void sizeBeyondEveryScreen();
    void unwritableSettingsFileIsReported();
};

void TestSettings::defaultsWrittenAtClose()
{
    TempAppDir dir;
    QVERIFY(!QFile::exists(iniPath()));
    QString portShown;
    {
        MainWindow w;
        portShown = MainWindowProbe{w}.settingsUi().cb_Comport->currentText();
    }
    QVERIFY(QFile::exists(iniPath()));
    QCOMPARE(QFileInfo(iniPath()).fileName(), QString("test_settings.ini"));

    QSettings ini(iniPath(), QSettings::IniFormat);
    QStringList keys = ini.allKeys();
    keys.sort();
    QCOMPARE(keys, QStringList({"Server/Activ", "Server/IP", "Server/Interval", "Server/Port", "System/COMPort",
                                "View/Log", "View/Plot", "Window/Height", "Window/PosX", "Window/PosY",
                                "Window/Width"}));
    QCOMPARE(ini.value("System/COMPort").toString(), portShown);
    QCOMPARE(ini.value("View/Plot").toString(), QString("true"));
    QCOMPARE(ini.value("View/Log").toString(), QString("true"));
    QCOMPARE(ini.value("Server/Activ").toString(), QString("false"));
    QCOMPARE(ini.value("Server/IP").toString(), QString("127.0.0.1"));
    QCOMPARE(ini.value("Server/Port").toString(), QString("5001"));
    QCOMPARE(ini.value("Server/Interval").toString(), QString("10"));
    QCOMPARE(ini.value("Window/PosX").toString(), QString("0"));
    QCOMPARE(ini.value("Window/PosY").toString(), QString("0"));
    QCOMPARE(ini.value("Window/Width").toString(), QString("700"));
    QCOMPARE(ini.value("Window/Height").toString(), QString("400"));
}

void TestSettings::plotSwitch_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("shown");
    QTest::newRow("0") << "0" << false;
    QTest::newRow("FALSE") << "FALSE" << false;
    QTest::newRow("false") << "false" << false;
    QTest::newRow("False") << "False" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("nein") << "nein" << true;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("true") << "true" << true;
}

void TestSettings::plotSwitch()
{
    QFETCH(QString, stored);
    QFETCH(bool, shown);
    TempAppDir dir;
    store({{"View/Plot", stored}});
    MainWindow w;
    MainWindowProbe p{w};
    QCOMPARE(p.ui().actionZeige_Plotfenster->isChecked(), shown);
    QCOMPARE(p.ui().widget_Plot->isHidden(), !shown);
    QVERIFY(p.ui().actionZeige_Log_Einstellungen->isChecked());
    QVERIFY(!p.ui().groupBox_Log->isHidden());

    // Choosing the entry turns the plot around.
    p.ui().actionZeige_Plotfenster->trigger();
    QCOMPARE(p.ui().actionZeige_Plotfenster->isChecked(), !shown);
    QCOMPARE(p.ui().widget_Plot->isHidden(), shown);
}

void TestSettings::widthThatIsNoNumber()
{
    TempAppDir dir;
    store({{"Window/Width", "abc"}, {"Window/Height", "450"}});
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.width(), w.minimumSize().width());
    QVERIFY(w.width() < 700);
    QCOMPARE(w.height(), 450);
}

void TestSettings::portNameInOtherLetterCase()
{
    // The comparison needs a port the system lists, with letters in its name.
    QString listed;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (info.portName().toUpper() != info.portName())
            listed = info.portName();
    if (listed.isEmpty())
        QSKIP("no serial port with letters in its name is listed here");

    TempAppDir dir;
    store({{"System/COMPort", listed.toUpper()}});
    MainWindow w;
    MainWindowProbe p{w};
    QVERIFY(p.settingsUi().cb_Comport->findText(listed) >= 0);
    QVERIFY(!p.port().isOpen());
    QVERIFY(p.port().portName().isEmpty()); // no attempt was made
    QVERIFY(p.ui().te_Data->toPlainText().isEmpty());
    QVERIFY(!p.ui().cb_ComportOk->isChecked());
    QVERIFY(!p.retryTimer().isActive());
}

void TestSettings::positionOffEveryScreen_data()
{
    QTest::addColumn<QPoint>("stored");
    QTest::addColumn<QPoint>("expected");
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QTest::newRow("on the screen") << QPoint(30, 40) << QPoint(30, 40);
    QTest::newRow("partly left of it") << QPoint(-200, 40) << QPoint(-200, 40);
    QTest::newRow("right of it") << QPoint(screen.right() + 50, 40) << QPoint(0, 0);
    QTest::newRow("below it") << QPoint(30, screen.bottom() + 50) << QPoint(0, 0);
    QTest::newRow("far left and above") << QPoint(-5000, -3000) << QPoint(0, 0);
}

void TestSettings::positionOffEveryScreen()
{
    QFETCH(QPoint, stored);
    QFETCH(QPoint, expected);
    TempAppDir dir;
    store({{"Window/PosX", QString::number(stored.x())}, {"Window/PosY", QString::number(stored.y())}});
    MainWindow w;
    QCOMPARE(w.pos(), expected);
    QCOMPARE(w.size(), QSize(700, 400));
}

void TestSettings::changesSurviveRestart()
{
    WindowRig rig; // opens the pseudo-terminal named as the start port
    {
        auto p = rig.probe();
        QCOMPARE(p.settingsUi().cb_Comport->currentText(), rig.pty.path);
        p.ui().actionZeige_Plotfenster->trigger();
        p.ui().actionZeige_Log_Einstellungen->trigger();
        p.settingsUi().te_ServerIp->setText("127.0.0.2");
        p.settingsUi().te_ServerPort->setText("0");
        p.settingsUi().te_ServerInterval->setText("25");
        p.settingsUi().cb_ServerAktiv->click();
        QVERIFY(p.server().isListening());
        rig.w().move(25, 35);
        rig.w().resize(780, 530);
    }
    rig.close();
    {
        QSettings ini(iniPath(), QSettings::IniFormat);
        QCOMPARE(ini.value("System/COMPort").toString(), rig.pty.path);
    }

    rig.open();
    auto p = rig.probe();
    QVERIFY(!p.ui().actionZeige_Plotfenster->isChecked());
    QVERIFY(p.ui().widget_Plot->isHidden());
    QVERIFY(!p.ui().actionZeige_Log_Einstellungen->isChecked());
    QVERIFY(p.ui().groupBox_Log->isHidden());
    QVERIFY(p.settingsUi().cb_ServerAktiv->isChecked());
    QCOMPARE(p.settingsUi().te_ServerIp->text(), QString("127.0.0.2"));
    QCOMPARE(p.settingsUi().te_ServerPort->text(), QString("0"));
    QCOMPARE(p.settingsUi().te_ServerInterval->text(), QString("25"));
    QVERIFY(p.server().isListening()); // started from the stored switch, without a click
    QCOMPARE(rig.w().pos(), QPoint(25, 35));
    QCOMPARE(rig.w().size(), QSize(780, 530));
}

void TestSettings::nothingWrittenWithoutNormalShutdown()
{
    TempAppDir dir;
    store({{"Server/Interval", "30"}});
    const QByteArray before = [] {
        QFile f(iniPath());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();

    auto *w = new MainWindow;
    MainWindowProbe p{*w};
    p.settingsUi().te_ServerInterval->setText("45");
    p.ui().actionZeige_Plotfenster->trigger();
    w->move(60, 70);
    QCoreApplication::processEvents();
    QFile ini(iniPath());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QCOMPARE(ini.readAll(), before);
    ini.close();

    delete w; // the normal end writes everything
    QSettings after(iniPath(), QSettings::IniFormat);
    QCOMPARE(after.value("Server/Interval").toString(), QString("45"));
    QCOMPARE(after.value("View/Plot").toString(), QString("false"));
    QCOMPARE(after.value("Window/PosX").toString(), QString("60"));
    QCOMPARE(after.allKeys().size(), 11);
}

// A stored size far beyond every screen would make Qt allocate gigabytes for
// the window (and crashed the offscreen platform); it is bounded by the screen.
void TestSettings::sizeBeyondEveryScreen()
{
    TempAppDir dir;
    store({{"Window/Width", "100000"}, {"Window/Height", "100000"}});
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QVERIFY(w.width() <= screen.width());
    QVERIFY(w.height() <= screen.height());
    QVERIFY(w.width() > 700);
}

void TestSettings::unwritableSettingsFileIsReported()
{
    TempAppDir dir;
    QVERIFY(QDir(dir.dir.path()).mkdir(QFileInfo(iniPath()).fileName())); // a directory where the file should be
    auto *w = new MainWindow;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Settings could not be written to .*\\.ini$"));
    delete w;
    QVERIFY(QFileInfo(iniPath()).isDir());
}

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
