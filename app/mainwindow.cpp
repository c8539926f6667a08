#include "mainwindow.h"

#include "app/app_paths.h"
#include "forms/aboutdialog.h"
#include "forms/quick_reference.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>

const QString programVersion = QStringLiteral("V 1.3.3");

MainWindow::MainWindow(QWidget *parent) : MainWindow(StartOptions{}, parent) {}

MainWindow::MainWindow(const StartOptions &options, QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::MainWindow),
      clock(*options.clock),
      dumpClock(*options.clock),
      commandLinePort(options.port)
{
    ui->setupUi(this);

    settingsDialog = new QDialog(this);
    settingsDialog->setModal(true);
    settingsUi.setupUi(settingsDialog);

    setWindowTitle(QStringLiteral("Taral-Bus  (") + programVersion + QStringLiteral(")"));
    setupCustomPlot(ui->customPlot);

    csvFileNumber = 1;
    ui->labelFilename->setText(QStringLiteral("_%1.CSV").arg(csvFileNumber));

    settingsFilePath = appDataFile(QCoreApplication::applicationName() + QStringLiteral(".ini"));
    settingsUi.cb_Comport->installEventFilter(this);

    retryTimer = new QTimer(this);
    retryTimer->setInterval(3000);

    connect(retryTimer, SIGNAL(timeout()), this, SLOT(portTimeoutHandler()));
    connect(settingsUi.cb_Comport, SIGNAL(activated(QString)), this, SLOT(openPort(QString)));
    connect(ui->pb_Start, SIGNAL(clicked()), this, SLOT(start()));
    connect(ui->pb_Stop, SIGNAL(clicked()), this, SLOT(stop()));
    connect(ui->cbDebug, SIGNAL(clicked(bool)), this, SLOT(debugOutputChecked(bool)));
    connect(ui->pb_XFit, SIGNAL(clicked()), this, SLOT(xFit()));
    connect(ui->pb_YFit, SIGNAL(clicked()), this, SLOT(yFit()));
    connect(&serialPort, SIGNAL(readyRead()), this, SLOT(readPort()));
    connect(&serialPort, SIGNAL(errorOccurred(QSerialPort::SerialPortError)), this,
            SLOT(portError(QSerialPort::SerialPortError)));
    connect(ui->actionZeige_Plotfenster, SIGNAL(triggered(bool)), ui->widget_Plot, SLOT(setVisible(bool)));
    connect(ui->actionZeige_Log_Einstellungen, SIGNAL(triggered(bool)), ui->groupBox_Log, SLOT(setVisible(bool)));
    connect(ui->menuEinstellungen, SIGNAL(aboutToShow()), settingsDialog, SLOT(show()));
    auto *aboutDialog = new AboutDialog(this, programVersion);
    connect(ui->actionAbout, SIGNAL(triggered(bool)), aboutDialog, SLOT(show()));
    connect(ui->action_ber_Qt, &QAction::triggered, this,
            [this] { QMessageBox::aboutQt(this, tr("Über Qt")); });
    connect(settingsUi.cb_ServerAktiv, SIGNAL(clicked(bool)), this, SLOT(serverStart(bool)));
    connect(&server, SIGNAL(clientConnected(bool)), ui->cb_ClientConnected, SLOT(setChecked(bool)));
    connect(ui->actionKurzreferenz, &QAction::triggered, this,
            [this] { QMessageBox::information(this, tr("Kurzreferenz"), quickReferenceText()); });

    settings = new QSettings(settingsFilePath, QSettings::IniFormat);
    loadSettings();

    dumpClock.start();
    ui->pb_Stop->setEnabled(false);

    keyRangeLower = double(clock.wallMs() / 1000);
    keyRangeUpper = keyRangeLower + 10;
    xFit();
    valueRangeUpper = -100.0;
    valueRangeLower = 200.0;

    ui->te_Data->setToolTip(quickReferenceText());
}

MainWindow::~MainWindow()
{
    saveSettings();
    delete ui;
    delete settings;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A fresh port list each time the user opens the drop-down.
    if (watched == settingsUi.cb_Comport && event->type() == QEvent::MouseButtonPress)
        enumeratePorts();
    return false;
}
