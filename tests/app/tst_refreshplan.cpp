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
constexpr int TimeLimit = 30;
constexpr int Interval = 10;

// A Wednesday, inside every window.
const QDateTime Start = QDateTime(QDate(2024, 6, 12), QTime(19, 0), Qt::UTC).toLocalTime();

}  // namespace

class RefreshPlanTest : public QObject
{
    Q_OBJECT

private slots:
    // A refresh that failed for a passing reason is retried after 30 s, 60 s,
    // 120 s ... or after the service's Retry-After; one that will not heal,
    // or one outside the window, is not. A button press or a scheduled
    // refresh ends a series. A Retry-After past the next scheduled refresh
    // suspends the host until a reply to a later request. The replies are
    // given in turn (the last one repeats); a request goes out at 0 for each
    // press and on the ticks (1 s apart) that refresh; the scheduled refresh
    // is forced on the ticks given, and comes by itself every 601 ticks.
    void series_data()
    {
        addColumns<QString, QList<int>, QByteArray, bool, QList<int>, QList<int>, int, QList<int>, QStringList>(
            {"plan", "replies", "retryAfter", "windowOpen", "presses", "scheduledAt", "ticks", "requestsAt", "lines"});
        const auto retrying = [](const QString& plan, const QList<int>& delays) {
            QStringList lines;
            for (int delay : delays)
                lines << QString("Retrying %1 in %2 s").arg(plan).arg(delay);
            return lines;
        };
        const auto suspendedUntil = [](int moment) {
            return QStringList{"Weather Suspended Until " + Start.addSecs(moment).toString("MM/dd/yyyy hh:mm:ss")};
        };
        const QString w = "Weather", s = "Stocks";
        const QByteArray none;
        const QList<int> press = {0}, noAct;
        dataRow("503 then 200: values after the first retry", w, QList<int>{503, 200}, none, true, press, noAct, 600,
                QList<int>{0, 30}, retrying(w, {30}));
        dataRow("500 three times, then 200", w, QList<int>{500, 500, 500, 200}, none, true, press, noAct, 600,
                QList<int>{0, 30, 90, 210}, retrying(w, {30, 60, 120}));
        dataRow("429 with Retry-After", w, QList<int>{429, 200}, QByteArray("45"), true, press, noAct, 600,
                QList<int>{0, 45}, retrying(w, {45}));
        dataRow("503 with Retry-After, twice", w, QList<int>{503, 503, 200}, QByteArray("7"), true, press, noAct, 600,
                QList<int>{0, 30, 90}, retrying(w, {30, 60}));
        dataRow("503 with Retry-After beyond the interval: none", w, QList<int>{503}, QByteArray("900"), true, press,
                noAct, 600, QList<int>{0}, suspendedUntil(900));
        dataRow("401: no retry", w, QList<int>{401}, none, true, press, noAct, 600, QList<int>{0}, QStringList{});
        dataRow("404: no retry", w, QList<int>{404}, none, true, press, noAct, 600, QList<int>{0}, QStringList{});
        dataRow("503 outside the window: no retry", w, QList<int>{503}, none, false, press, noAct, 600, QList<int>{0},
                QStringList{});
        dataRow("stale observation, then a fresh one", w, QList<int>{NoData, 200}, none, true, press, noAct, 600,
                QList<int>{0, 30}, retrying(w, {30}));
        dataRow("nothing measured, then values", w, QList<int>{NoData, 200}, none, true, press, noAct, 600,
                QList<int>{0, 30}, retrying(w, {30}));
        dataRow("stocks: 503 then 200", s, QList<int>{503, 200}, none, true, press, noAct, 600, QList<int>{0, 30},
                retrying(s, {30}));
        dataRow("stocks: 429 with Retry-After", s, QList<int>{429, 429, 200}, QByteArray("90"), true, press, noAct, 600,
                QList<int>{0, 90, 180}, retrying(s, {90, 90}));
        dataRow("stocks: 500, 500, then 200", s, QList<int>{500, 500, 200}, none, true, press, noAct, 600,
                QList<int>{0, 30, 90}, retrying(s, {30, 60}));
        dataRow("stocks: a reply holding no quote, then quotes", s, QList<int>{NoData, 200}, none, true, press, noAct,
                600, QList<int>{0, 30}, retrying(s, {30}));
        dataRow("stocks: 401: no retry", s, QList<int>{401}, none, true, press, noAct, 600, QList<int>{0},
                QStringList{});
        dataRow("stocks: 403: no retry", s, QList<int>{403}, none, true, press, noAct, 600, QList<int>{0},
                QStringList{});
        dataRow("stocks: 503 outside the window: no retry", s, QList<int>{503}, none, false, press, noAct, 600,
                QList<int>{0}, QStringList{});
        // The retry planned before the new refresh does not go out; the new refresh's failure starts again at 30 s.
        dataRow("button press", w, QList<int>{503, 503, 503, 200}, none, true, QList<int>{0, 40}, noAct, 200,
                QList<int>{0, 30, 40, 70}, retrying(w, {30, 60, 30}));
        dataRow("scheduled refresh", w, QList<int>{503, 503, 503, 200}, none, true, press, QList<int>{40}, 200,
                QList<int>{0, 30, 40, 70}, retrying(w, {30, 60, 30}));
        dataRow("a good reply to a press lifts the suspension", w, QList<int>{503, 200}, QByteArray("3600"), true,
                QList<int>{100}, QList<int>{1}, 700, QList<int>{1, 100, 602},
                suspendedUntil(3601) << "Weather Suspension Lifted");
        dataRow("no retry during a suspension", w, QList<int>{503, 500}, QByteArray("3600"), true, QList<int>{100},
                QList<int>{1}, 200, QList<int>{1, 100}, suspendedUntil(3601));
        dataRow("a century at most", w, QList<int>{503}, QByteArray("99999999999999999999"), true, noAct, QList<int>{1},
                700, QList<int>{1}, QStringList{"Weather Suspended Until 08/27/2124 .*"});
        dataRow("a timed-out observation is retried", w, QList<int>{Hung}, none, true, noAct, QList<int>{1}, 100,
                QList<int>{1, 61}, retrying(w, {30, 60}));
    }
    void series()
    {
        QFETCH(QString, plan);
        QFETCH(QList<int>, replies);
        QFETCH(QByteArray, retryAfter);
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
        QList<int> requestsAt, hung;
        // What the feed tells the plan of the reply to a request sent at `sent`.
        const auto replied = [&](int sent) {
            const int status = replies.value(qMin(requestsAt.size(), replies.size()) - 1);
            if (status == Hung) {
                hung << sent;
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
                                          RefreshRetry::retryAfterSeconds(retryAfter, clock.current));
        };
        for (int moment = 0; moment <= ticks; ++moment) {
            clock.current = Start.addSecs(moment);
            QList<int> sent;
            // A tick first gives up the request that has run for the time limit.
            while (!hung.isEmpty() && moment - hung.first() >= TimeLimit) {
                hung.removeFirst();
                refreshPlan.refreshFailed(RefreshRetry::Failure::Passing);
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
