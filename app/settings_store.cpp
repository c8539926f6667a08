// The main window's settings file: read into the widgets at start, written
// back from them at normal shutdown only.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

// A stored position may lie on a monitor that is no longer attached; such a
// window would be unreachable.
bool onSomeScreen(const QRect &frame)
{
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen->geometry().intersects(frame))
            return true;
    return false;
}

// The largest size a window can usefully have: that of the whole desktop. A
// stored size far beyond it would have Qt allocate gigabytes for the window.
QSize desktopSize()
{
    QRect desktop;
    for (const QScreen *screen : QGuiApplication::screens())
        desktop = desktop.united(screen->geometry());
    return desktop.isEmpty() ? QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX) : desktop.size();
}

} // namespace

// The port opened when none is stored, in the platform's own naming.
QString defaultPortName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM1");
#else
    return QStringLiteral("ttyUSB0");
#endif
}

void MainWindow::loadSettings()
{
    enumeratePorts();
    const QString storedPort = settings->value(QStringLiteral("System/COMPort"), defaultPortName()).toString();
    const QString startPort = commandLinePort.isEmpty() ? storedPort : commandLinePort;
    retryPortName = startPort;
    const int index = settingsUi.cb_Comport->findText(startPort, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        settingsUi.cb_Comport->setCurrentIndex(index);
        openPort(startPort);
    }

    const int posY = settings->value(QStringLiteral("Window/PosY"), 0).toInt();
    const int posX = settings->value(QStringLiteral("Window/PosX"), 0).toInt();
    const int height = settings->value(QStringLiteral("Window/Height"), 400).toInt();
    const int width = settings->value(QStringLiteral("Window/Width"), 700).toInt();
    resize(QSize(width, height).boundedTo(desktopSize()));
    const QPoint position = onSomeScreen(QRect(QPoint(posX, posY), size())) ? QPoint(posX, posY) : QPoint(0, 0);
    move(position);

    ui->actionZeige_Plotfenster->setChecked(settings->value(QStringLiteral("View/Plot"), true).toBool());
    ui->actionZeige_Log_Einstellungen->setChecked(settings->value(QStringLiteral("View/Log"), true).toBool());

    settingsUi.cb_ServerAktiv->setChecked(settings->value(QStringLiteral("Server/Activ"), false).toBool());
    settingsUi.te_ServerIp->setText(settings->value(QStringLiteral("Server/IP"), QStringLiteral("127.0.0.1")).toString());
    settingsUi.te_ServerPort->setText(settings->value(QStringLiteral("Server/Port"), QStringLiteral("5001")).toString());
    settingsUi.te_ServerInterval->setText(
        settings->value(QStringLiteral("Server/Interval"), QStringLiteral("10")).toString());
    serverStart(settingsUi.cb_ServerAktiv->isChecked());

    ui->widget_Plot->setVisible(ui->actionZeige_Plotfenster->isChecked());
    ui->groupBox_Log->setVisible(ui->actionZeige_Log_Einstellungen->isChecked());
}

void MainWindow::saveSettings()
{
    settings->setValue(QStringLiteral("System/COMPort"), settingsUi.cb_Comport->currentText());
    settings->setValue(QStringLiteral("View/Plot"), ui->actionZeige_Plotfenster->isChecked());
    settings->setValue(QStringLiteral("View/Log"), ui->actionZeige_Log_Einstellungen->isChecked());
    settings->setValue(QStringLiteral("Server/Activ"), settingsUi.cb_ServerAktiv->isChecked());
    settings->setValue(QStringLiteral("Server/IP"), settingsUi.te_ServerIp->text());
    settings->setValue(QStringLiteral("Server/Port"), settingsUi.te_ServerPort->text());
    settings->setValue(QStringLiteral("Server/Interval"), settingsUi.te_ServerInterval->text());
    settings->setValue(QStringLiteral("Window/PosX"), pos().x());
    settings->setValue(QStringLiteral("Window/PosY"), pos().y());
    settings->setValue(QStringLiteral("Window/Width"), width());
    settings->setValue(QStringLiteral("Window/Height"), height());
    settings->sync();
    // The window is going away, so the only place left to say it is the log.
    if (settings->status() != QSettings::NoError)
        qWarning("Settings could not be written to %s", qPrintable(settingsFilePath));
}
