// The main window's plot of the five temperatures over wall-clock time.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <qcustomplot.h>

namespace {

// Points older than this are dropped, so a monitor left running for months
// keeps a steady memory size. Dropping waits for an hour's worth of surplus,
// so it happens in batches rather than on every point.
constexpr double kPlotHistorySeconds = 7 * 24 * 3600.0;
constexpr double kPlotDropBatchSeconds = 3600.0;

struct GraphStyle {
    const char *name;
    Qt::GlobalColor colour;
};
constexpr GraphStyle kGraphs[] = {
    {"TSA", Qt::red}, {"TW", Qt::blue}, {"TSV", Qt::yellow}, {"TMA", Qt::black}, {"TSE", Qt::green},
};

} // namespace

void MainWindow::setupCustomPlot(QCustomPlot *customPlot)
{
    QPen pen;
    for (const GraphStyle &style : kGraphs) {
        customPlot->addGraph();
        customPlot->graph()->setName(QString::fromLatin1(style.name));
        pen.setColor(style.colour);
        customPlot->graph()->setLineStyle(QCPGraph::lsLine);
        customPlot->graph()->setPen(pen);
    }

    QSharedPointer<QCPAxisTickerDateTime> dateTicker(new QCPAxisTickerDateTime);
    dateTicker->setDateTimeFormat(QStringLiteral("dd.MM.yyyy\nhh:mm:ss"));
    dateTicker->setDateTimeSpec(Qt::LocalTime);
    // The two-line date-time labels are wide: fewer ticks keep them apart.
    dateTicker->setTickCount(4);
    customPlot->xAxis->setTicker(dateTicker);

    const QFont tickFont(QFont().family(), 8);
    customPlot->xAxis->setTickLabelFont(tickFont);
    customPlot->yAxis->setTickLabelFont(tickFont);
    // Tick steps are chosen automatically by the tickers.

    customPlot->xAxis->setLabel(QStringLiteral("Zeit"));
    customPlot->yAxis->setLabel(QStringLiteral("°C"));
    customPlot->yAxis->setRange(0, 15);
    customPlot->legend->setVisible(true);
    customPlot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectPlottables);
}

void MainWindow::xFit()
{
    ui->customPlot->xAxis->setRange(keyRangeLower, keyRangeUpper);
    ui->customPlot->replot();
}

void MainWindow::yFit()
{
    ui->customPlot->yAxis->setRange(valueRangeLower, valueRangeUpper);
    ui->customPlot->replot();
}

void MainWindow::addPlotPoints(double now, const Measurement &m)
{
    const double values[] = {m.tsa, m.tw, m.tsv, m.tam, m.tse};
    for (int i = 0; i < 5; ++i)
        ui->customPlot->graph(i)->addData(now, values[i]);

    if (now - keyRangeLower > kPlotHistorySeconds + kPlotDropBatchSeconds) {
        for (int i = 0; i < 5; ++i)
            ui->customPlot->graph(i)->data()->removeBefore(now - kPlotHistorySeconds);
        // "Fit Time" then starts at the oldest point kept. After a pause in the
        // traffic longer than the history that is the point just added, and the
        // end of the range, which follows the clock by at most 10 s a frame, may
        // still lie before it; it is then put 10 s after the start, as at
        // program start.
        keyRangeLower = ui->customPlot->graph(0)->data()->constBegin()->key;
        keyRangeUpper = qMax(keyRangeUpper, keyRangeLower + 10);
    }
}
