// The clocks' state and the status file, as the status board keeps them
// from the clock link's events; and the plain helpers beside them (the
// status bar's text, the Clocks window's place). No window is built here.
#include <QtTest>

#include "app/statusbartext.h"
#include "app/statusboard.h"
#include "app/windowplacement.h"
#include "support/fixedclock.h"
#include "support/settingsfiles.h"
#include "support/testmain.h"

namespace {
// Events for a clock (10.0.0.7 unless named) from a script, each handed to
// the board as a batch of its own, happening now: "Q0 text" queued, "A0 text"
// acknowledged, "G0 text" given up ("A0! text": after a retransmission),
// "+" / "-" answering or not, "L" both lists emptied; "50*A0 x" repeats.
void applyScript(StatusBoard& board, const QString& script, const QString& address = "10.0.0.7")
{
    using Kind = ClockLinkEvent::Kind;
    for (const QString& step : script.split(';', Qt::SkipEmptyParts)) {
        const int star = step.indexOf('*');
        const QString token = step.mid(star + 1);
        if (token == "L") {
            board.setLists({}, {});
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
            "the issue's example", QTime(14, 3), QTime(14, 3, 40), QStringList{"10.0.0.4", "10.0.0.5", "10.0.0.6"},
            QStringList{"10.0.0.7"}, QStringList(),
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
        dataRow("given up, another text queued", "Q0 a;G0 a;Q0 b", "|b|", "not yet sent to", 0, 1);
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
                board.writeIfDue(clock.current);
            }
            QTRY_COMPARE_WITH_TIMEOUT(readStatusFile()["clocks"][1]["variables"][1]["givenUp"].toString(),
                                      QString("r2"), 10000);
            const QJsonValue status = readStatusFile();
            QCOMPARE(status["clocks"][0]["variables"][1]["acknowledged"].toString(), QString("22 C"));
            QCOMPARE(status["clocks"][0]["state"].toString(), QString("answering"));
            QCOMPARE(status["clocks"][1]["state"].toString(), QString("not answering"));
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
