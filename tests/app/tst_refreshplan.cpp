// One feed's refresh plan on its own: its retries, the suspension of its
// host and its "Not Requested" line, driven through the time seam one tick a
// second, with no window and no network.
#include <QtTest>

#include "app/refreshplan.h"
#include "app/refreshretry.h"
#include "support/fixedclock.h"
#include "support/loglines.h"
#include "support/testmain.h"

namespace {

// Besides HTTP statuses, the replies a feed may get: a 200 it cannot use (a
// stale observation, nothing measured, no quote) and none at all (the request
// is given up at the time limit). Both reach the plan as a passing failure
// without a status.
constexpr int NoData = 1;
constexpr int Hung = 2;
// A good reply that arrives 10 s after its request.
constexpr int Late = 3;
constexpr int TimeLimit = 30;
constexpr int Interval = 10;

// A Wednesday noon, local time: a century later is the same date in every zone.
const QDateTime Start(QDate(2024, 6, 12), QTime(12, 0));

}  // namespace

class RefreshPlanTest : public QObject
{
    Q_OBJECT

private slots:
    // A refresh that failed for a passing reason is retried after 30 s, 60 s,
    // 120 s ... or after the service's Retry-After; one that will not heal,
    // or one outside the window, is not. A button press or a scheduled
    // refresh ends a series. A Retry-After past the next scheduled refresh
    // suspends the host until a reply to a later request. The replies come in
    // turn (the last one repeats). A request goes out for each press and on
    // each tick (one a second, from 1) that refreshes; the scheduled refresh is
    // forced on the ticks given, and comes by itself every 601 ticks.
    void series_data()
    {
        using L = QList<int>;
        addColumns<QString, L, QString, bool, L, L, int, L, QStringList>(
            {"plan", "replies", "retryAfter", "windowOpen", "presses", "scheduledAt", "ticks", "requestsAt", "lines"});
        const auto retrying = [](const QString& plan, const L& delays) {
            QStringList lines;
            for (int delay : delays)
                lines << QString("Retrying %1 in %2 s").arg(plan).arg(delay);
            return lines;
        };
        const auto suspendedUntil = [](int moment) {
            return "Weather Suspended Until " + Start.addSecs(moment).toString("MM/dd/yyyy hh:mm:ss");
        };
        // A press at 0, then the retries planned, each that long after the failure before it, up to 600.
        const auto retries = [&](const char* name, const QString& plan, const L& replies, const char* retryAfter,
                                 bool windowOpen, const L& delays, const QStringList& alsoLogged = {}) {
            L requestsAt = {0};
            for (int delay : delays)
                requestsAt << requestsAt.last() + delay;
            dataRow(name, plan, replies, QString(retryAfter), windowOpen, L{0}, L{}, 600, requestsAt,
                    retrying(plan, delays) + alsoLogged);
        };
        const QString w = "Weather", s = "Stocks";
        retries("503 then 200: values after the first retry", w, L{503, 200}, "", true, L{30});
        retries("500 three times, then 200", w, L{500, 500, 500, 200}, "", true, L{30, 60, 120});
        retries("429 with Retry-After", w, L{429, 200}, "45", true, L{45});
        retries("503 with Retry-After, twice", w, L{503, 503, 200}, "7", true, L{30, 60});
        retries("503 with Retry-After beyond the interval: none", w, L{503}, "900", true, L{}, {suspendedUntil(900)});
        retries("401: no retry", w, L{401}, "", true, L{});
        retries("404: no retry", w, L{404}, "", true, L{});
        retries("503 outside the window: no retry", w, L{503}, "", false, L{});
        retries("stale observation, then a fresh one", w, L{NoData, 200}, "", true, L{30});
        retries("nothing measured, then values", w, L{NoData, 200}, "", true, L{30});
        retries("stocks: 503 then 200", s, L{503, 200}, "", true, L{30});
        retries("stocks: 429 with Retry-After", s, L{429, 429, 200}, "90", true, L{90, 90});
        retries("stocks: 500, 500, then 200", s, L{500, 500, 200}, "", true, L{30, 60});
        retries("stocks: a reply holding no quote, then quotes", s, L{NoData, 200}, "", true, L{30});
        retries("stocks: 401: no retry", s, L{401}, "", true, L{});
        retries("stocks: 403: no retry", s, L{403}, "", true, L{});
        retries("stocks: 503 outside the window: no retry", s, L{503}, "", false, L{});
        // The retry planned before a new refresh does not go out; the new refresh's failure starts again at 30 s.
        const L failing = {503, 503, 503, 200}, renewed = {0, 30, 40, 70};
        dataRow("button press", w, failing, "", true, L{0, 40}, L{}, 200, renewed, retrying(w, {30, 60, 30}));
        dataRow("scheduled refresh", w, failing, "", true, L{0}, L{40}, 200, renewed, retrying(w, {30, 60, 30}));
        // The first tick's refresh is scheduled.
        const QStringList suspended = {suspendedUntil(3601)};
        dataRow("a good reply to a press lifts the suspension", w, L{503, 200}, "3600", true, L{100}, L{1}, 700,
                L{1, 100, 602}, suspended + QStringList{"Weather Suspension Lifted"});
        dataRow("no retry during a suspension", w, L{503, 500}, "3600", true, L{100}, L{1}, 200, L{1, 100}, suspended);
        dataRow("a reply sent before the suspension began, arriving after it: the suspension holds", w, L{Late, 503},
                "3600", true, L{0}, L{1}, 100, L{0, 1}, suspended);
        dataRow("a century at most", w, L{503}, "99999999999999999999", true, L{}, L{1}, 700, L{1},
                QStringList{"Weather Suspended Until 08/27/2124 .*"});
        dataRow("a timed-out observation is retried", w, L{Hung}, "", true, L{}, L{1}, 100, L{1, 61},
                retrying(w, {30, 60}));
    }
    void series()
    {
        QFETCH(QString, plan);
        QFETCH(QList<int>, replies);
        QFETCH(QString, retryAfter);
        QFETCH(bool, windowOpen);
        QFETCH(QList<int>, presses);
        QFETCH(QList<int>, scheduledAt);
        QFETCH(int, ticks);
        QFETCH(QStringList, lines);
        FixedClock clock(Start);
        RefreshPlan refreshPlan(plan);
        qint64 counter = 0;  // the scheduler's: it counts the ticks inside the window
        refreshPlan.setSchedule([&] { return RefreshPlan::Schedule{windowOpen, Interval, counter}; });
        QSignalSpy logLine(&refreshPlan, &RefreshPlan::logLine);
        QList<int> requestsAt, hung, late;
        // What the feed tells the plan of the reply to a request sent at `sent`.
        const auto replied = [&](int sent) {
            const int status = replies.value(qMin(requestsAt.size(), replies.size()) - 1);
            if (status == Hung || status == Late) {
                (status == Hung ? hung : late) << sent;
                return;
            }
            if (status == 200 || status == NoData)
                refreshPlan.hostAnswered(Start.addSecs(sent));
            if (status == 200)
                refreshPlan.endSeries();
            else if (status == NoData)
                refreshPlan.refreshFailed(RefreshRetry::Failure::Passing);
            else
                refreshPlan.refreshFailed(RefreshRetry::classify(QNetworkReply::UnknownContentError, status), status,
                                          RefreshRetry::retryAfterSeconds(retryAfter.toUtf8(), clock.current));
        };
        for (int moment = 0; moment <= ticks; ++moment) {
            clock.current = Start.addSecs(moment);
            QList<int> sent;
            // A tick first gives up the request that has run for the time limit.
            while (!hung.isEmpty() && moment - hung.first() >= TimeLimit) {
                hung.removeFirst();
                refreshPlan.refreshFailed(RefreshRetry::Failure::Passing);
            }
            while (!late.isEmpty() && moment - late.first() >= 10) {
                refreshPlan.hostAnswered(Start.addSecs(late.takeFirst()));
                refreshPlan.endSeries();
            }
            if (presses.contains(moment)) {
                refreshPlan.endSeries();
                sent << moment;
            }
            if (moment > 0 && scheduledAt.contains(moment))
                counter = Interval * 60;
            if (moment > 0 && windowOpen && ++counter > Interval * 60) {
                counter = 0;
                if (refreshPlan.scheduledRefreshGoes(clock.current))
                    sent << moment;
            }
            if (moment > 0 && refreshPlan.retryDue(clock.current, windowOpen))
                sent << moment;
            for (int at : sent) {
                requestsAt << at;
                replied(at);
            }
        }
        QTEST(requestsAt, "requestsAt");
        const QStringList logged = loggedLines(logLine);
        QCOMPARE(logged.size(), lines.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(lines[i])).match(logged[i]).hasMatch(),
                     qPrintable(logged[i]));
    }

    // Without what a request needs (a station, a ticker symbol), no request
    // and one line, however often a refresh is asked for; once a request has
    // gone out, the line is said again, once.
    void notRequestedOnce_data()
    {
        addColumns<QString>({"line"});
        dataRow("no station chosen", QString("Weather Not Requested: no station chosen"));
        dataRow("no ticker symbols", QString("Stocks Not Requested: no ticker symbols"));
    }
    void notRequestedOnce()
    {
        QFETCH(QString, line);
        RefreshPlan refreshPlan(line.section(' ', 0, 0));
        QSignalSpy logLine(&refreshPlan, &RefreshPlan::logLine);
        const QByteArray text = line.toUtf8();
        for (int refresh = 0; refresh < 6; ++refresh)  // three scheduled refreshes and three presses
            QVERIFY(!refreshPlan.ready(false, text.constData()));
        QCOMPARE(loggedLines(logLine), QStringList{line});
        QVERIFY(refreshPlan.ready(true, text.constData()));
        QVERIFY(!refreshPlan.ready(false, text.constData()));
        QVERIFY(!refreshPlan.ready(false, text.constData()));
        QCOMPARE(loggedLines(logLine), (QStringList{line, line}));
    }
};

CORVELTA_TEST_GUILESS_MAIN(RefreshPlanTest)
#include "tst_refreshplan.moc"
