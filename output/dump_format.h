#pragma once

#include <QByteArray>

// One record of the frame dump: "Sync<label> (<ms> msec):" and the payload as
// lower-case hex, ten bytes per line, each byte followed by a blank; every
// line ends in "\r\n".
QByteArray dumpRecord(int dumpLabel, const QByteArray &payload, int length, qint64 elapsedMs);
