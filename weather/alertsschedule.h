#pragma once

#include <QString>
#include <QtGlobal>

// When the active alerts are asked for: every five minutes while the service
// answers; after a failed reply (5xx, 429, a time-out) 5, 10, 20, 40 minutes,
// then hourly, between requests; for a point the service refuses (400, 404:
// outside the area it covers) hourly, or at once when the point changes. The
// scheduler counts one tick a second.
class AlertsSchedule
{
public:
    static constexpr qint64 IntervalSeconds = 300;
    static constexpr qint64 LongestWaitSeconds = 3600;

    void tick() { ++sinceRequest; }
    // Whether the wait since the last request for `point` is over.
    bool due(const QString& point) const;
    // Whether requests are spaced out after a failure or a refusal: a weather
    // refresh then asks only when due, not with every refresh.
    bool backingOff() const { return wait > IntervalSeconds || !refusedPoint.isEmpty(); }
    // A request for `point` goes out (empty: none could, the point is no number).
    void sent(const QString& point) { sinceRequest = 0, askedPoint = point; }

    // Seconds until the wait since the last request is over (0: due now),
    // and the wait itself.
    qint64 secondsToDue() const { return qMax<qint64>(0, wait - sinceRequest); }
    qint64 currentWait() const { return wait; }

    void succeeded();
    void failed();
    // The service refused the point last asked for; true when that is news
    // (the first refusal since a good reply, or of another point), to be
    // logged once.
    bool refused();

private:
    qint64 sinceRequest = IntervalSeconds;  // starts due: the first tick asks
    qint64 wait = IntervalSeconds;
    int failures = 0;
    QString askedPoint;
    QString refusedPoint;
};
