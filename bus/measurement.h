#pragma once

#include "frame_synchronizer.h"

#include <QString>
#include <cstdint>

// The live values of one good data frame.
struct Measurement {
    double tsa = 0;   // collector, °C
    double tw = 0;    // storage tank, °C
    double tsv = 0;   // solar flow, °C
    double tam = 0;   // outdoor, °C
    double tse = 0;   // solar return, °C
    double flow = 0;  // l/min
    std::uint8_t pwm = 0;
    std::uint8_t status = 0;
    std::uint8_t clockHour = 0;
    std::uint8_t clockMinute = 0;
    std::uint8_t clockDay = 0;
    std::uint8_t clockMonth = 0;
    std::uint8_t clockYear = 0;
    std::int16_t energyDay = 0;   // kWh, as received
    std::int32_t energyTotal = 0; // kWh, as received
    QString clockText;
};

// Payload offsets of the data frame's fields (bytes after the sync word).
namespace DataFrameOffset {
constexpr int tsa = 2, tw = 4, tsv = 6, tam = 8, tse = 12, flow = 14, pwm = 16, status = 20;
constexpr int clockHour = 24, clockMinute = 25, clockDay = 26, clockMonth = 27, clockYear = 28;
constexpr int energyDay = 31, energyTotal = 35;
} // namespace DataFrameOffset

// The controller's clock as the panel shows it: "9:05  3.7.2025".
QString formatControllerClock(int hour, int minute, int day, int month, int year);

// Decodes the 63 payload bytes of a good data frame. Never fails.
Measurement decodeDataFrame(const PayloadBytes &payload);
