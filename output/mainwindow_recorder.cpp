// The main window's CSV recorder and frame dump.
#include "app/app_paths.h"
#include "app/mainwindow.h"
#include "output/csv_format.h"
#include "output/dump_format.h"
#include "ui_mainwindow.h"

#include <QDateTime>

void MainWindow::start()
{
    ui->pb_Start->setEnabled(false);
    ui->pb_Stop->setEnabled(true);
    if (csvFile.isOpen())
        csvFile.close();

    // A recording is never overwritten: numbers whose file exists (from this
    // run or an earlier one) are skipped.
    const QString stem = ui->FilenameLineEdit->text();
    int number = csvFileNumber;
    while (QFile::exists(appDataFile(stem + csvSuffix(number))))
        ++number;
    ui->labelFilename->setText(csvSuffix(number));

    csvFile.setFileName(appDataFile(stem + csvSuffix(number)));
    if (!csvFile.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text)) {
        reportRecordingError(QStringLiteral("Error opening file"));
        return;
    }
    csvFileNumber = number + 1;
    const QByteArray header = csvHeader();
    if (csvFile.write(header) != header.size() || !csvFile.flush()) {
        reportRecordingError(QStringLiteral("Error writing file"));
        return;
    }
    statusBar()->clearMessage();
}

void MainWindow::stop()
{
    showRecordingIdle();
    if (csvFile.isOpen())
        csvFile.close();
}

void MainWindow::writeCsvRow(const Measurement &m)
{
    // Each row goes to disk as it is written (at most one a second), so a
    // crash or power cut loses no recorded row.
    const QByteArray row = csvRow(QDateTime::fromMSecsSinceEpoch(clock.wallMs()), m);
    if (csvFile.write(row) != row.size() || !csvFile.flush())
        reportRecordingError(QStringLiteral("Error writing file"));
}

void MainWindow::showRecordingIdle()
{
    ui->pb_Start->setEnabled(true);
    ui->pb_Stop->setEnabled(false);
}

// A recording that failed must not look as if it were recording. The panel
// text is replaced at the next display step, so the message also stays in
// the status bar until the next successful start.
void MainWindow::reportRecordingError(const QString &message)
{
    csvFile.close();
    showRecordingIdle();
    ui->te_Data->setText(message);
    statusBar()->showMessage(message);
}

void MainWindow::debugOutputChecked(bool checked)
{
    if (!checked) {
        debugFile.close();
        return;
    }
    debugFile.setFileName(appDataFile(QStringLiteral("Debug.txt")));
    // As for a recording, the message also stays in the status bar: the panel
    // text is replaced at the next display step.
    if (!debugFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        ui->te_Data->setText(QStringLiteral("Error opening file"));
        statusBar()->showMessage(QStringLiteral("Error opening file"));
    }
}

void MainWindow::dumpFrame(int dumpLabel, const QByteArray &payload, int length)
{
    if (!ui->cbDebug->isChecked() || !debugFile.isOpen())
        return;
    debugFile.write(dumpRecord(dumpLabel, payload, length, dumpClock.restart()));
}
