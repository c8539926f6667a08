// The plot of the five temperatures, driven through the bus and the clock.
#include "window_rig.h"

#include <qcustomplot.h>

namespace {

QCustomPlot &plotOf(WindowRig &rig) { return *rig.probe().ui().customPlot; }

QCPRange xRange(WindowRig &rig) { return plotOf(rig).xAxis->range(); }
QCPRange yRange(WindowRig &rig) { return plotOf(rig).yAxis->range(); }

// Compares both ends of an axis range (as doubles, to the last few digits).
#define COMPARE_RANGE(actual, lo, hi)            \
    do {                                         \
        const QCPRange range_ = (actual);        \
        QCOMPARE(range_.lower, double(lo));      \
        QCOMPARE(range_.upper, double(hi));      \
    } while (false)

// The start time of the rigs below: a wall clock with a fraction of a second.
constexpr qint64 kStartWallMs = 1751533507640;
constexpr double kStartSecond = 1751533507.0;

} // namespace

Q_DECLARE_METATYPE(Qt::GlobalColor)
Q_DECLARE_METATYPE(Measurement)

class TestPlot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }
    void graphs_data();
    void graphs();
    void axesAfterConstruction();
    void fitButtonsBeforeFirstFrame();
    void firstFramesSetTheTemperatureRange();
    void temperatureUpkeep_data();
    void temperatureUpkeep();
    void timeAxisCatchesUpTenSecondsPerFrame();
    void hiddenPlotGetsNoPoints();
    void onePointPerGraphPerDisplayStep();
    void keepsSevenDaysOfPoints();

private:
    std::unique_ptr<WindowRig> makeRig()
    {
        auto rig = std::make_unique<WindowRig>(WindowRig::OpenLater);
        rig->clock.wall = kStartWallMs;
        rig->open();
        return rig;
    }
};

void TestPlot::graphs_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<Qt::GlobalColor>("colour");
    QTest::newRow("collector") << 0 << "TSA" << Qt::red;
    QTest::newRow("storage") << 1 << "TW" << Qt::blue;
    QTest::newRow("flow") << 2 << "TSV" << Qt::yellow;
    QTest::newRow("outdoor") << 3 << "TMA" << Qt::black;
    QTest::newRow("return") << 4 << "TSE" << Qt::green;
}

void TestPlot::graphs()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(Qt::GlobalColor, colour);
    auto rig = makeRig();
    QCustomPlot &plot = plotOf(*rig);
    QCOMPARE(plot.graphCount(), 5);
    QCPGraph *graph = plot.graph(index);
    QCOMPARE(graph->name(), name);
    QCOMPARE(graph->pen().color(), QColor(colour));
    QCOMPARE(graph->pen().style(), Qt::SolidLine);
    QCOMPARE(graph->lineStyle(), QCPGraph::lsLine);
    QCOMPARE(graph->keyAxis(), plot.xAxis);
    QCOMPARE(graph->valueAxis(), plot.yAxis);
    QVERIFY(plot.legend->visible());
    QCOMPARE(static_cast<QCPAbstractLegendItem *>(plot.legend->itemWithPlottable(graph)), plot.legend->item(index));
    QCOMPARE(graph->dataCount(), 0);
}

void TestPlot::axesAfterConstruction()
{
    auto rig = makeRig();
    QCustomPlot &plot = plotOf(*rig);
    auto ticker = qSharedPointerDynamicCast<QCPAxisTickerDateTime>(plot.xAxis->ticker());
    QVERIFY(ticker);
    QCOMPARE(ticker->dateTimeFormat(), QString("dd.MM.yyyy\nhh:mm:ss"));
    QCOMPARE(ticker->dateTimeSpec(), Qt::LocalTime);
    QCOMPARE(plot.xAxis->label(), QString("Zeit"));
    QCOMPARE(plot.yAxis->label(), QString::fromUtf8("\xc2\xb0" "C"));
    QCOMPARE(plot.xAxis->tickLabelFont().pointSize(), 8);
    QCOMPARE(plot.yAxis->tickLabelFont().pointSize(), 8);

    // The time axis starts at the whole second of the start time.
    COMPARE_RANGE(yRange(*rig), 0, 15);
    QCOMPARE(rig->probe().keyRangeLower(), kStartSecond);
    COMPARE_RANGE(xRange(*rig), kStartSecond, kStartSecond + 10);
}

void TestPlot::fitButtonsBeforeFirstFrame()
{
    auto rig = makeRig();
    rig->probe().ui().pb_YFit->click();
    COMPARE_RANGE(yRange(*rig), -100, 200);

    plotOf(*rig).xAxis->setRange(0, 1); // as if the user had dragged
    rig->probe().ui().pb_XFit->click();
    COMPARE_RANGE(xRange(*rig), kStartSecond, kStartSecond + 10);
}

void TestPlot::firstFramesSetTheTemperatureRange()
{
    auto rig = makeRig();
    auto p = rig->probe();
    QVERIFY(rig->feed(sampleMeasurement(45.3)));
    QCOMPARE(p.valueRangeLower(), 40.3);
    QCOMPARE(p.valueRangeUpper(), 50.3);
    COMPARE_RANGE(yRange(*rig), 40.3, 50.3);

    rig->clock.advance(1000);
    QVERIFY(rig->feed(sampleMeasurement(38.0)));
    QCOMPARE(p.valueRangeLower(), 33.0);
    QCOMPARE(p.valueRangeUpper(), 50.3);
    COMPARE_RANGE(yRange(*rig), 33.0, 50.3);
}

void TestPlot::temperatureUpkeep_data()
{
    QTest::addColumn<Measurement>("m");
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<bool>("fitted");

    // The range is [10, 60] before each frame.
    QTest::newRow("above") << sampleMeasurement(85.0) << 10.0 << 90.0 << true;
    QTest::newRow("below") << sampleMeasurement(2.5) << -2.5 << 60.0 << true;
    QTest::newRow("equal to upper") << sampleMeasurement(60.0) << 10.0 << 60.0 << false;
    QTest::newRow("equal to lower") << sampleMeasurement(10.0) << 10.0 << 60.0 << false;
    Measurement others = sampleMeasurement(30.0);
    others.tw = 70.0;
    others.tsv = 99.9;
    others.tam = -40.0;
    others.tse = 95.0;
    QTest::newRow("only other temperatures outside") << others << 10.0 << 60.0 << false;
}

void TestPlot::temperatureUpkeep()
{
    QFETCH(Measurement, m);
    QFETCH(double, lower);
    QFETCH(double, upper);
    QFETCH(bool, fitted);
    auto rig = makeRig();
    auto p = rig->probe();
    p.valueRangeLower() = 10.0;
    p.valueRangeUpper() = 60.0;
    plotOf(*rig).yAxis->setRange(0, 1); // a zoom the frame must keep unless it widens the range

    QVERIFY(rig->feed(m));
    QCOMPARE(p.valueRangeLower(), lower);
    QCOMPARE(p.valueRangeUpper(), upper);
    if (fitted)
        COMPARE_RANGE(yRange(*rig), lower, upper);
    else
        COMPARE_RANGE(yRange(*rig), 0, 1);
}

void TestPlot::timeAxisCatchesUpTenSecondsPerFrame()
{
    auto rig = makeRig();
    auto p = rig->probe();
    QVERIFY(rig->feed(sampleMeasurement()));
    QCOMPARE(p.keyRangeUpper(), kStartSecond + 10);

    // After a minute without traffic (the clock now stands 60.64 s after the
    // start second) each frame moves the end by ten seconds until it has passed the clock.
    rig->clock.advance(60000);
    for (int step = 2; step <= 7; ++step) {
        QVERIFY(rig->feed(sampleMeasurement()));
        QCOMPARE(p.keyRangeUpper(), kStartSecond + 10 * step);
        COMPARE_RANGE(xRange(*rig), kStartSecond, kStartSecond + 10 * step);
    }
    plotOf(*rig).xAxis->setRange(0, 1); // as if the user had dragged
    QVERIFY(rig->feed(sampleMeasurement()));
    QCOMPARE(p.keyRangeUpper(), kStartSecond + 70);
    COMPARE_RANGE(xRange(*rig), 0, 1);

    // The drag lasts until the next advance.
    rig->clock.advance(10000);
    QVERIFY(rig->feed(sampleMeasurement()));
    QCOMPARE(p.keyRangeUpper(), kStartSecond + 80);
    COMPARE_RANGE(xRange(*rig), kStartSecond, kStartSecond + 80);
    QCOMPARE(p.keyRangeLower(), kStartSecond);
}

void TestPlot::hiddenPlotGetsNoPoints()
{
    auto rig = makeRig();
    auto p = rig->probe();
    p.ui().actionZeige_Plotfenster->trigger();
    QVERIFY(!p.ui().actionZeige_Plotfenster->isChecked());
    QVERIFY(p.ui().widget_Plot->isHidden());

    rig->clock.advance(30000);
    QVERIFY(rig->feed(sampleMeasurement(45.0)));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(plotOf(*rig).graph(i)->dataCount(), 0);
    QCOMPARE(p.keyRangeUpper(), kStartSecond + 20);
    COMPARE_RANGE(xRange(*rig), kStartSecond, kStartSecond + 10); // no fit of the hidden time axis
    COMPARE_RANGE(yRange(*rig), 40.0, 50.0);                      // the temperature fit still runs

    // Shown again: the next display step adds points and fits the time axis.
    p.ui().actionZeige_Plotfenster->trigger();
    QVERIFY(!p.ui().widget_Plot->isHidden());
    rig->clock.advance(1000);
    QVERIFY(rig->feed(sampleMeasurement(45.0)));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(plotOf(*rig).graph(i)->dataCount(), 1);
    QCOMPARE(p.keyRangeUpper(), kStartSecond + 30);
    COMPARE_RANGE(xRange(*rig), kStartSecond, kStartSecond + 30);
}

void TestPlot::onePointPerGraphPerDisplayStep()
{
    auto rig = makeRig();
    QCustomPlot &plot = plotOf(*rig);
    const Measurement first = sampleMeasurement(45.0);
    Measurement second;
    second.tsa = 61.2;
    second.tw = 48.7;
    second.tsv = 55.5;
    second.tam = 12.1;
    second.tse = 33.3;

    QVERIFY(rig->feed(first));
    rig->clock.advance(400);
    QVERIFY(rig->feed(sampleMeasurement(99.0))); // within the second: no point
    rig->clock.advance(600);
    QVERIFY(rig->feed(second));

    const double firstKey = double(kStartWallMs) / 1000.0;
    const double secondKey = double(kStartWallMs + 1000) / 1000.0;
    const double firstValues[] = {first.tsa, first.tw, first.tsv, first.tam, first.tse};
    const double secondValues[] = {second.tsa, second.tw, second.tsv, second.tam, second.tse};
    for (int i = 0; i < 5; ++i) {
        const QCPGraph *graph = plot.graph(i);
        QCOMPARE(graph->dataCount(), 2);
        QCOMPARE(graph->data()->at(0)->key, firstKey);
        QCOMPARE(graph->data()->at(0)->value, firstValues[i]);
        QCOMPARE(graph->data()->at(1)->key, secondKey);
        QCOMPARE(graph->data()->at(1)->value, secondValues[i]);
    }
}

void TestPlot::keepsSevenDaysOfPoints()
{
    // Whole seconds here, so that every key is a whole number.
    WindowRig rig(WindowRig::OpenLater);
    rig.clock.wall = qint64(kStartSecond) * 1000;
    rig.open();
    auto p = rig.probe();
    QCustomPlot &plot = *p.ui().customPlot;
    constexpr qint64 hourMs = 3600 * 1000;
    auto pointCounts = [&] {
        QVector<int> counts;
        for (int i = 0; i < 5; ++i)
            counts << plot.graph(i)->dataCount();
        return counts;
    };
    auto feedNextHour = [&] {
        rig.clock.advance(hourMs);
        return rig.feed(sampleMeasurement(20.0));
    };

    // One frame an hour: 7 days and 1 hour of points are all kept.
    QVERIFY(rig.feed(sampleMeasurement(20.0)));
    for (int hour = 1; hour <= 7 * 24 + 1; ++hour)
        QVERIFY2(feedNextHour(), qPrintable(QString("hour %1").arg(hour)));
    QCOMPARE(pointCounts(), QVector<int>(5, 7 * 24 + 2));
    QCOMPARE(p.keyRangeLower(), kStartSecond);

    // An hour more: the points older than 7 days go at once.
    QVERIFY(feedNextHour());
    const double oldestKept = kStartSecond + 2 * 3600;
    QCOMPARE(pointCounts(), QVector<int>(5, 7 * 24 + 1));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(plot.graph(i)->data()->constBegin()->key, oldestKept);
    QCOMPARE(p.keyRangeLower(), oldestKept);
    // The end of the time range lags far behind with one frame an hour, but
    // never lies before the start.
    QVERIFY(p.keyRangeUpper() >= oldestKept + 10);
    plot.xAxis->setRange(0, 1);
    p.ui().pb_XFit->click();
    COMPARE_RANGE(plot.xAxis->range(), oldestKept, p.keyRangeUpper());

    // The next hour adds a point without dropping one: dropping goes in batches.
    QVERIFY(feedNextHour());
    QCOMPARE(pointCounts(), QVector<int>(5, 7 * 24 + 2));
    QCOMPARE(p.keyRangeLower(), oldestKept);
    QVERIFY(feedNextHour());
    QCOMPARE(pointCounts(), QVector<int>(5, 7 * 24 + 1));
    QCOMPARE(p.keyRangeLower(), oldestKept + 2 * 3600);

    // After eight days without traffic only the new point is kept, and
    // "Fit Time" shows it.
    rig.clock.advance(8 * 24 * hourMs);
    QVERIFY(rig.feed(sampleMeasurement(20.0)));
    QCOMPARE(pointCounts(), QVector<int>(5, 1));
    const double newKey = double(rig.clock.wall) / 1000.0;
    QCOMPARE(p.keyRangeLower(), newKey);
    QCOMPARE(p.keyRangeUpper(), newKey + 10);
    plot.xAxis->setRange(0, 1);
    p.ui().pb_XFit->click();
    COMPARE_RANGE(plot.xAxis->range(), newKey, newKey + 10);
}

QTEST_MAIN(TestPlot)
#include "test_plot.moc"
