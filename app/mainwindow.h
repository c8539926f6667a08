#pragma once

#include "app/clock.h"
#include "bus/frame_synchronizer.h"
#include "bus/measurement.h"
#include "net/server.h"
#include "ui_setting.h"

#include <QFile>
#include <QMainWindow>
#include <QSerialPort>
#include <QSettings>

class QCustomPlot;
class QTimer;

namespace Ui {
class MainWindow;
}

// The version shown in the title and the about dialog.
extern const QString programVersion;

// The port opened when the settings file names none.
QString defaultPortName();

// What the command line and the tests hand to the window.
struct StartOptions {
    // A serial device named on the command line: listed after the enumerated
    // ports and opened at start instead of the stored port.
    QString port;
    const Clock *clock = &Clock::system();
};

// The one window. It owns every long-lived object and makes all connections
// in its constructor; each subsystem's work lives in the subsystem's folder
// (bus/, link/, output/, net/ mainwindow_*.cpp and app/settings_store.cpp).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    explicit MainWindow(const StartOptions &options, QWidget *parent = nullptr);
    ~MainWindow() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void enumeratePorts();
    void openPort(QString name);
    void readPort();
    void start();
    void stop();
    void setupCustomPlot(QCustomPlot *customPlot);
    void xFit();
    void yFit();
    void serverStart(bool startStop);
    void portError(QSerialPort::SerialPortError error);
    void portTimeoutHandler();
    void debugOutputChecked(bool checked);

private:
    friend struct MainWindowProbe; // the tests' view of the window's state

    // Data frame handling.
    void handleDataFrame(const CompletedFrame &frame);
    // Live value panel.
    void updatePanel(const Measurement &m);
    void showStatistics(const PacketCounters &counters);
    // Plot.
    void addPlotPoints(double now, const Measurement &m);
    // Recording.
    void writeCsvRow(const Measurement &m);
    void showRecordingIdle();
    void reportRecordingError(const QString &message);
    // Frame dump.
    void dumpFrame(int dumpLabel, const QByteArray &payload, int length);
    // Settings file.
    void loadSettings();
    void saveSettings();

    Ui::MainWindow *ui;
    QDialog *settingsDialog;
    Ui::Setting settingsUi;
    QSettings *settings = nullptr;
    QSerialPort serialPort;
    QFile csvFile;
    QFile debugFile;
    QString settingsFilePath;
    const Clock &clock;
    ElapsedClock dumpClock;
    qint32 csvFileNumber = 1;
    double keyRangeLower = 0;
    double keyRangeUpper = 0;
    double valueRangeLower = 200.0;
    double valueRangeUpper = -100.0;
    Server server;
    QTimer *retryTimer = nullptr;

    // Bus reception state: one per process, never reset.
    FrameSynchronizer synchronizer;
    double nextDisplayTime = 0; // monotonic seconds
    double nextSendTime = 0;    // monotonic seconds

    // The port named on the command line, and the port the retry re-opens:
    // the one chosen most recently (at start, the stored one).
    QString commandLinePort;
    QString retryPortName;
};
