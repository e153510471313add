//
// The stock feed end to end: the real window asks a substitute quote service
// over HTTPS on loopback, and substitute clocks on 127.0.0.2 and 127.0.0.3
// receive the ticker texts.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include "app/mainwindow.h"
#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/fixedclock.h"
#include "support/handwrittendatagram.h"
#include "support/mainwindowprobe.h"
#include "support/quotereplies.h"
#include "support/settingsfiles.h"
#include "support/substituteclocks.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

// The stock window open all day, every day.
void openAllDay(MainWindow& w)
{
    MainWindowProbe::stockStart(w) = QTime(0, 0);
    MainWindowProbe::stockStop(w) = QTime(23, 59, 59, 999);
    MainWindowProbe::stockWeekend(w) = false;
}

namespace {

// Every log line is echoed to the debug output; collected without the time
// stamp a log line carries.
DebugCapture* capture = nullptr;

// The quotes the substitute service knows, as it would report them.
const QMap<QString, QuoteData>& catalogue()
{
    static const QMap<QString, QuoteData> quotes = {
        {"AAPL", {"AAPL", "Apple Inc.", "189.25", "-1.2", "53242137"}},
        {"MSFT", {"MSFT", "Microsoft Corporation", "378.91", "0", "20101200"}},
        {"F", {"F", "Ford Motor Company", "10.6", "0.23", "41853714"}},
        {"GOOG", {"GOOG", "Alphabet Inc.", "138.05", "-0.5", "18712000"}},
    };
    return quotes;
}

// The service's answer to a symbol list: one quote per known symbol, in the
// order asked, symbols looked up in upper case.
QByteArray answerFor(const QByteArray& target)
{
    const int at = target.indexOf("?symbol=");
    const QString list = QUrl::fromPercentEncoding(target.mid(at + 8));
    QList<QuoteData> quotes;
    for (const QString& symbol : list.split(','))
        if (catalogue().contains(symbol.trimmed().toUpper()))
            quotes.append(catalogue().value(symbol.trimmed().toUpper()));
    return quoteReply(quotes);
}

const QByteArray EndMark = datagram(9, "end of test step");
const QByteArray ProbeMark = datagram(8, "probe");

QStringList linesFrom(int first)
{
    return capture->debugSince(first);
}

}  // namespace

class StockFeedTest : public QObject
{
    Q_OBJECT

public:
    StockFeedTest()
        : server(SubstituteWebServer::Mode::HttpsTrusted)
        , untrusted(SubstituteWebServer::Mode::HttpsUntrusted)
    {}

private:
    SubstituteWebServer server;
    SubstituteWebServer untrusted;
    QScopedPointer<SimulatedClock> clock2;
    QScopedPointer<SimulatedClock> clock3;
    QScopedPointer<MainWindow> window;
    QString expectedKey;
    QStringList serviceComplaints;
    int replyStatus = 200;
    bool holdReplies = false;
    // The quota header, and a body to answer with instead of the catalogue's.
    QByteArray quota;
    QByteArray customBody;
    bool clockLinkLive = false;

    QString hostOf(const SubstituteWebServer& s) const
    {
        return QUrl(s.baseUrl()).host() + ":" + QString::number(QUrl(s.baseUrl()).port());
    }

    // A fresh window that asks the substitute service, with no settings file
    // of an earlier window and its scheduler stopped. Its weather window is
    // closed, so a tick at any time of day refreshes the stocks alone.
    void newWindow()
    {
        window.reset();
        const QString settingsPath = QCoreApplication::applicationDirPath() + "/crv_settings.ini";
        QFile::remove(settingsPath);
        {
            QSettings settings(settingsPath, QSettings::IniFormat);
            settings.setValue("stockhost", server.baseUrl());
        }
        window.reset(new MainWindow);
        MainWindowProbe::updateTimer(*window)->stop();
        MainWindowProbe::stockBaseUrl(*window) = server.baseUrl();
        MainWindowProbe::stockHost(*window) = hostOf(server);
        MainWindowProbe::weatherStop(*window) = QTime();
    }

    void setFields(const QStringList& fields)
    {
        for (int i = 0; i < 5; ++i)
            window->findChild<QLineEdit*>(QString("tickerLineEdit%1").arg(i + 1))->setText(fields.value(i));
    }
    QLabel* label(int v) { return window->findChild<QLabel*>(QString("lastStockVar%1").arg(v + 1)); }
    QStringList labelTexts()
    {
        QStringList texts;
        for (int v = 0; v < 5; ++v)
            texts << label(v)->text();
        return texts;
    }
    void setAddresses(const QString& list) { window->findChild<QLineEdit*>("clockStockIPListEdit")->setText(list); }
    void clickUpdate() { window->findChild<QPushButton*>("updateStocksPushButton")->click(); }

    // Waits until the clocks have every datagram queued so far, then gives
    // what each received before that, repeats (a late acknowledgement) and
    // marks left out.
    void collectDatagrams(QList<QByteArray>& at2, QList<QByteArray>& at3)
    {
        window->SendClockVar("127.0.0.2", 9, "end of test step");
        window->SendClockVar("127.0.0.3", 9, "end of test step");
        auto arrived = [](SimulatedClock& c) {
            for (const auto& a : c.arrivals)
                if (a.data == EndMark)
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(arrived(*clock2) && arrived(*clock3), 20000);
        auto before = [](SimulatedClock& c) {
            QList<QByteArray> list;
            for (const auto& a : c.arrivals) {
                if (a.data == EndMark)
                    break;
                if (a.data != ProbeMark && !list.contains(a.data))
                    list.append(a.data);
            }
            c.arrivals.clear();
            return list;
        };
        at2 = before(*clock2);
        at3 = before(*clock3);
    }

    // One refresh, up to the end of its reply's handling; returns the index
    // of its first log line.
    int refreshAndWait()
    {
        const int first = capture->mark();
        clickUpdate();
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(!linesFrom(first).filter(QRegularExpression("^Var4=|^Request Failed: ")).isEmpty(),
                                     20000);
        }();
        return first;
    }

private slots:
    void initTestCase()
    {
        static ClockPortLock lock;
        trustTestCertificateAuthority();
        capture = new DebugCapture({true, true});
        QVERIFY(server.start());
        QVERIFY(untrusted.start());
        server.setHandler([this](const SubstituteWebServer::Request& request) {
            if (request.method != "GET")
                serviceComplaints << "method " + request.method;
            if (!request.target.startsWith("/qu/quote?symbol="))
                serviceComplaints << "target " + request.target;
            if (!request.headers.contains("x-rapidapi-key") ||
                request.headers.value("x-rapidapi-key") != expectedKey.toUtf8())
                serviceComplaints << "key " + request.headers.value("x-rapidapi-key", "(none)");
            if (request.headers.value("x-rapidapi-host") != hostOf(server).toUtf8())
                serviceComplaints << "host " + request.headers.value("x-rapidapi-host", "(none)");
            SubstituteWebServer::Reply reply;
            reply.status = replyStatus;
            // A refused request's body is not read: let it carry a quote anyway.
            if (replyStatus == 403)
                reply.body = readDataFile(testDataPath("stocks/not-subscribed.json"));
            else if (replyStatus != 200)
                reply.body = quoteReply({{"AAPL", "Apple Inc.", "1.00", "-99", "1"}});
            else
                reply.body = customBody.isEmpty() ? answerFor(request.target) : customBody;
            if (!quota.isEmpty())
                reply.headers.append({"X-RateLimit-Requests-Remaining", quota});
            reply.hold = holdReplies;
            return reply;
        });
        untrusted.setHandler([](const SubstituteWebServer::Request& request) {
            SubstituteWebServer::Reply reply;
            reply.body = answerFor(request.target);
            return reply;
        });

        QVERIFY(bindSubstituteClocks(clock2, clock3));

        // Every datagram check below relies on the clock link reaching the clocks.
        newWindow();
        QSignalSpy spy(clock2.data(), &SimulatedClock::datagramArrived);
        window->SendClockVar("127.0.0.2", 8, "probe");
        clockLinkLive = spy.wait(5000);
        QVERIFY2(clockLinkLive, "the clock link delivers nothing to a substitute clock");
        window.reset();
        clock2->arrivals.clear();
    }

    void init()
    {
        expectedKey = "test-key-1";
        replyStatus = 200;
        holdReplies = false;
        quota.clear();
        customBody.clear();
        serviceComplaints.clear();
        server.requests.clear();
        newWindow();
        MainWindowProbe::stockApiKey(*window) = expectedKey;
        clock2->arrivals.clear();
        clock3->arrivals.clear();
    }

    void cleanup() { window.reset(); }

    void cleanupTestCase()
    {
        delete capture;
        capture = nullptr;
    }

    void refresh_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("addresses");
        QTest::addColumn<QString>("symbols");    // as the request log line shows them
        QTest::addColumn<QByteArray>("target");  // as the service receives it
        QTest::addColumn<QStringList>("texts");  // the five ticker texts
        QTest::addColumn<int>("unmatched");      // quotes logged with DeliveryVar=-1
        const QString both = "127.0.0.2, 127.0.0.3";
        QTest::newRow("first-start flags: ticker and price")
            << QStringList{"AAPL", "", "", "", ""} << "tp" << both << "AAPL,," << QByteArray("/qu/quote?symbol=AAPL,,")
            << QStringList{"(AAPL) 189.25 ", "", "", "", ""} << 0;
        QTest::newRow("all five flags, negative change")
            << QStringList{"AAPL", "", "", "", ""} << "ntpcv" << both << "AAPL,,"
            << QByteArray("/qu/quote?symbol=AAPL,,")
            << QStringList{"Apple Inc., (AAPL) 189.25  -1.20 53242137", "", "", "", ""} << 0;
        QTest::newRow("zero change") << QStringList{"", "MSFT", "", "", ""} << "tpc" << both << ",MSFT,,"
                                     << QByteArray("/qu/quote?symbol=,MSFT,,")
                                     << QStringList{"", "(MSFT) 378.91 +0.00 ", "", "", ""} << 0;
        QTest::newRow("several symbols in one field")
            << QStringList{"AAPL,MSFT", "", "", "", "GOOG"} << "tp" << both << "AAPL,MSFT,,GOOG"
            << QByteArray("/qu/quote?symbol=AAPL,MSFT,,GOOG")
            << QStringList{"(AAPL) 189.25 , (MSFT) 378.91 ", "", "", "", "(GOOG) 138.05 "} << 0;
        QTest::newRow("short symbol inside an earlier field's longer one")
            << QStringList{"MSFT", "F", "AAPL", "", ""} << "tp" << both << "MSFT,F,AAPL,"
            << QByteArray("/qu/quote?symbol=MSFT,F,AAPL,")
            << QStringList{"(MSFT) 378.91 , (F) 10.60 ", "", "(AAPL) 189.25 ", "", ""} << 0;
        QTest::newRow("every flag off") << QStringList{"AAPL", "MSFT", "F", "GOOG", ""} << "" << both
                                        << "AAPL,MSFT,F,GOOG," << QByteArray("/qu/quote?symbol=AAPL,MSFT,F,GOOG,")
                                        << QStringList{"", "", "", "", ""} << 0;
        QTest::newRow("quotes for only some fields")
            << QStringList{"AAPL", "ZZZZ", "MSFT", "", "QQQQ"} << "tp" << both << "AAPL,ZZZZ,MSFT,QQQQ"
            << QByteArray("/qu/quote?symbol=AAPL,ZZZZ,MSFT,QQQQ")
            << QStringList{"(AAPL) 189.25 ", "", "(MSFT) 378.91 ", "", ""} << 0;
        QTest::newRow("lower-case symbol matches no field")
            << QStringList{"aapl", "MSFT", "", "", ""} << "tp" << both << "aapl,MSFT,,"
            << QByteArray("/qu/quote?symbol=aapl,MSFT,,") << QStringList{"", "(MSFT) 378.91 ", "", "", ""} << 1;
        QTest::newRow("blanks in fields are percent-encoded")
            << QStringList{" AAPL", "MSFT ", "", "", ""} << "tp" << both << "AAPL,MSFT ,,"
            << QByteArray("/qu/quote?symbol=AAPL,MSFT%20,,")
            << QStringList{"(AAPL) 189.25 ", "(MSFT) 378.91 ", "", "", ""} << 0;
        QTest::newRow("one clock, address list with empty parts")
            << QStringList{"AAPL", "", "", "", ""} << "tp"
            << ",, 127.0.0.3 ,,"
            << "AAPL,," << QByteArray("/qu/quote?symbol=AAPL,,") << QStringList{"(AAPL) 189.25 ", "", "", "", ""} << 0;
    }
    void refresh()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, flags);
        QFETCH(QString, addresses);
        QFETCH(QString, symbols);
        QFETCH(QByteArray, target);
        QFETCH(QStringList, texts);
        QFETCH(int, unmatched);

        setFields(fields);
        MainWindowProbe::setFlags(*window, flags);
        setAddresses(addresses);
        for (int v = 0; v < 5; ++v)
            label(v)->setText("shown before");

        const int first = refreshAndWait();
        QVERIFY(!MainWindowProbe::running(*window, RequestKind::Quotes));

        // The request.
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests[0].target, target);
        QCOMPARE(serviceComplaints, QStringList());

        // The log.
        const QStringList lines = linesFrom(first);
        QCOMPARE(lines.value(0), "Requesting Data From: " + server.baseUrl() + "/qu/quote?symbol=" + symbols);
        QVERIFY2(lines.value(1).startsWith("Error: 0 ErrorString: "), qPrintable(lines.value(1)));
        const QString body = QString::fromUtf8(answerFor(target));
        QCOMPARE(lines.value(2), QString("StockQuote Response: Length=%1 %2").arg(body.size()).arg(body));
        QCOMPARE(lines.filter(QRegularExpression("^i=\\d+ Name=")).size(), body.count("{\"preMarketChange\""));
        QCOMPARE(lines.filter(QRegularExpression(" DeliveryVar=-1$")).size(), unmatched);

        QStringList tail;
        for (int v = 0; v < 5; ++v)
            tail << QString("Var%1=%2").arg(v).arg(texts[v]);
        const QStringList clocks =
            addresses.contains("127.0.0.2") ? QStringList{"127.0.0.2", "127.0.0.3"} : QStringList{"127.0.0.3"};
        QList<QByteArray> expected;
        for (int v = 0; v < 5; ++v) {
            if (texts[v].isEmpty())
                continue;
            for (const QString& address : clocks)
                tail << QString("Sending Stock Data to %1 Var%2=%3").arg(address).arg(v).arg(texts[v]);
            expected << datagram(v, texts[v]);
        }
        QCOMPARE(lines.mid(lines.size() - tail.size()), tail);

        // What the window shows: every label set, an empty text clears it.
        QCOMPARE(labelTexts(), texts);

        // What the clocks receive, variable by variable.
        QList<QByteArray> at2, at3;
        collectDatagrams(at2, at3);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(at3, expected);
        QCOMPARE(at2, clocks.contains("127.0.0.2") ? expected : QList<QByteArray>());
    }

    // A refused or failed request logs one line and changes nothing: the
    // labels keep what was last sent and nothing is sent.
    void failedReplyChangesNothing_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("tlsFailure");
        dataRow("empty API key, 401", "", 401, false);
        dataRow("wrong API key, 403", "wrong-key", 403, false);
        dataRow("quota spent, 429", "test-key-1", 429, false);
        dataRow("service fault, 500", "test-key-1", 500, false);
        dataRow("untrusted certificate", "test-key-1", 200, true);
    }
    void failedReplyChangesNothing()
    {
        QFETCH(QString, key);
        QFETCH(int, status);
        QFETCH(bool, tlsFailure);

        setFields({"AAPL", "MSFT", "", "", ""});
        MainWindowProbe::setFlags(*window, "tp");
        setAddresses("127.0.0.2,127.0.0.3");
        refreshAndWait();
        const QStringList shown = labelTexts();
        QCOMPARE(shown, (QStringList{"(AAPL) 189.25 ", "(MSFT) 378.91 ", "", "", ""}));
        QList<QByteArray> at2, at3;
        if (clockLinkLive)
            collectDatagrams(at2, at3);
        if (QTest::currentTestFailed())
            return;

        expectedKey = key;
        MainWindowProbe::stockApiKey(*window) = key;
        replyStatus = status;
        QString base = server.baseUrl();
        if (tlsFailure) {
            base = untrusted.baseUrl();
            MainWindowProbe::stockBaseUrl(*window) = base;
            MainWindowProbe::stockHost(*window) = hostOf(untrusted);
        }
        const int first = refreshAndWait();
        const QStringList lines = linesFrom(first);

        if (!tlsFailure) {
            // The key goes out as it is, an empty one as an empty header.
            QCOMPARE(server.requests.size(), 2);
            QVERIFY(server.requests[1].headers.contains("x-rapidapi-key"));
            QCOMPARE(server.requests[1].headers.value("x-rapidapi-key"), key.toUtf8());
            QCOMPARE(serviceComplaints, QStringList());
        }
        const QStringList failures = lines.filter(QRegularExpression("^Request Failed: "));
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures[0].startsWith("Request Failed: " + base + "/qu/quote?symbol=AAPL,MSFT,, Error: "),
                 qPrintable(failures[0]));
        QCOMPARE(failures[0].endsWith(" server replied: Forbidden (You are not subscribed to this API.)"),
                 status == 403);
        QCOMPARE(lines.filter(QRegularExpression("^(StockQuote Response|i=|Var\\d=|Sending Stock Data)")),
                 QStringList());
        QCOMPARE(labelTexts(), shown);

        collectDatagrams(at2, at3);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(at2, QList<QByteArray>());
        QCOMPARE(at3, QList<QByteArray>());
        // Filed under the stock feed in the status file, not the weather's.
        window->shutDown();
        QCOMPARE(readStatusFile()["feeds"]["stocks"]["lastFailure"].toString(), failures[0]);
    }

    // A reply is read as what its own request asked, and the ticker fields
    // are read when it arrives.
    void replyReadWhenItArrives()
    {
        setFields({"AAPL", "", "", "", ""});
        MainWindowProbe::setFlags(*window, "tp");
        setAddresses("127.0.0.2");
        holdReplies = true;
        const int first = capture->mark();
        clickUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 20000);

        setFields({"", "", "", "AAPL", ""});
        server.releaseHeld();
        QTRY_VERIFY_WITH_TIMEOUT(!linesFrom(first).filter(QRegularExpression("^Var4=")).isEmpty(), 20000);

        QCOMPARE(labelTexts(), (QStringList{"", "", "", "(AAPL) 189.25 ", ""}));
        QCOMPARE(linesFrom(first).filter("Sending Stock Data"),
                 QStringList{"Sending Stock Data to 127.0.0.2 Var3=(AAPL) 189.25 "});
        QCOMPARE(linesFrom(first).filter("No Match"), QStringList());
        QList<QByteArray> at2, at3;
        collectDatagrams(at2, at3);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(at2, QList<QByteArray>{datagram(3, "(AAPL) 189.25 ")});
    }

    // More quotes than the table holds: the first 200 are used, the rest
    // ignored and said so.
    void replyBeyondTheTable()
    {
        customBody = manyQuotesReply(230);
        setFields({"Q0000", "Q0199", "Q0200", "", ""});
        MainWindowProbe::setFlags(*window, "tp");
        setAddresses("");
        const int first = refreshAndWait();
        const QStringList lines = linesFrom(first);
        QVERIFY(lines.contains("StockQuote Response: 230 quotes, first 200 used, 30 ignored"));
        QCOMPARE(lines.filter(QRegularExpression("^i=\\d+ Name=")).size(), 200);
        QCOMPARE(labelTexts(), (QStringList{"(Q0000) 10.50 ", "(Q0199) 209.50 ", "", "", ""}));
        QCOMPARE(lines.filter("Sending Stock Data"), QStringList());
    }

    // Through the window: nothing borrowed from
    // another quote, nothing unknown shown as a number.
    void unknownValues_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("missingLines");
        QString withoutPrice = quoteObject({"AAPL", "Apple Inc.", "PRICE", "-1.2", "53242137"});
        withoutPrice.replace("\"regularMarketPrice\":PRICE,", "");
        const QString ibm = quoteObject({"IBM", "IBM", "193.6", "0.5", "3000000"}, 1);
        dataRow("a quote missing its price, then one with a price",
                ("{\"body\":[" + withoutPrice + "," + ibm + "]}").toUtf8(), QStringList{"AAPL", "IBM", "", "", ""},
                QStringList{"(AAPL) --  -1.20 ", "(IBM) 193.60 +0.50 ", "", "", ""},
                QStringList{"Stock Data Missing: AAPL regularMarketPrice"});
        dataRow("null price and change", quoteReply({{"MSFT", "Microsoft Corporation", "null", "null", "20101200"}}),
                QStringList{"MSFT", "", "", "", ""}, QStringList{"(MSFT) -- -- ", "", "", "", ""},
                QStringList{"Stock Data Missing: MSFT regularMarketChange, regularMarketPrice"});
        dataRow("a genuine zero is +0.00", quoteReply({{"MSFT", "Microsoft Corporation", "378.91", "0", "20101200"}}),
                QStringList{"MSFT", "", "", "", ""}, QStringList{"(MSFT) 378.91 +0.00 ", "", "", "", ""},
                QStringList{});
    }
    void unknownValues()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, fields);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, missingLines);
        customBody = body;
        setFields(fields);
        MainWindowProbe::setFlags(*window, "tpc");
        setAddresses("127.0.0.2");
        const QStringList lines = linesFrom(refreshAndWait());
        QCOMPARE(lines.filter(QRegularExpression("^Stock Data Missing: ")), missingLines);
        QCOMPARE(labelTexts(), texts);
        QList<QByteArray> at2, at3;
        collectDatagrams(at2, at3);
        if (QTest::currentTestFailed())
            return;
        QList<QByteArray> expected;
        for (int v = 0; v < 5; ++v)
            if (!texts[v].isEmpty())
                expected << datagram(v, texts[v]);
        QCOMPARE(at2, expected);
    }

    // A quote that matches no field of this reply is
    // dropped, though it matched one in the earlier reply.
    void unmatchedQuoteAfterAnEarlierMatch()
    {
        setFields({"AAPL", "MSFT", "", "", ""});
        MainWindowProbe::setFlags(*window, "tp");
        setAddresses("127.0.0.2");
        refreshAndWait();
        QCOMPARE(labelTexts(), (QStringList{"(AAPL) 189.25 ", "(MSFT) 378.91 ", "", "", ""}));
        QList<QByteArray> at2, at3;
        collectDatagrams(at2, at3);
        if (QTest::currentTestFailed())
            return;

        setFields({"aapl", "MSFT", "", "", ""});  // the service still answers AAPL
        const QStringList lines = linesFrom(refreshAndWait());
        QCOMPARE(lines.filter(QRegularExpression("^i=\\d+ ")),
                 (QStringList{"i=0 Name=Apple Inc. Symbol=AAPL Price=189.25 Change=-1.2 Volume=53242137 DeliveryVar=-1",
                              "i=1 Name=Microsoft Corporation Symbol=MSFT Price=378.91 Change=+0 Volume=20101200 "
                              "DeliveryVar=1"}));
        QCOMPARE(labelTexts(), (QStringList{"", "(MSFT) 378.91 ", "", "", ""}));
        collectDatagrams(at2, at3);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(at2, QList<QByteArray>{datagram(1, "(MSFT) 378.91 ")});
    }

    // Five fields without a symbol ask for nothing.
    void noSymbolsNoRequest()
    {
        setFields({"", " ", ",", "", ""});
        const int first = capture->mark();
        for (int i = 0; i < 3; ++i) {
            openAllDay(*window);
            MainWindowProbe::stockCounter(*window) = 600;
            MainWindowProbe::tick(*window);  // a scheduled refresh
            clickUpdate();
        }
        QTest::qWait(100);
        QVERIFY(server.requests.isEmpty());
        QCOMPARE(linesFrom(first).filter("Not Requested"), QStringList{"Stocks Not Requested: no ticker symbols"});
        QCOMPARE(linesFrom(first).filter("Requesting Data From"), QStringList{});
    }

    // The remaining quota, when the service reports it,
    // with every reply, a refused one too; and the quote requests keep the
    // User-Agent they always had (only the weather service is told who calls).
    void quotaLogged()
    {
        setFields({"AAPL", "", "", "", ""});
        quota = "497";
        QCOMPARE(linesFrom(refreshAndWait()).filter("Quota"), QStringList{"StockQuote Quota: 497 requests left"});
        quota = "0";
        replyStatus = 429;
        QCOMPARE(linesFrom(refreshAndWait()).filter("Quota"), QStringList{"StockQuote Quota: 0 requests left"});
        quota.clear();
        replyStatus = 200;
        QCOMPARE(linesFrom(refreshAndWait()).filter("Quota"), QStringList{});
        for (const auto& request : server.requests)
            QVERIFY2(!request.headers.value("user-agent").startsWith("Corvelta"), request.headers.value("user-agent"));
    }
};

CORVELTA_TEST_MAIN(StockFeedTest)
#include "tst_stockfeed.moc"
