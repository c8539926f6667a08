// The main window's data frame handling: every received byte goes through the
// synchronizer; a good data frame runs the display, forwarding and plot steps.
#include "app/mainwindow.h"
#include "net/forward_line.h"
#include "ui_mainwindow.h"

#include <qcustomplot.h>

void MainWindow::readPort()
{
    char byte;
    while (!serialPort.atEnd()) {
        if (serialPort.read(&byte, 1) != 1)
            break;
        const auto frame = synchronizer.pushByte(std::uint8_t(byte));
        if (!frame)
            continue;
        if (frame->kind == FrameKind::SyncFC3E)
            handleDataFrame(*frame);
        else
            dumpFrame(dumpLabel(frame->kind),
                      QByteArray::fromRawData(reinterpret_cast<const char *>(frame->bytes.data()), frame->length), frame->length);
    }
}

void MainWindow::handleDataFrame(const CompletedFrame &frame)
{
    const Measurement m = decodeDataFrame(frame.bytes);

    bool rangeChanged = false;
    if (m.tsa > valueRangeUpper) {
        valueRangeUpper = m.tsa + 5;
        rangeChanged = true;
    }
    if (valueRangeLower > m.tsa) {
        valueRangeLower = m.tsa - 5;
        rangeChanged = true;
    }
    if (rangeChanged)
        yFit();

    // Plot keys and recording times are wall-clock; the schedules run on the
    // monotonic clock so that a clock set back does not stop them.
    const double now = double(clock.wallMs()) / 1000.0;
    const double tick = double(clock.monotonicMs()) / 1000.0;
    const bool plotShown = ui->actionZeige_Plotfenster->isChecked();

    if (tick >= nextDisplayTime) {
        nextDisplayTime = tick + 1.0;
        updatePanel(m);
        if (plotShown)
            addPlotPoints(now, m);
        if (csvFile.isOpen())
            writeCsvRow(m);
        showStatistics(synchronizer.counters(FrameKind::SyncFC3E));
    }

    if (tick >= nextSendTime) {
        nextSendTime = tick + settingsUi.te_ServerInterval->text().toInt();
        if (server.isConnected())
            server.send(formatForwardLine(m));
    }

    if (now > keyRangeUpper) {
        keyRangeUpper += 10;
        if (plotShown)
            xFit();
    } else if (plotShown) {
        ui->customPlot->replot();
    }

    dumpFrame(1, QByteArray::fromRawData(reinterpret_cast<const char *>(frame.bytes.data()), frame.length), frame.length);
}
