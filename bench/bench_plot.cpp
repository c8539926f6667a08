// One redraw of the window's plot holding the most it ever keeps: seven days
// of points at one a second in all five graphs, the time axis over all of it.
// Also reports the memory those points take.
#include "app/app_paths.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kSevenDays = 7 * 24 * 3600;

double residentMiB()
{
    long pages = 0, resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

struct Fixture {
    QCustomPlot *plot = nullptr;
    double rssBeforeMiB = 0;
    double rssAfterMiB = 0;
};
Fixture fixture;

// Fills the plot as the window does, one point per graph and second, with
// temperatures that follow the day and wobble a little.
void fillSevenDays(QCustomPlot &plot, double start)
{
    const double base[] = {40.0, 50.0, 35.0, 5.0, 28.0};
    const double swing[] = {35.0, 8.0, 25.0, 8.0, 15.0};
    for (int s = 0; s < kSevenDays; ++s) {
        const double day = std::sin(2.0 * M_PI * s / 86400.0);
        const double wobble = 0.3 * std::sin(s * 0.7);
        for (int g = 0; g < 5; ++g)
            plot.graph(g)->addData(start + s, base[g] + swing[g] * day + wobble);
    }
}

void BM_replotSevenDays(benchmark::State &state)
{
    for (auto _ : state)
        fixture.plot->replot();
    state.counters["points"] = double(fixture.plot->graph(0)->dataCount()) * 5;
    state.counters["rss_before_MiB"] = fixture.rssBeforeMiB;
    state.counters["rss_after_MiB"] = fixture.rssAfterMiB;
    state.counters["points_MiB"] = fixture.rssAfterMiB - fixture.rssBeforeMiB;
}
BENCHMARK(BM_replotSevenDays)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    // The window's own plot, set up by the window, taken out of its layout
    // and given a fixed size.
    QTemporaryDir dataDir;
    setAppDataDir(dataDir.path());
    MainWindow window;
    QCustomPlot *plot = window.findChild<QCustomPlot *>(QStringLiteral("customPlot"));
    if (!plot)
        return 1;
    plot->setParent(nullptr);
    plot->resize(800, 400);
    plot->show();
    QCoreApplication::processEvents();

    const double start = 1751533507.0;
    fixture.plot = plot;
    fixture.rssBeforeMiB = residentMiB();
    fillSevenDays(*plot, start);
    fixture.rssAfterMiB = residentMiB();
    plot->xAxis->setRange(start, start + kSevenDays);
    plot->yAxis->setRange(-10, 80);
    plot->replot();
    QCoreApplication::processEvents();

    benchmark::RunSpecifiedBenchmarks();
    delete plot;
    return 0;
}
