#pragma once

#include "bus/measurement.h"

#include <QByteArray>
#include <QDateTime>

// The recording file's header line and rows, as Latin-1 bytes with "\n" line
// ends (the file is opened in text mode, which turns them into the platform's).
QByteArray csvHeader();
QByteArray csvRow(const QDateTime &localTime, const Measurement &m);

// File name suffix of recording number n: "_n.CSV".
QString csvSuffix(int number);
