#pragma once

#include "frame_synchronizer.h"
#include "measurement.h"

#include <QByteArray>

// The inverse of the receiver, for the controller simulator and the tests.

// A complete wire frame: sync word, `body` (the payload without its last byte)
// and a last byte that makes the 8-bit sum of the whole frame 0.
// `body` must hold payloadLength(kind) - 1 bytes.
QByteArray encodeFrame(FrameKind kind, const QByteArray &body);

// The checksum byte that completes sync word plus `body`.
std::uint8_t frameChecksum(FrameKind kind, const QByteArray &body);

// The first 62 payload bytes of a data frame carrying the values of `m`
// (temperatures and flow rounded to tenths); bytes the receiver does not
// interpret are 0.
QByteArray encodeDataBody(const Measurement &m);
