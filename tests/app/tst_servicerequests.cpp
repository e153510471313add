// The requests of both feeds on their own: a real network access manager asks
// a substitute service on loopback, and routes of the test's own record what
// each kind of reply brought them. No window.
#include <QtTest>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include "app/servicerequests.h"
#include "support/fixedclock.h"
#include "support/loglines.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

namespace {

constexpr RequestKind Observation = RequestKind::Observation;
constexpr RequestKind Quotes = RequestKind::Quotes;
const char* const ObservationPath = "/stations/KLNK/observations/latest";
const char* const QuotesPath = "/qu/quote?symbol=AAPL";

}  // namespace

class ServiceRequestsTest : public QObject
{
    Q_OBJECT

    // What the route of a kind was given.
    struct Got
    {
        QStringList texts;
        QList<RequestFailure> failures;
        int answered = 0;
    };

    SubstituteWebServer service{SubstituteWebServer::Mode::Http};
    // The service answers every path with the path itself (503 when it holds
    // "fail"), and keeps back the replies to paths starting with `holding`.
    QByteArray holding;
    QScopedPointer<FixedClock> clock;
    QScopedPointer<QNetworkAccessManager> manager;
    QScopedPointer<ServiceRequests> requests;
    QScopedPointer<QSignalSpy> logLine;
    QHash<int, Got> got;

    QString url(const char* path) const { return service.baseUrl() + path; }
    void send(RequestKind kind, const char* path) { requests->send(QNetworkRequest(QUrl(url(path))), kind); }
    QStringList lines(const QString& pattern) const
    {
        return loggedLines(*logLine).filter(QRegularExpression(pattern));
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QNetworkReply*>();
        QVERIFY(service.start());
        service.setHandler([this](const SubstituteWebServer::Request& request) {
            SubstituteWebServer::Reply reply;
            reply.status = request.target.contains("fail") ? 503 : 200;
            reply.contentType = "text/plain";
            reply.body = request.target;
            reply.hold = !holding.isEmpty() && request.target.startsWith(holding);
            return reply;
        });
    }
    void init()
    {
        holding.clear();
        got.clear();
        service.requests.clear();
        clock.reset(new FixedClock(QDateTime(QDate(2024, 6, 12), QTime(19, 0), Qt::UTC)));
        manager.reset(new QNetworkAccessManager);
        requests.reset(new ServiceRequests(manager.data()));
        connect(manager.data(), &QNetworkAccessManager::finished, requests.data(), &ServiceRequests::handle);
        logLine.reset(new QSignalSpy(requests.data(), &ServiceRequests::logLine));
        for (RequestKind kind : {RequestKind::Point, RequestKind::Stations, Observation, Quotes})
            requests->setRoute(
                kind, {FeedStatus::Weather, [this, kind](const QString& text) { got[int(kind)].texts << text; },
                       [this, kind](const RequestFailure& failure) { got[int(kind)].failures << failure; },
                       [this, kind](const QDateTime&) { ++got[int(kind)].answered; }, nullptr});
    }
    void cleanup()
    {
        service.releaseHeld();
        logLine.reset();
        requests.reset();
        manager.reset();
        clock.reset();
    }

    // A service that accepts and never answers: each request is given up at
    // the scheduler's tick after the time limit, with its line and a passing
    // failure, and never more than one waits at a time.
    void hungRequestsAreGivenUp()
    {
        holding = "/stations/";
        for (int i = 0; i <= 8; ++i) {
            if (i == 8)
                holding.clear();
            clock->current = clock->current.addSecs(61);
            requests->enforceTimeLimits(clock->current);
            QVERIFY(requests->mayRequest(Observation, RequestTrigger::Schedule));
            send(Observation, ObservationPath);
            QTRY_COMPARE_WITH_TIMEOUT(service.requests.size(), i + 1, 20000);
            QTRY_COMPARE_WITH_TIMEOUT(service.heldCount(), holding.isEmpty() ? 0 : 1, 20000);
            QCOMPARE(lines("^Request Timed Out: ").size(), i);
            QCOMPARE(got[int(Observation)].failures.size(), i);
        }
        QTRY_COMPARE_WITH_TIMEOUT(got[int(Observation)].texts, QStringList{ObservationPath}, 20000);
        QCOMPARE(lines("^Request Timed Out: ").first(), "Request Timed Out: " + url(ObservationPath) + " after 30 s");
        const RequestFailure failure = got[int(Observation)].failures.first();
        QVERIFY(failure.failure == RefreshRetry::Failure::Passing && failure.httpStatus == 0 && !failure.retryAfter);
    }

    // A button press replaces a request of its kind still running; a
    // scheduled refresh leaves it running. The request replaced fails nothing.
    void oneRequestOfAKind()
    {
        holding = "/stations/";
        QVERIFY(requests->mayRequest(Observation, RequestTrigger::Operator));
        send(Observation, ObservationPath);
        QTRY_COMPARE_WITH_TIMEOUT(service.heldCount(), 1, 20000);
        QVERIFY(!requests->mayRequest(Observation, RequestTrigger::Schedule));
        QCOMPARE(lines("^Request "), QStringList{"Request Still Running: " + url(ObservationPath)});
        holding.clear();
        QVERIFY(requests->mayRequest(Observation, RequestTrigger::Operator));
        send(Observation, ObservationPath);
        QTRY_COMPARE_WITH_TIMEOUT(got[int(Observation)].texts, QStringList{ObservationPath}, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(service.heldCount(), 0, 20000);
        QCOMPARE(service.requests.size(), 2);
        QCOMPARE(lines("^Request "), (QStringList{"Request Still Running: " + url(ObservationPath),
                                                  "Request Abandoned: " + url(ObservationPath)}));
        QCOMPARE(got[int(Observation)].failures.size(), 0);
    }

    // A weather refresh and a stock refresh in flight together, in either
    // order of issue and of arrival: each reply is read once, by the route of
    // the kind it answers.
    void interleavedFeeds_data()
    {
        addColumns<bool, bool>({"weatherFirst", "observationArrivesFirst"});
        dataRow("weather then stock, quote arrives first", true, false);
        dataRow("weather then stock, observation arrives first", true, true);
        dataRow("stock then weather, observation arrives first", false, true);
        dataRow("stock then weather, quote arrives first", false, false);
    }
    void interleavedFeeds()
    {
        QFETCH(bool, weatherFirst);
        QFETCH(bool, observationArrivesFirst);
        // The one that is to arrive second is held until the first has been handled.
        holding = observationArrivesFirst ? "/qu/" : "/stations/";
        QSignalSpy finished(manager.data(), &QNetworkAccessManager::finished);
        send(weatherFirst ? Observation : Quotes, weatherFirst ? ObservationPath : QuotesPath);
        send(weatherFirst ? Quotes : Observation, weatherFirst ? QuotesPath : ObservationPath);
        // Neither kind replaces the other.
        QVERIFY(requests->running(Observation) && requests->running(Quotes));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(service.heldCount(), 1, 20000);
        QCOMPARE(got[int(observationArrivesFirst ? Observation : Quotes)].answered, 1);
        service.releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
        QCOMPARE(got[int(Observation)].texts, QStringList{ObservationPath});
        QCOMPARE(got[int(Quotes)].texts, QStringList{QuotesPath});
        QCOMPARE(got[int(Observation)].answered + got[int(Quotes)].answered, 2);
        QCOMPARE(lines("^(No Match|Request Failed|Reply Superseded)"), QStringList{});
    }

    // Every reply, failed or not, is released once it has been read.
    void repliesAreReleased()
    {
        QList<QPointer<QNetworkReply>> replies;
        connect(manager.data(), &QNetworkAccessManager::finished, this,
                [&replies](QNetworkReply* reply) { replies.append(reply); });
        send(RequestKind::Point, "/points/40.8106,-96.6274");
        send(RequestKind::Stations, "/gridpoints/OAX/58,55/stations");
        send(Observation, "/stations/KLNK/observations/latest?fail");
        QTRY_COMPARE_WITH_TIMEOUT(replies.size(), 3, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(replies.begin(), replies.end(), [](const auto& r) { return r.isNull(); }),
                                 20000);
    }

    // Only the newest request of a kind decides: an older reply, arriving
    // before or after the newer one, reaches its route with nothing (no text
    // read, no failure that would plan a retry).
    void onlyTheNewestDecides_data()
    {
        addColumns<bool, bool, QStringList, int>({"olderFails", "newerFirst", "read", "failures"});
        dataRow("older 503 after a newer success", true, true, QStringList{QuotesPath}, 0);
        dataRow("older 503 before a newer success", true, false, QStringList{QuotesPath}, 0);
        dataRow("older success after a newer 503", false, true, QStringList{}, 1);
    }
    void onlyTheNewestDecides()
    {
        QFETCH(bool, olderFails);
        QFETCH(bool, newerFirst);
        holding = "/qu/";
        QSignalSpy finished(manager.data(), &QNetworkAccessManager::finished);
        send(Quotes, olderFails ? "/qu/quote?symbol=AAPL&fail" : QuotesPath);
        send(Quotes, olderFails ? QuotesPath : "/qu/quote?symbol=AAPL&fail");
        QTRY_COMPARE_WITH_TIMEOUT(service.heldCount(), 2, 20000);
        service.releaseHeld(newerFirst == olderFails ? 200 : 503);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        service.releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
        QVERIFY(!requests->running(Quotes));
        QCOMPARE(lines("^(Request Failed|Reply Superseded)").size(), olderFails ? 1 : 2);
        QTEST(got[int(Quotes)].texts, "read");
        QTEST(got[int(Quotes)].failures.size(), "failures");
        QCOMPARE(got[int(Quotes)].answered, got[int(Quotes)].texts.size());
    }
};

CORVELTA_TEST_GUILESS_MAIN(ServiceRequestsTest)
#include "tst_servicerequests.moc"
