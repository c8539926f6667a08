// The main window's serial link: lists the ports, opens the chosen one with
// the bus's line settings and re-opens it after the port reports an error.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QSerialPortInfo>
#include <QTimer>

namespace {

// Errors after which the device is gone (adapter unplugged). The port keeps
// reporting them for as long as it stays open, so it is closed at once.
bool meansDeviceLost(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError
           || error == QSerialPort::WriteError;
}

} // namespace

void MainWindow::enumeratePorts()
{
    settingsUi.cb_Comport->clear();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        settingsUi.cb_Comport->addItem(info.portName());
    if (!commandLinePort.isEmpty())
        settingsUi.cb_Comport->addItem(commandLinePort);
}

void MainWindow::openPort(QString name)
{
    ui->cb_ComportOk->setChecked(false);
    // Closing a port that is not open reports NotOpenError, which would arm
    // the retry and re-open the port 3 s after every successful open.
    if (serialPort.isOpen())
        serialPort.close();
    serialPort.clearError();
    serialPort.setPortName(name);
    retryPortName = name;
    ui->te_Data->clear();
    if (serialPort.open(QIODevice::ReadWrite)) {
        serialPort.setBaudRate(9600, QSerialPort::AllDirections);
        serialPort.setDataBits(QSerialPort::Data8);
        serialPort.setStopBits(QSerialPort::OneStop);
        serialPort.setParity(QSerialPort::NoParity);
        serialPort.setBreakEnabled(false);
        serialPort.setFlowControl(QSerialPort::NoFlowControl);
        serialPort.setReadBufferSize(10000);
        serialPort.setRequestToSend(true);
        serialPort.setDataTerminalReady(true);
        serialPort.clear(QSerialPort::AllDirections);
        ui->te_Data->append(QStringLiteral("Port opened"));
        ui->cb_ComportOk->setChecked(true);
    } else {
        ui->te_Data->append(QStringLiteral("Port not available"));
    }
}

void MainWindow::portError(QSerialPort::SerialPortError error)
{
    // A line setting the device does not support (modem lines on a
    // pseudo-terminal) leaves the link working: nothing to retry.
    if (error == QSerialPort::NoError || error == QSerialPort::UnsupportedOperationError)
        return;
    if (meansDeviceLost(error) && serialPort.isOpen()) {
        serialPort.close();
        ui->cb_ComportOk->setChecked(false);
    }
    retryTimer->start(3000);
}

void MainWindow::portTimeoutHandler()
{
    retryTimer->stop();
    enumeratePorts();
    const int index = settingsUi.cb_Comport->findText(retryPortName, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) {
        // An unplugged adapter is not listed until it is back: keep looking.
        retryTimer->start(3000);
        return;
    }
    settingsUi.cb_Comport->setCurrentIndex(index);
    openPort(retryPortName);
}
