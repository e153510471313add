#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QUdpSocket>

#include "app/mainwindow.h"
#include "app/statusbartext.h"
#include "app/statusfile.h"
#include "app/windowplacement.h"
#include "clocklink/clockdatagram.h"
#include "clocklink/clockstates.h"
#include "clocklink/udpcommthread.h"
#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/settingsfiles.h"
#include "support/testmain.h"
#include "ui/clockstablemodel.h"
#include "ui/clockswindow.h"

namespace {
const QHostAddress ClockAddress("127.0.0.2");

// How many lines of the debug output (where the log's lines are echoed) end
// with `text`.
int linesEndingWith(const DebugCapture& log, const QString& text)
{
    int n = 0;
    for (const QString& line : log.debugLines())
        n += line.endsWith(text) ? 1 : 0;
    return n;
}

// Events for 10.0.0.7 from a script: "Q0 text" queued, "A0 text"
// acknowledged, "G0 text" given up ("A0! text": after a retransmission),
// "+" / "-" answering or not, "L" both lists emptied; "50*A0 x" repeats.
void applyScript(ClockStates& states, const QString& script)
{
    using Kind = ClockLinkEvent::Kind;
    for (const QString& step : script.split(';', Qt::SkipEmptyParts)) {
        const int star = step.indexOf('*');
        const QString token = step.mid(star + 1);
        if (token == "L") {
            states.setLists({}, {});
            continue;
        }
        ClockLinkEvent e;
        e.clock = QHostAddress("10.0.0.7").toIPv4Address();
        e.at = QDateTime::currentDateTime();
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
            states.apply({e});
    }
}

// What a window's Clocks table shows for `address`, column by column.
QStringList clocksRow(MainWindow& window, const QString& address)
{
    auto* view = window.findChild<QTableView*>("clocksTableView");
    for (int row = 0; view && row < view->model()->rowCount(); ++row) {
        if (view->model()->index(row, 0).data().toString() != address)
            continue;
        QStringList cells;
        for (int column = 0; column < ClocksTableModel::ColumnCount; ++column) {
            const QModelIndex cell = view->model()->index(row, column);
            cells << cell.data().toString() + "|" + cell.data(ClocksTableModel::OnItsWayRole).toString() + "|" +
                         cell.data(ClocksTableModel::GivenUpRole).toString();
        }
        return cells;
    }
    return {};
}

const QJsonValue readStatusFile()
{
    QFile file(QDir::current().filePath(StatusFile::FileName));
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}
}  // namespace

class ClockLinkWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { static ClockPortLock lock; }

    void sendClockVarDeliversTheDatagram()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        MainWindow window;
        const qint64 acknowledgedBefore = commThread.GetUdpCounters().acknowledged;
        window.SendClockVar("127.0.0.2", 3, "N-11 kmh");
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpCounters().acknowledged, acknowledgedBefore + 1, 10000);
        QCOMPARE(commThread.GetUdpQueueSize(), 0);
        QVERIFY(!clock.arrivals.isEmpty());
        QCOMPARE(clock.arrivals.first().data, QByteArray("\xBE\x03N-11 kmh\x00", 11));
        QCOMPARE(clock.arrivals.first().senderPort, CLOCK_UDP_PORT);
    }

    void windowRetryParametersGiveTheScheduleOfFourTransmissions()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        clock.setAnswer("");
        MainWindow window;
        const qint64 givenUpBefore = commThread.GetUdpCounters().givenUp;
        const qint64 queuedAt = clock.msecsSinceCreated();
        window.SendClockVar("127.0.0.2", 0, "12 C");
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpCounters().givenUp, givenUpBefore + 1, 20000);
        const qint64 givenUpSeenAt = clock.msecsSinceCreated();
        QTRY_COMPARE_WITH_TIMEOUT(clock.arrivals.size(), 4, 10000);
        const int expected[] = {200, 300, 400, 500};
        for (int i = 0; i < 4; ++i) {
            const qint64 at = clock.arrivals.at(i).msecs - queuedAt;
            QVERIFY2(at >= expected[i] - 2 && at <= expected[i] + 3000,
                     qPrintable(QString("transmission %1 at %2 ms").arg(i).arg(at)));
        }
        QVERIFY(givenUpSeenAt - queuedAt >= 598);
    }

    // An address that is not IPv4 is not queued, and the log
    // says so once per run, however often it is used.
    void addressThatIsNotIPv4IsLoggedOnce()
    {
        DebugCapture log;
        MainWindow window;
        const RetransmitQueue::Counters before = commThread.GetUdpCounters();
        for (int i = 0; i < 3; ++i) {
            window.SendClockVar("clock-in-hall", 1, "x");
            window.SendClockVar("", 2, "y");
        }
        QTRY_COMPARE(linesEndingWith(log, "Clock address \"\" is not an IPv4 address; nothing is sent to it"), 1);
        QCOMPARE(linesEndingWith(log, "Clock address \"clock-in-hall\" is not an IPv4 address; nothing is sent to it"),
                 1);
        QCOMPARE(commThread.GetUdpCounters().queued, before.queued);
        QCOMPARE(commThread.GetUdpQueueSize(), 0);
    }

    // A clock that is off over ten refreshes: one "not answering" line, and
    // the status bar names it; it comes back: one "answering again" line.
    void deadClockIsReportedOnceAndItsReturnOnce()
    {
        const QString address = "127.0.0.5";
        SimulatedClock clock{QHostAddress(address)};
        QVERIFY(clock.bind());
        AcknowledgementPolicy silent;
        silent.silent = true;
        clock.setPolicy(silent);
        DebugCapture log;
        MainWindow window;
        window.findChild<QLineEdit*>("clockWeatherIPListEdit")->setText(address);
        for (int refresh = 0; refresh < 10; ++refresh) {
            for (int v = 0; v < 5; ++v)
                window.SendClockVar(address, v, QString("refresh %1").arg(refresh));
            QTest::qWait(700);
        }
        // A clock never heard from may answer up to 4 s late, and each
        // give-up doubles its interval: the six records left take a while.
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpQueueSize(), 0, 90000);
        QTRY_COMPARE(linesEndingWith(log, "Clock 127.0.0.5 is not answering"), 1);
        QTRY_VERIFY(
            window.statusBar()->currentMessage().contains("Clocks 0 of 1 answering \u00b7 127.0.0.5 not answering"));

        clock.setPolicy(AcknowledgementPolicy());
        for (int v = 0; v < 5; ++v)
            window.SendClockVar(address, v, "back");
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpQueueSize(), 0, 30000);
        QTRY_COMPARE(linesEndingWith(log, "Clock 127.0.0.5 is answering again"), 1);
        QTRY_VERIFY(window.statusBar()->currentMessage().contains("Clocks 1 of 1 answering"));
        QCOMPARE(linesEndingWith(log, "Clock 127.0.0.5 is not answering"), 1);
        for (int v = 0; v < 5; ++v)
            QCOMPARE(clock.variables().value(v), QString("back"));
    }

    void statusBarText_data()
    {
        // unlisted: reported on, in neither address list
        addColumns<QTime, QTime, QStringList, QStringList, QStringList, QString>(
            {"weather", "stocks", "answering", "silent", "unlisted", "text"});
        const QString dot = QString::fromUtf8(" \u00b7 ");
        dataRow(
            "the issue's example", QTime(14, 3), QTime(14, 3, 40), QStringList{"10.0.0.4", "10.0.0.5", "10.0.0.6"},
            QStringList{"10.0.0.7"}, QStringList(),
            "Weather 14:03" + dot + "Stocks 14:03" + dot + "Clocks 3 of 4 answering" + dot + "10.0.0.7 not answering");
        dataRow("nothing yet", QTime(), QTime(), QStringList(), QStringList(), QStringList(),
                "Weather not yet" + dot + "Stocks not yet" + dot + "Clocks not yet sent to");
        dataRow("all answering", QTime(9, 0), QTime(), QStringList{"10.0.0.1"}, QStringList(), QStringList(),
                "Weather 09:00" + dot + "Stocks not yet" + dot + "Clocks 1 of 1 answering");
        dataRow("many silent", QTime(), QTime(8, 5), QStringList(),
                QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"}, QStringList(),
                "Weather not yet" + dot + "Stocks 08:05" + dot + "Clocks 0 of 5 answering" + dot +
                    "10.0.0.1, 10.0.0.2, 10.0.0.3 and 2 more not answering");
        dataRow("removed from both lists", QTime(), QTime(), QStringList{"10.0.0.1"}, QStringList(),
                QStringList{"10.0.0.7"}, "Weather not yet" + dot + "Stocks not yet" + dot + "Clocks 1 of 1 answering");
    }
    void statusBarText()
    {
        QFETCH(QTime, weather);
        QFETCH(QTime, stocks);
        QFETCH(QStringList, answering);
        QFETCH(QStringList, silent);
        QFETCH(QStringList, unlisted);
        QFETCH(QString, text);
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
        ClockStates states;
        QVERIFY(states.setLists({"10.0.0.7", "not a clock"}, {" 10.0.0.7"}));
        applyScript(states, script);
        QCOMPARE(int(states.clocks().size()), rows);
        if (rows == 0)
            return;
        const ClockState& clock = states.clocks().front();
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

    // Ctrl+K opens the window; one clock acknowledges, one is silent; the
    // status file says the same, is never seen half written, and says
    // "running": false once the window has gone.
    void clocksWindowAndStatusFile()
    {
        SimulatedClock answering(ClockAddress);
        SimulatedClock silent(QHostAddress("127.0.0.5"));
        QVERIFY(answering.bind() && silent.bind());
        AcknowledgementPolicy none;
        none.silent = true;
        silent.setPolicy(none);
        prepareSettingsFile({{"clockweatheriplist", "127.0.0.2, 127.0.0.5"}, {"clockswindowpos", "-9000,-9000"}});
        int partial = 0;
        StatusFile::setBeforeReplaceHook([&partial] {
            QFile file(QDir::current().filePath(StatusFile::FileName));
            if (file.exists() &&
                (!file.open(QIODevice::ReadOnly) || !QJsonDocument::fromJson(file.readAll()).isObject()))
                ++partial;
        });
        {
            MainWindow window;
            window.show();
            QApplication::setActiveWindow(&window);
            QVERIFY(QTest::qWaitForWindowActive(&window));
            QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier);
            auto* clocks = window.findChild<QWidget*>("clocksWindow");
            QVERIFY(clocks && clocks->isVisible());
            QCOMPARE(clocks->windowTitle(), QString("Corvelta Clocks"));
            QVERIFY(clocks->screen()->availableGeometry().intersects(clocks->frameGeometry()));
            for (int refresh = 0; refresh < 3; ++refresh) {
                window.SendClockVar("127.0.0.2", 1, "22 C");
                window.SendClockVar("127.0.0.5", 1, QString("r%1").arg(refresh));
                QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpQueueSize(), 0, 60000);
            }
            QTRY_COMPARE_WITH_TIMEOUT(clocksRow(window, "127.0.0.5").value(ClocksTableModel::FirstVariable + 1),
                                      QString("||r2"), 10000);
            QCOMPARE(clocksRow(window, "127.0.0.5").value(ClocksTableModel::State), QString("not answering||"));
            // Not answering comes first.
            QCOMPARE(clocks->findChild<QTableView*>()->model()->index(0, 0).data().toString(), QString("127.0.0.5"));
            QCOMPARE(clocksRow(window, "127.0.0.2").value(ClocksTableModel::State), QString("answering||"));
            QCOMPARE(clocksRow(window, "127.0.0.2").value(ClocksTableModel::FirstVariable + 1), QString("22 C||"));

            QTRY_COMPARE_WITH_TIMEOUT(readStatusFile()["clocks"][1]["variables"][1]["givenUp"].toString(),
                                      QString("r2"), 10000);
            const QJsonValue status = readStatusFile();
            QCOMPARE(status["clocks"][0]["variables"][1]["acknowledged"].toString(), QString("22 C"));
            QCOMPARE(status["running"].toBool(), true);
            QCOMPARE(status["clocks"][1]["state"].toString(), QString("not answering"));
            QVERIFY(QDateTime::fromString(status["written"].toString(), Qt::ISODate).isValid());
            QVERIFY(
                status["written"].toString().contains(QRegularExpression("T\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$")));
            window.close();
        }
        // The window had been moved onto a screen, and is kept there.
        QVERIFY(QSettings(settingsFilePath(), QSettings::IniFormat).value("clockswindowpos") != "-9000,-9000");
        StatusFile::setBeforeReplaceHook(nullptr);
        QCOMPARE(readStatusFile()["running"].toBool(true), false);
        QCOMPARE(partial, 0);
    }

    void eachWindowStartsAndStopsTheLink()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        for (int round = 0; round < 3; ++round) {
            {
                MainWindow window;
                QVERIFY(commThread.isRunning());
                // Port 7372 is taken while the window exists.
                QUdpSocket probe;
                QVERIFY(!probe.bind(QHostAddress::Any, CLOCK_UDP_PORT, QUdpSocket::DontShareAddress));
                const qint64 before = commThread.GetUdpCounters().acknowledged;
                window.SendClockVar("127.0.0.2", round, "round");
                QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpCounters().acknowledged, before + 1, 10000);
            }
            QVERIFY(!commThread.isRunning());
        }
    }
};

CORVELTA_TEST_MAIN(ClockLinkWindowTest)
#include "tst_statusboard.moc"
