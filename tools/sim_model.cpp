#include "sim_model.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDaySeconds = 86400.0;

// Collector: clear-sky heat absorbed at solar noon, heat lost to the outdoor
// air per kelvin, heat capacity of absorber and fluid. With the pump running
// the collector reaches 60 to 80 °C around noon; standing still it would go
// far higher, and at night it cools to the outdoor temperature.
constexpr double kPeakAbsorbedW = 3600.0;
constexpr double kCollectorLossWPerK = 25.0;
constexpr double kCollectorCapacityJPerK = 40000.0;

// 400 l storage tank, its standby loss to a 20 °C room.
constexpr double kTankCapacityJPerK = 400.0 * 4186.0;
constexpr double kTankLossWPerK = 2.5;
constexpr double kRoomC = 20.0;

// Hot water drawn from the tank, as heat per kelvin above the cold water.
constexpr double kColdWaterC = 12.0;
constexpr double kMorningDrawWPerK = 60.0;  // 5:30 to 7:30
constexpr double kEveningDrawWPerK = 80.0;  // 18:30 to 21:30

// Solar circuit: water-glycol mix, heat per litre and kelvin; the tank's heat
// exchanger returns the fluid at this share of the way from tank to collector.
constexpr double kFluidJPerLitreK = 3800.0;
constexpr double kReturnShare = 0.3;
constexpr double kPipeTimeConstantOnS = 60.0;
constexpr double kPipeTimeConstantOffS = 1800.0;
constexpr double kPipeRestC = 18.0;

// Sunrise and sunset in hours of the controller clock.
constexpr double kSunrise = 6.0;
constexpr double kSunset = 20.0;

double tenths(double value)
{
    return double(std::lround(value * 10.0)) / 10.0;
}

// 5 °C before dawn, 20 °C in the afternoon.
double outdoorAt(double hour)
{
    return 12.5 - 7.5 * std::cos(2.0 * kPi * (hour - 3.0) / 24.0);
}

// Share of the noon sun, 0 at night.
double sunAt(double hour)
{
    if (hour <= kSunrise || hour >= kSunset)
        return 0.0;
    return std::sin(kPi * (hour - kSunrise) / (kSunset - kSunrise));
}

double drawAt(double hour)
{
    if (hour >= 5.5 && hour < 7.5)
        return kMorningDrawWPerK;
    if (hour >= 18.5 && hour < 21.5)
        return kEveningDrawWPerK;
    return 0.0;
}

} // namespace

SimModel::SimModel(const QDate &date, double secondOfDay, std::uint32_t seed)
    : day(date.addDays(-1)), seconds(std::clamp(secondOfDay, 0.0, kDaySeconds - 1.0)), rng(seed)
{
    const double hour = seconds / 3600.0;
    outdoor = outdoorAt(hour);
    collector = outdoor;
    tank = 45.0;
    flowPipe = kPipeRestC;
    returnPipe = kPipeRestC;
    // Any plausible meter reading of a few years' yield. Kept above 16384 kWh:
    // then no byte pair of the total can be a sync word.
    energyTotalBase = 16500 + std::int32_t(rng() % 20000);
    // Run yesterday, so that the state and the day's energy belong to the
    // start time; the clock arrives at the start date.
    advance(kDaySeconds);
    energyTotalBase += std::int32_t(energyTotalJ / 3.6e6);
    energyTotalJ = std::fmod(energyTotalJ, 3.6e6);
    takeReading();
}

void SimModel::advance(double secondsToRun)
{
    while (secondsToRun > 1e-9) {
        const double dt = std::min(1.0, secondsToRun);
        step(dt);
        secondsToRun -= dt;
    }
}

void SimModel::step(double dt)
{
    const double hour = seconds / 3600.0;
    outdoor = outdoorAt(hour);

    // Thin high clouds drift by; the day stays sunny.
    std::normal_distribution<double> drift(0.0, 0.003);
    cloud = std::clamp(cloud + drift(rng) * std::sqrt(dt), 0.85, 1.0);
    const double absorbed = kPeakAbsorbedW * sunAt(hour) * cloud;

    // Heat carried from the collector into the tank while the pump runs.
    double carried = 0.0;
    double returnTemp = tank;
    if (pump) {
        const double wPerK = flowLpm / 60.0 * kFluidJPerLitreK;
        returnTemp = tank + kReturnShare * (collector - tank);
        carried = std::max(0.0, wPerK * (collector - returnTemp));
    }

    collector += dt * (absorbed - kCollectorLossWPerK * (collector - outdoor) - carried)
                 / kCollectorCapacityJPerK;
    const double drawn = drawAt(hour) * std::max(0.0, tank - kColdWaterC);
    tank += dt * (carried - kTankLossWPerK * (tank - kRoomC) - drawn) / kTankCapacityJPerK;

    // The pipe sensors follow the fluid while it moves and drift to the
    // temperature of their surroundings while it stands.
    if (pump) {
        flowPipe += (collector - 0.5 - flowPipe) * dt / kPipeTimeConstantOnS;
        returnPipe += (returnTemp - returnPipe) * dt / kPipeTimeConstantOnS;
    } else {
        flowPipe += (kPipeRestC - flowPipe) * dt / kPipeTimeConstantOffS;
        returnPipe += (kPipeRestC - returnPipe) * dt / kPipeTimeConstantOffS;
    }

    energyDayJ += carried * dt;
    energyTotalJ += carried * dt;

    seconds += dt;
    if (seconds >= kDaySeconds) {
        // The controller starts a new day's yield at midnight.
        seconds -= kDaySeconds;
        day = day.addDays(1);
        energyDayJ = 0.0;
    }

    takeReading();
    decidePump();
}

void SimModel::takeReading()
{
    current.tsa = tenths(collector);
    current.tw = tenths(tank);
    current.tsv = tenths(flowPipe);
    current.tam = tenths(outdoor);
    current.tse = tenths(returnPipe);
    current.energyDay = std::int16_t(energyDayJ / 3.6e6);
    current.energyTotal = energyTotalBase + std::int32_t(energyTotalJ / 3.6e6);
    current.status = 0;
    const int whole = int(seconds);
    const auto hour = std::uint8_t(whole / 3600);
    const auto minute = std::uint8_t(whole / 60 % 60);
    const auto dayOfMonth = std::uint8_t(day.day());
    // The clock text changes once a minute; building it every step would cost
    // more than the whole plant.
    if (current.clockText.isEmpty() || hour != current.clockHour || minute != current.clockMinute
        || dayOfMonth != current.clockDay) {
        current.clockHour = hour;
        current.clockMinute = minute;
        current.clockDay = dayOfMonth;
        current.clockMonth = std::uint8_t(day.month());
        current.clockYear = std::uint8_t(day.year() % 100);
        current.clockText = formatControllerClock(hour, minute, dayOfMonth, current.clockMonth,
                                                  current.clockYear);
    }
}

void SimModel::decidePump()
{
    const long difference = std::lround(current.tsa * 10.0) - std::lround(current.tw * 10.0);
    if (!pump && difference >= switchOnTenths)
        pump = true;
    else if (pump && difference < switchOffTenths)
        pump = false;
    if (pump) {
        // The pump runs harder the more heat is waiting in the collector.
        pwm = std::clamp(int(std::lround(minPwm + 0.5 * double(difference - switchOnTenths))),
                         minPwm, maxPwm);
        flowLpm = tenths(0.5 + 2.5 * pwm / 100.0);
    } else {
        pwm = 0;
        flowLpm = 0.0;
    }
    current.pwm = std::uint8_t(pwm);
    current.flow = flowLpm;
}
