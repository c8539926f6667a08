#pragma once

#include "bus/measurement.h"

#include <QDate>
#include <cstdint>
#include <random>

// A small solar-thermal plant on a sunny day, stepped in model seconds: a flat
// collector of about 5 m², a 400 l storage tank with hot water drawn in the
// morning and the evening, and a controller that runs the solar pump on the
// difference between collector and tank. No I/O: the simulator program asks it
// for a reading once per model second and puts that on the bus.
//
// The controller only knows its sensors, which resolve tenths of a kelvin, so
// it decides on the rounded readings; a reading therefore always agrees with
// the pump state it reports.
class SimModel
{
public:
    // The pump starts when the collector is at least this much warmer than the
    // tank and stops when the difference falls below the switch-off value
    // (tenths of a kelvin).
    static constexpr int switchOnTenths = 70;
    static constexpr int switchOffTenths = 30;
    static constexpr int minPwm = 30;
    static constexpr int maxPwm = 100;

    // Starts the controller clock at `date`, `secondOfDay` (local time). The
    // plant has already run for the day before, so tank, collector and the
    // day's energy fit the time of day from the first reading on.
    SimModel(const QDate &date, double secondOfDay, std::uint32_t seed);

    // Runs the plant for `seconds` of model time (any length, stepped in
    // seconds).
    void advance(double seconds);

    // The controller's view after the last step: temperatures and flow in
    // tenths, PWM, energies in whole kWh, the clock. Status is 0.
    const Measurement &reading() const { return current; }

    bool pumpOn() const { return pump; }
    QDate date() const { return day; }
    double secondOfDay() const { return seconds; }

private:
    void step(double dt);
    void takeReading();
    void decidePump();

    // Model clock.
    QDate day;
    double seconds = 0;

    // Plant state, °C and J.
    double collector = 0;
    double tank = 0;
    double flowPipe = 0;   // TSV sensor
    double returnPipe = 0; // TSE sensor
    double outdoor = 0;
    double cloud = 1.0;    // share of the clear-sky sun that gets through
    double energyDayJ = 0;
    double energyTotalJ = 0;
    std::int32_t energyTotalBase = 0; // kWh before the model started

    bool pump = false;
    int pwm = 0;
    double flowLpm = 0;

    Measurement current;
    std::mt19937 rng;
};
