#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "app/feedstatus.h"
#include "app/notrequestedline.h"
#include "app/refreshretry.h"

// The refreshes of one feed beyond its schedule: the retries after a refresh
// that failed for a passing reason (RefreshRetry says when), and the
// suspension of every request to the feed's host that the service asks for
// with a long Retry-After. Also the feed's "Not Requested" line, said once
// until a request goes out again. Retries are timed by the scheduler's ticks
// against TimeSource::now(), so they move with the clock the scheduler
// reads; the scheduler's counter is only read here.
class RefreshPlan : public QObject
{
    Q_OBJECT

public:
    // Where the feed's schedule stands: whether its window is open now, its
    // interval in minutes and its counter of ticks.
    struct Schedule
    {
        bool windowOpen = false;
        int intervalMinutes = 0;
        qint64 counter = 0;
    };

    // `feedName` as the log lines say it: "Weather", "Stocks".
    explicit RefreshPlan(QString feedName, QObject* parent = nullptr);

    void setSchedule(std::function<Schedule()> schedule) { scheduleNow = std::move(schedule); }

    // Whether what a request needs is there; until it is, nothing is asked
    // and `notRequestedLine` is logged once.
    bool ready(bool isReady, const char* notRequestedLine);

    // A refresh succeeded, or the operator pressed its button: the retry
    // series ends (the count since the scheduled refresh and a suspension stay).
    void endSeries();
    // The refresh failed: plans a retry when the failure may heal, the
    // window is open and the retry comes before the next scheduled refresh
    // ("Retrying %s in %d s"), or suspends the host when the service asks
    // past that refresh.
    void refreshFailed(RefreshRetry::Failure failure, int httpStatus = 0,
                       std::optional<qint64> retryAfter = std::nullopt);
    // Another request to the feed's host failed: only a suspension may follow.
    void hostFailed(int httpStatus, std::optional<qint64> retryAfter);
    // A good reply from the host, to a request sent at `sentAt`: one sent
    // after the suspension began lifts it ("%s Suspension Lifted").
    void hostAnswered(const QDateTime& sentAt);

    // Whether every request to the host but a button press waits at `now`.
    bool suspendedAt(const QDateTime& now) const { return suspendedTo.isValid() && now < suspendedTo; }
    QDateTime suspendedUntil() const { return suspendedTo; }

    // The scheduler's counter has fired at `now`: whether the scheduled
    // refresh goes out (not while suspended). One that goes out ends the
    // series and starts counting retries again.
    bool scheduledRefreshGoes(const QDateTime& now);
    // When the feed is next asked for at `now`: the scheduled refresh or a
    // retry planned before it, the first scheduled one after a suspension;
    // none while the window is closed.
    FeedTiming timing(const QDateTime& now) const;

    // On a tick: whether the retry planned has come due. Outside the window,
    // or while suspended, the series ends instead.
    bool retryDue(const QDateTime& now, bool windowOpen);

signals:
    void logLine(QString line);

private:
    Schedule currentSchedule() const;
    RefreshRetry::Input retryInput(const Schedule& schedule, int httpStatus, std::optional<qint64> retryAfter) const;
    // True when the service asked to keep away past the next scheduled refresh.
    bool suspendIfAsked(const RefreshRetry::Input& input);

    QString feedName;
    std::function<Schedule()> scheduleNow;
    NotRequestedLine notRequested;
    // The retry planned (null: none), the retries of the series so far and
    // since the last scheduled refresh.
    QDateTime due;
    int retriesMade = 0;
    int retriesSinceScheduled = 0;
    // Until when the host's requests keep away (null: not suspended), and
    // from when: only a request sent later may lift it.
    QDateTime suspendedTo;
    QDateTime suspendedFrom;
};
