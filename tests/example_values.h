#pragma once
// The values of the controller's example data frame, used throughout the
// tests: TSA 45, TW 52.3, TSV 38.1, TAM -3.5, TSE 30.2, flow 4.5, PWM 60,
// 12 kWh today, 3456 kWh in all, status 0, clock 9:05 on 3.7.2025.

#include "bus/measurement.h"

inline Measurement exampleMeasurement()
{
    Measurement m;
    m.tsa = 45.0;
    m.tw = 52.3;
    m.tsv = 38.1;
    m.tam = -3.5;
    m.tse = 30.2;
    m.flow = 4.5;
    m.pwm = 60;
    m.energyDay = 12;
    m.energyTotal = 3456;
    m.status = 0;
    m.clockHour = 9;
    m.clockMinute = 5;
    m.clockDay = 3;
    m.clockMonth = 7;
    m.clockYear = 25;
    m.clockText = formatControllerClock(9, 5, 3, 7, 25);
    return m;
}
