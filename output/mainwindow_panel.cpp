// The main window's live value panel.
#include "app/mainwindow.h"
#include "output/panel_text.h"
#include "ui_mainwindow.h"

void MainWindow::updatePanel(const Measurement &m)
{
    const QStringList lines = panelLines(m);
    ui->te_Data->setText(lines.first());
    for (int i = 1; i < lines.size(); ++i)
        ui->te_Data->append(lines[i]);
}

void MainWindow::showStatistics(const PacketCounters &counters)
{
    ui->te_Data->append(statisticsLine(counters));
}
