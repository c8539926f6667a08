#include "clock.h"

#include <QDateTime>
#include <QElapsedTimer>

qint64 Clock::wallMs() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 Clock::monotonicMs() const
{
    static QElapsedTimer sinceStart = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return sinceStart.elapsed();
}

const Clock &Clock::system()
{
    static const Clock clock;
    return clock;
}
