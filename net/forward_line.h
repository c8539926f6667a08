#pragma once

#include "bus/measurement.h"

#include <QByteArray>
#include <QString>

// The value line sent to the forwarding client: eleven "Key:value;" fields,
// from "TSA:" to "ErrorCode:<n>;". It carries no line end; successive lines
// follow each other directly on the stream.
QString formatForwardLine(const Measurement &m);

// The same line as it goes on the wire: Latin-1 bytes ("ü" is 0xFC).
QByteArray forwardLineBytes(const Measurement &m);
