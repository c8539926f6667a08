#pragma once

#include "bus/frame_synchronizer.h"
#include "bus/measurement.h"

#include <QStringList>

// The twelve value lines of the live panel, in display order.
QStringList panelLines(const Measurement &m);

// The statistics line of the data frame counters; it begins with a line break
// so that an empty line stands between the values and the count.
QString statisticsLine(const PacketCounters &counters);
