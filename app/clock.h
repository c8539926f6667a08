#pragma once

#include <QtGlobal>

// Where the window takes its time from. Tests replace it to step time
// without waiting.
class Clock
{
public:
    virtual ~Clock() = default;
    // Wall-clock time in milliseconds since the epoch (plot keys, CSV time).
    virtual qint64 wallMs() const;
    // A clock that never jumps (the once-per-second and forwarding schedules,
    // the time between dumped frames).
    virtual qint64 monotonicMs() const;

    static const Clock &system();
};

// Milliseconds between events, on a Clock's monotonic time.
class ElapsedClock
{
public:
    explicit ElapsedClock(const Clock &clock) : clock(&clock) {}
    void start() { startMs = clock->monotonicMs(); }
    // Milliseconds since the previous start or restart; starts again.
    qint64 restart()
    {
        const qint64 now = clock->monotonicMs();
        const qint64 elapsed = now - startMs;
        startMs = now;
        return elapsed;
    }

private:
    const Clock *clock;
    qint64 startMs = 0;
};
