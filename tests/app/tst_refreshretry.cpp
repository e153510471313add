// The plain units behind the retries and the weather service's
// User-Agent, without a window or network.
#include <QtTest>

#include <ctime>
#include <limits>

#include "app/refreshretry.h"
#include "support/testmain.h"
#include "weather/useragent.h"

using RefreshRetry::Failure;

Q_DECLARE_METATYPE(RefreshRetry::Failure)

class RefreshRetryTest : public QObject
{
    Q_OBJECT

private slots:
    // Times are read in a zone with daylight saving, not the machine's.
    void initTestCase()
    {
        qputenv("TZ", "America/New_York");
        tzset();
    }

    void classify_data()
    {
        QTest::addColumn<QNetworkReply::NetworkError>("error");
        QTest::addColumn<int>("status");
        QTest::addColumn<Failure>("failure");
        dataRow("no connection", QNetworkReply::ConnectionRefusedError, 0, Failure::Passing);
        dataRow("time-out", QNetworkReply::TimeoutError, 0, Failure::Passing);
        dataRow("transfer time-out", QNetworkReply::OperationCanceledError, 0, Failure::Passing);
        dataRow("name lookup", QNetworkReply::HostNotFoundError, 0, Failure::Passing);
        dataRow("TLS handshake", QNetworkReply::SslHandshakeFailedError, 0, Failure::Passing);
        dataRow("connection closed", QNetworkReply::RemoteHostClosedError, 0, Failure::Passing);
        dataRow("500", QNetworkReply::InternalServerError, 500, Failure::Passing);
        dataRow("502", QNetworkReply::UnknownServerError, 502, Failure::Passing);
        dataRow("503", QNetworkReply::ServiceUnavailableError, 503, Failure::Passing);
        dataRow("429", QNetworkReply::UnknownContentError, 429, Failure::Passing);
        dataRow("401", QNetworkReply::AuthenticationRequiredError, 401, Failure::Lasting);
        dataRow("403", QNetworkReply::ContentAccessDenied, 403, Failure::Lasting);
        dataRow("404", QNetworkReply::ContentNotFoundError, 404, Failure::Lasting);
        dataRow("400", QNetworkReply::ProtocolInvalidOperationError, 400, Failure::Lasting);
        dataRow("unsupported scheme", QNetworkReply::ProtocolUnknownError, 0, Failure::Lasting);
    }
    void classify()
    {
        QFETCH(QNetworkReply::NetworkError, error);
        QFETCH(int, status);
        QTEST(RefreshRetry::classify(error, status), "failure");
    }

    void retryAfter_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<qint64>("seconds");  // -1: none
        QTest::addColumn<QDateTime>("now");
        const QDateTime dec9(QDate(2026, 12, 9), QTime(12, 0, 0), Qt::UTC);
        const QDateTime mar8(QDate(2026, 3, 8), QTime(2, 0, 0), Qt::UTC);
        dataRow("absent", QByteArray(), qint64(-1), dec9);
        dataRow("seconds", QByteArray("120"), qint64(120), dec9);
        dataRow("blanks around", QByteArray(" 7 "), qint64(7), dec9);
        // What cannot shorten the wait counts as absent.
        dataRow("zero", QByteArray("0"), qint64(-1), dec9);
        dataRow("negative", QByteArray("-5"), qint64(-1), dec9);
        dataRow("garbage", QByteArray("soon"), qint64(-1), dec9);
        QTest::newRow("20 digits") << QByteArray("99999999999999999999") << std::numeric_limits<qint64>::max() << dec9;
        dataRow("HTTP date 90 s ahead", QByteArray("Wed, 09 Dec 2026 12:01:30 GMT"), qint64(90), dec9);
        dataRow("HTTP date in the past", QByteArray("Wed, 09 Dec 2026 11:00:00 GMT"), qint64(-1), dec9);
        // 02:30 on 8 March is no local time in New York; as GMT it is a moment.
        dataRow("IMF-fixdate", QByteArray("Sun, 08 Mar 2026 02:30:00 GMT"), qint64(1800), mar8);
        dataRow("RFC 850", QByteArray("Sunday, 08-Mar-26 02:30:00 GMT"), qint64(1800), mar8);
        dataRow("asctime", QByteArray("Sun Mar  8 02:30:00 2026"), qint64(1800), mar8);
        dataRow("RFC 850, next year", QByteArray("Monday, 08-Mar-27 02:00:00 GMT"), qint64(365 * 86400), mar8);
        dataRow("RFC 850, 94 is 1994", QByteArray("Sunday, 06-Nov-94 08:49:37 GMT"), qint64(-1), mar8);
    }
    void retryAfter()
    {
        QFETCH(QByteArray, header);
        QFETCH(qint64, seconds);
        QFETCH(QDateTime, now);
        const std::optional<qint64> got = RefreshRetry::retryAfterSeconds(header, now.toLocalTime());
        QCOMPARE(got ? *got : qint64(-1), seconds);
    }

    void delay_data()
    {
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("retryAfter");  // -1: none
        QTest::addColumn<int>("attempt");
        QTest::addColumn<int>("interval");
        QTest::addColumn<qint64>("toNext");
        QTest::addColumn<qint64>("delay");  // -1: no retry
        const Failure P = Failure::Passing;
        dataRow("first retry", P, 503, qint64(-1), 1, 10, qint64(590), qint64(30));
        dataRow("second", P, 503, qint64(-1), 2, 10, qint64(560), qint64(60));
        dataRow("third", P, 0, qint64(-1), 3, 10, qint64(500), qint64(120));
        dataRow("fourth", P, 0, qint64(-1), 4, 10, qint64(400), qint64(240));
        dataRow("fifth would pass the schedule", P, 0, qint64(-1), 5, 10, qint64(150), qint64(-1));
        dataRow("due with the scheduled refresh", P, 0, qint64(-1), 1, 10, qint64(30), qint64(-1));
        dataRow("just before it", P, 0, qint64(-1), 1, 10, qint64(31), qint64(-1));
        dataRow("30 s before it", P, 0, qint64(-1), 1, 10, qint64(60), qint64(30));
        dataRow("lasting failure", Failure::Lasting, 404, qint64(-1), 1, 10, qint64(600), qint64(-1));
        dataRow("429 Retry-After", P, 429, qint64(45), 1, 10, qint64(600), qint64(45));
        dataRow("503 Retry-After", P, 503, qint64(200), 3, 10, qint64(600), qint64(200));
        dataRow("Retry-After of the whole interval", P, 429, qint64(600), 1, 10, qint64(601), qint64(-1));
        dataRow("Retry-After beyond the interval", P, 429, qint64(601), 1, 10, qint64(601), qint64(-1));
        dataRow("Retry-After 0", P, 503, qint64(0), 1, 10, qint64(600), qint64(30));
        dataRow("Retry-After below the doubling", P, 429, qint64(10), 3, 10, qint64(600), qint64(120));
        dataRow("Retry-After of a 500 is not used", P, 500, qint64(200), 1, 10, qint64(600), qint64(30));
        dataRow("interval 0: every tick is scheduled", P, 0, qint64(-1), 1, 0, qint64(1), qint64(-1));
        dataRow("many retries do not overflow", P, 0, qint64(-1), 1000, 2147483647, qint64(2147483647) * 60,
                qint64(-1));
        dataRow("tenth retry, long interval", P, 0, qint64(-1), 10, 100000, qint64(6000000), qint64(30) * 512);
    }
    void delay()
    {
        QFETCH(Failure, failure);
        QFETCH(int, status);
        QFETCH(qint64, retryAfter);
        QFETCH(int, attempt);
        QFETCH(int, interval);
        QFETCH(qint64, toNext);
        QFETCH(qint64, delay);
        RefreshRetry::Input input;
        input.failure = failure;
        input.httpStatus = status;
        if (retryAfter >= 0)
            input.retryAfter = retryAfter;
        input.attempt = attempt;
        input.intervalMinutes = interval;
        input.secondsToNextScheduled = toNext;
        const std::optional<qint64> got = RefreshRetry::delaySeconds(input);
        QCOMPARE(got ? *got : qint64(-1), delay);
    }

    // Four retries at most between two scheduled refreshes; a Retry-After
    // past the next scheduled refresh suspends the feed.
    void capAndSuspension()
    {
        RefreshRetry::Input input;
        input.secondsToNextScheduled = 6000;
        input.retriesSinceScheduled = 3;
        QCOMPARE(RefreshRetry::delaySeconds(input), std::optional<qint64>(30));
        input.retriesSinceScheduled = 4;
        QCOMPARE(RefreshRetry::delaySeconds(input), std::nullopt);
        input.httpStatus = 429;
        input.retryAfter = 6001;
        QCOMPARE(RefreshRetry::suspendSeconds(input), std::optional<qint64>(6001));
        input.retryAfter = 6000;
        QCOMPARE(RefreshRetry::suspendSeconds(input), std::nullopt);
        input.httpStatus = 500;
        input.retryAfter = 9000;
        QCOMPARE(RefreshRetry::suspendSeconds(input), std::nullopt);
    }

    void secondsToNextScheduled()
    {
        QCOMPARE(RefreshRetry::secondsToNextScheduled(0, 10), qint64(601));
        QCOMPARE(RefreshRetry::secondsToNextScheduled(600, 10), qint64(1));
        QCOMPARE(RefreshRetry::secondsToNextScheduled(700, 10), qint64(0));
        QCOMPARE(RefreshRetry::secondsToNextScheduled(0, 2147483647), qint64(2147483647) * 60 + 1);
    }

    void userAgent_data()
    {
        QTest::addColumn<QString>("contact");
        QTest::addColumn<QByteArray>("agent");
        const QByteArray version = QByteArray::number(CORVELTA_VERSION_MAJOR) + '.' +
                                   QByteArray::number(CORVELTA_VERSION_MINOR) + '.' +
                                   QByteArray::number(CORVELTA_VERSION_PATCH);
        dataRow("no contact", "", "Corvelta/" + version);
        dataRow("blank contact", "   ", "Corvelta/" + version);
        dataRow("e-mail", "ops@example.org", "Corvelta/" + version + " (ops@example.org)");
        dataRow("trimmed, line break dropped", " ops@example.org\r\nX-Evil: 1 ",
                "Corvelta/" + version + " (ops@example.orgX-Evil: 1)");
    }
    void userAgent()
    {
        QFETCH(QString, contact);
        QTEST(UserAgent::weather(contact), "agent");
    }

    void versionIsTheBuildsOne() { QCOMPARE(UserAgent::weather(""), QByteArray("Corvelta/1.0.6")); }
};

CORVELTA_TEST_GUILESS_MAIN(RefreshRetryTest)
#include "tst_refreshretry.moc"
