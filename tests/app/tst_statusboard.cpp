// The clocks' state and the status file, as the status board keeps them
// from the clock link's events; and the plain helpers beside them (the
// status bar's text, the Clocks window's place). No window is built here.
#include <QtTest>

#include "app/statusbartext.h"
#include "app/statusboard.h"
#include "app/statusmetrics.h"
#include "app/windowplacement.h"
#include "support/fixedclock.h"
#include "support/settingsfiles.h"
#include "support/testmain.h"

namespace {
// Events for a clock (10.0.0.7 unless named) from a script, each handed to
// the board as a batch of its own, happening now: "Q0 text" queued, "A0 text"
// acknowledged, "G0 text" given up ("A0! text": after a retransmission),
// "+" / "-" answering or not, "L" both lists emptied, "F1 line" / "S1" a
// failure or success of feed 1 (stocks); "50*A0 x" repeats.
void applyScript(StatusBoard& board, const QString& script, const QString& address = "10.0.0.7")
{
    using Kind = ClockLinkEvent::Kind;
    for (const QString& step : script.split(';', Qt::SkipEmptyParts)) {
        const int star = step.indexOf('*');
        const QString token = step.mid(star + 1);
        if (token == "L" || token[0] == 'F' || token[0] == 'S') {
            const auto feed = FeedStatus::Feed(token.mid(1, 1).toInt());
            token == "L"      ? board.setLists({}, {})
            : token[0] == 'F' ? board.noteFailure(feed, token.section(' ', 1))
                              : board.noteSuccess(feed);
            continue;
        }
        ClockLinkEvent e;
        e.clock = QHostAddress(address).toIPv4Address();
        e.kind = token == "+"      ? Kind::Answering
                 : token == "-"    ? Kind::NotAnswering
                 : token[0] == 'Q' ? Kind::Queued
                 : token[0] == 'A' ? Kind::Acknowledged
                                   : Kind::GivenUp;
        if (token.size() > 1) {
            e.variable = token.mid(1, 1).toInt();
            e.retransmitted = token[2] == '!';
            e.text = token.section(' ', 1);
        }
        for (int n = star < 0 ? 1 : step.left(star).toInt(); n > 0; --n)
            board.applyClockEvents({e}, TimeSource::now(), e.steadyNs);
    }
}
}  // namespace

class StatusBoardTest : public QObject
{
    Q_OBJECT

private slots:
    void statusBarText_data()
    {
        // unlisted: reported on, in neither address list
        // line: the same for the service manager
        addColumns<QTime, QTime, QStringList, QStringList, QStringList, QString, QString>(
            {"weather", "stocks", "answering", "silent", "unlisted", "text", "line"});
        const QString dot = QString::fromUtf8(" \u00b7 ");
        dataRow(
            "both feeds refreshed, one of four clocks silent", QTime(14, 3), QTime(14, 3, 40),
            QStringList{"10.0.0.4", "10.0.0.5", "10.0.0.6"}, QStringList{"10.0.0.7"}, QStringList(),
            "Weather 14:03" + dot + "Stocks 14:03" + dot + "Clocks 3 of 4 answering" + dot + "10.0.0.7 not answering",
            "4 clocks, 1 not answering; weather 14:03, stocks 14:03");
        dataRow("nothing yet", QTime(), QTime(), QStringList(), QStringList(), QStringList(),
                "Weather not yet" + dot + "Stocks not yet" + dot + "Clocks not yet sent to",
                "0 clocks, 0 not answering; weather not yet, stocks not yet");
        dataRow("all answering", QTime(9, 0), QTime(), QStringList{"10.0.0.1"}, QStringList(), QStringList(),
                "Weather 09:00" + dot + "Stocks not yet" + dot + "Clocks 1 of 1 answering",
                "1 clock, 0 not answering; weather 09:00, stocks not yet");
        dataRow("many silent", QTime(), QTime(8, 5), QStringList(),
                QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"}, QStringList(),
                "Weather not yet" + dot + "Stocks 08:05" + dot + "Clocks 0 of 5 answering" + dot +
                    "10.0.0.1, 10.0.0.2, 10.0.0.3 and 2 more not answering",
                "5 clocks, 5 not answering; weather not yet, stocks 08:05");
        dataRow("removed from both lists", QTime(), QTime(), QStringList{"10.0.0.1"}, QStringList(),
                QStringList{"10.0.0.7"}, "Weather not yet" + dot + "Stocks not yet" + dot + "Clocks 1 of 1 answering",
                "1 clock, 0 not answering; weather not yet, stocks not yet");
    }
    void statusBarText()
    {
        QFETCH(QTime, weather);
        QFETCH(QTime, stocks);
        QFETCH(QStringList, answering);
        QFETCH(QStringList, silent);
        QFETCH(QStringList, unlisted);
        QFETCH(QString, text);
        QFETCH(QString, line);
        StatusBarText::State state;
        state.weather = weather;
        state.stocks = stocks;
        state.listed = StatusBarText::listedClocks(answering.join(", "), silent.join(","));
        for (const QString& a : unlisted)
            state.clocks[a] = false;
        for (const QString& a : answering)
            state.clocks[a] = true;
        for (const QString& a : silent)
            state.clocks[a] = false;
        QCOMPARE(StatusBarText::compose(state), text);
        QCOMPARE(StatusBarText::serviceLine(state), line);
    }

    void clockStates_data()
    {
        // variable: variable 0 as "acknowledged|on its way|given up"
        addColumns<QString, QString, QString, int, int>({"script", "variable", "state", "retransmitted", "rows"});
        dataRow("not yet sent to", "", "||", "not yet sent to", -100, 1);
        dataRow("acknowledged", "Q0 12 C;A0 12 C;+", "12 C||", "answering", 0, 1);
        dataRow("on its way", "Q0 12 C;A0 12 C;Q0 13 C", "12 C|13 C|", "answering", 0, 1);
        dataRow("older acknowledged, newer still on its way", "Q0 12 C;Q0 13 C;A0! 12 C", "12 C|13 C|", "answering",
                100, 1);
        dataRow("given up", "Q0 12 C;A0 12 C;Q0 13 C;G0! 13 C;-", "12 C||13 C", "not answering", 50, 1);
        dataRow("given up then resent", "Q0 a;G0! a;-;Q0 a", "|a|a", "not answering", 100, 1);
        dataRow("given up, resent, acknowledged", "Q0 a;G0! a;-;Q0 a;A0 a;+", "a||", "answering", 50, 1);
        dataRow("given up, another text queued", "Q0 a;G0 a;Q0 b", "|b|", "not answering", 0, 1);
        dataRow("answered before, one text given up", "Q0 a;A0 a;+;Q0 b;G0! b", "a||b", "answering", 50, 1);
        dataRow("share of the last 100 only", "100*A0! a;75*A0 a", "a||", "answering", 25, 1);
        dataRow("taken out of both lists", "Q0 a;A0 a;+;L;Q0 b", "", "", 0, 0);
    }
    void clockStates()
    {
        QFETCH(QString, script);
        QFETCH(QString, variable);
        QFETCH(QString, state);
        QFETCH(int, retransmitted);
        QFETCH(int, rows);
        StatusBoard board;
        QSignalSpy lists(&board, &StatusBoard::listsChanged);
        board.setLists({"10.0.0.7", "not a clock"}, {" 10.0.0.7"});
        QCOMPARE(lists.count(), 1);
        applyScript(board, script);
        QCOMPARE(int(board.clocks().clocks().size()), rows);
        if (rows == 0)
            return;
        const ClockState& clock = board.clocks().clocks().front();
        QVERIFY(clock.weatherList && clock.stockList);
        const ClockVariableState& v = clock.variables[0];
        QCOMPARE(v.acknowledged + "|" + v.onItsWay + "|" + v.givenUp, variable);
        QCOMPARE(healthText(clock.health), state);
        QCOMPARE(qRound(clock.retransmittedShare() * 100), retransmitted);
    }

    // The status document's fields and the metrics, from an event script
    // on 10.0.0.7 (listed with 10.0.0.8) at 14:03:07 -06:00; "restart" ends
    // the board (its last file written) and reads the file back into a new
    // one. `where`: a path into the document, or "metrics" for a line
    // present ("!" before it: no line starts so).
    void document_data()
    {
        addColumns<QString, QString, QString>({"script", "where", "value"});
        dataRow("schema version", "", "schemaVersion", "2");
        dataRow("heartbeat bound", "", "heartbeatSeconds", "300");
        dataRow("never answered: not answering at its first give-up", "Q0 a;G0 a", "clocks/0/state",
                "\"not_answering\"");
        dataRow("not answering since", "Q0 a;G0 a", "clocks/0/notAnsweringSince", "\"2026-03-10T14:03:07-06:00\"");
        dataRow("answering again", "Q0 a;G0 a;-;Q0 a;A0! a;+", "clocks/0/notAnsweringSince", "null");
        dataRow("clocks by state", "Q0 a;A0 a;+", "summary/clocks",
                R"({"answering":1,"not_answering":0,"not_yet_sent_to":1})");
        dataRow("feed failing", "S1;F1 Request Failed: x", "summary/feedsHealthy/stocks", "false");
        dataRow("feed good again", "F1 Request Failed: x;S1", "summary/feedsHealthy/stocks", "true");
        dataRow("feed failures", "F1 a;F1 b", "feeds/stocks/failures", "2");
        dataRow(
            "texts read back after a restart", "Q0 12 C;A0 12 C;+;restart", "clocks/0/variables/0",
            R"({"acknowledged":"12 C","acknowledgedAt":"2026-03-10T14:03:07-06:00","givenUp":null,"onItsWay":null})");
        dataRow("marked as from before the restart", "Q0 12 C;A0 12 C;+;restart", "clocks/0/fromBeforeRestart", "true");
        dataRow("read back, not yet sent to", "Q0 12 C;A0 12 C;+;restart", "clocks/0/state", "\"not_yet_sent_to\"");
        dataRow("mark gone once it answers", "Q0 12 C;A0 12 C;+;restart;Q1 x;A1 x", "clocks/0/fromBeforeRestart",
                "false");
        dataRow("metrics: answering clock", "Q0 a;A0 a;+", "metrics", "corvelta_clock_answering{clock=\"10.0.0.7\"} 1");
        dataRow("metrics: never answered", "Q0 a;G0 a", "metrics", "corvelta_clock_answering{clock=\"10.0.0.7\"} 0");
        dataRow("metrics: not yet sent to", "", "metrics", "!corvelta_clock_answering{clock=\"10.0.0.8\"}");
        dataRow("metrics: clocks by state", "Q0 a;G0 a", "metrics", "corvelta_clocks{state=\"not_answering\"} 1");
        dataRow("metrics: no answer time until measured", "Q0 a;A0 a", "metrics", "!corvelta_clock_answer_seconds{");
        dataRow("metrics: feed failures", "F1 a;F1 b", "metrics", "corvelta_feed_failures_total{feed=\"stocks\"} 2");
        dataRow("metrics: last success", "S0", "metrics",
                "corvelta_feed_last_success_timestamp_seconds{feed=\"weather\"} 1773172987");
    }
    void document()
    {
        QFETCH(QString, script);
        QFETCH(QString, where);
        QFETCH(QString, value);
        const QString path = QDir::current().filePath(StatusFile::FileName);
        QFile::remove(path);
        FixedClock clock(QDateTime(QDate(2026, 3, 10), QTime(14, 3, 7), Qt::OffsetFromUTC, -6 * 3600));
        auto board = std::make_unique<StatusBoard>();
        const QStringList parts = script.split("restart");
        for (int part = 0; part < parts.size(); ++part) {
            if (part > 0) {
                board->writeFinal();
                board = std::make_unique<StatusBoard>();
            }
            board->setLists({"10.0.0.7", "10.0.0.8"}, {});
            board->startWriting(path);
            applyScript(*board, parts[part]);
        }
        const StatusSnapshot snapshot = board->snapshot(clock.current, true);
        if (where == "metrics") {
            const QStringList lines = QString(StatusMetrics::text(snapshot)).split('\n');
            if (value.startsWith('!'))
                QCOMPARE(lines.filter(QRegularExpression("^" + QRegularExpression::escape(value.mid(1)))), {});
            else
                QVERIFY2(lines.contains(value), qPrintable(lines.join('\n')));
            return;
        }
        QJsonValue field = QJsonDocument::fromJson(StatusFile::json(snapshot)).object();
        for (const QString& step : where.split('/'))
            field = field.isArray() ? field[step.toInt()] : field[step];
        QCOMPARE(QString(QJsonDocument(QJsonArray{field}).toJson(QJsonDocument::Compact)), "[" + value + "]");
    }

    // When the status file is written again: once something changed, at
    // most once a second (a second more per 2,500 clocks); with nothing
    // changed, after the heartbeat.
    void statusFileDue_data()
    {
        addColumns<int, bool, int, bool>({"sinceMs", "changed", "clocks", "due"});
        dataRow("nothing changed, 299 s", 299000, false, 1, false);
        dataRow("nothing changed, heartbeat", 300000, false, 1, true);
        dataRow("changed after 0.9 s", 900, true, 1, false);
        dataRow("changed after 1 s", 1000, true, 1, true);
        dataRow("10,000 clocks, changed after 4 s", 4000, true, 10000, false);
        dataRow("10,000 clocks, changed after 5 s", 5000, true, 10000, true);
        dataRow("clock set back", -5000, false, 1, true);
    }
    void statusFileDue()
    {
        QFETCH(int, sinceMs);
        QFETCH(bool, changed);
        QFETCH(int, clocks);
        QFETCH(bool, due);
        const QDateTime written(QDate(2026, 3, 10), QTime(14, 3, 7, 500));
        QCOMPARE(StatusFile::due(written.addMSecs(sinceMs), written, changed, clocks), due);
    }

    void offScreenPositionMovesToThePrimaryScreen_data()
    {
        addColumns<QPoint, QPoint>({"stored", "opened"});
        dataRow("on the primary screen", QPoint(100, 50), QPoint(100, 50));
        dataRow("on the second screen", QPoint(2000, 10), QPoint(2000, 10));
        dataRow("off every screen", QPoint(5000, 3000), QPoint(560, 340));
        dataRow("title above the screens", QPoint(100, -200), QPoint(560, 340));
    }
    void offScreenPositionMovesToThePrimaryScreen()
    {
        QFETCH(QPoint, stored);
        QFETCH(QPoint, opened);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QCOMPARE(WindowPlacement::onScreen(stored, QSize(800, 400), screens, screens[0]), opened);
    }

    // One clock acknowledges, one is silent: the status file says so, is
    // never seen half written, and says "running": false after the last
    // version.
    void statusFile()
    {
        const QString path = QDir::current().filePath(StatusFile::FileName);
        QFile::remove(path);
        int partial = 0;
        StatusFile::setBeforeReplaceHook([&partial, path] {
            QFile file(path);
            if (file.exists() &&
                (!file.open(QIODevice::ReadOnly) || !QJsonDocument::fromJson(file.readAll()).isObject()))
                ++partial;
        });
        FixedClock clock(QDateTime(QDate(2026, 3, 10), QTime(14, 3, 7), Qt::OffsetFromUTC, -6 * 3600));
        {
            StatusBoard board;
            board.setLists({"127.0.0.2", "127.0.0.5"}, {});
            board.startWriting(path);
            for (int refresh = 0; refresh < 3; ++refresh) {
                applyScript(board, "Q1 22 C;A1 22 C;+", "127.0.0.2");
                applyScript(board, QString("Q1 r%1;G1! r%1;-").arg(refresh), "127.0.0.5");
                clock.current = clock.current.addSecs(1);
                board.tick(clock.current);
            }
            QTRY_COMPARE_WITH_TIMEOUT(readStatusFile()["clocks"][1]["variables"][1]["givenUp"].toString(),
                                      QString("r2"), 10000);
            const QJsonValue status = readStatusFile();
            QCOMPARE(status["clocks"][0]["variables"][1]["acknowledged"].toString(), QString("22 C"));
            QCOMPARE(status["clocks"][0]["state"].toString(), QString("answering"));
            QCOMPARE(status["clocks"][1]["state"].toString(), QString("not_answering"));
            QCOMPARE(status["running"].toBool(), true);
            QCOMPARE(status["written"].toString(), QString("2026-03-10T14:03:10-06:00"));
            board.writeFinal();
            QCOMPARE(readStatusFile()["running"].toBool(true), false);
        }
        StatusFile::setBeforeReplaceHook(nullptr);
        QCOMPARE(partial, 0);
    }
};

CORVELTA_TEST_GUILESS_MAIN(StatusBoardTest)
#include "tst_statusboard.moc"
