#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QUdpSocket>
#include <QtTest>
#include <memory>

#include "app/mainwindow.h"
#include "clocklink/clockdatagram.h"
#include "clocklink/udpcommthread.h"
#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/mainwindowprobe.h"
#include "support/settingsfiles.h"
#include "support/testmain.h"
#include "ui/captionfit.h"
#include "ui/clockstablemodel.h"
#include "weather/weatheritems.h"

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
}  // namespace

class MainWindowFormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        static ClockPortLock lock;
        QFile::remove(QCoreApplication::applicationDirPath() + "/crv_settings.ini");
        window = std::make_unique<MainWindow>();
    }

    void widgets_data();
    void widgets();
    void boxedLabelsStartEmpty();
    void framesAndLimits();
    void windowItself();
    void weatherItemLists();
    void slotsConnectedByName();
    void labelArraysFollowRows();
    void growingTextsAreToolTips();

    // The clock link's wiring. Each of these builds windows of its own, after
    // the shared one has gone: a window starts the link and stops it.
    void sendClockVarDeliversTheDatagram();
    void windowRetryParametersGiveTheScheduleOfFourTransmissions();
    void addressThatIsNotIPv4IsLoggedOnce();
    void deadClockIsReportedOnceAndItsReturnOnce();
    void clocksWindowAndStatusFile();
    void eachWindowStartsAndStopsTheLink();

private:
    std::unique_ptr<MainWindow> window;
};

void MainWindowFormTest::widgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");

    struct Row
    {
        const char* name;
        const char* className;
        const char* text;
        QRect rect;
    };
    // The form's widgets in creation order; a null text means "not checked".
    const Row rows[] = {
        {"coordsPushButton", "QPushButton", "Get Stations", {420, 60, 91, 21}},
        {"longitudeLineEdit", "QLineEdit", nullptr, {300, 60, 101, 22}},
        {"latitudeLineEdit", "QLineEdit", nullptr, {180, 60, 101, 22}},
        {"locationComboBox", "QComboBox", nullptr, {530, 60, 231, 22}},
        {"label", "QLabel", "Latitude:", {180, 40, 71, 20}},
        {"label_2", "QLabel", "Longitude:", {300, 40, 71, 20}},
        {"label_3", "QLabel", "Choose Weather Station:", {530, 40, 141, 20}},
        {"updateWeatherPushButton", "QPushButton", "Get/Update Current Weather", {20, 190, 171, 21}},
        {"metricCheckBox", "QCheckBox", "Metric Units", {690, 10, 91, 20}},
        {"weatherItemComboBox1", "QComboBox", nullptr, {288, 140, 111, 22}},
        {"label_4", "QLabel", "Weather Variable:", {290, 120, 111, 20}},
        {"label_5", "QLabel", "Clock Variable:", {420, 120, 111, 20}},
        {"label_6", "QLabel", "-->>VAR1", {400, 140, 111, 20}},
        {"weatherItemComboBox2", "QComboBox", nullptr, {290, 170, 111, 22}},
        {"weatherItemComboBox3", "QComboBox", nullptr, {290, 200, 111, 22}},
        {"weatherItemComboBox4", "QComboBox", nullptr, {290, 230, 111, 22}},
        {"weatherItemComboBox5", "QComboBox", nullptr, {290, 260, 111, 22}},
        {"label_7", "QLabel", "-->>VAR2", {400, 170, 111, 20}},
        {"label_8", "QLabel", "-->>VAR3", {400, 200, 111, 20}},
        {"label_9", "QLabel", "-->>VAR4", {400, 230, 111, 20}},
        {"label_10", "QLabel", "-->>VAR5", {400, 260, 111, 20}},
        {"clockWeatherIPListEdit", "QLineEdit", nullptr, {180, 310, 561, 22}},
        {"label_11", "QLabel", "Clock IP Addresses to Send Weather Data to:", {180, 290, 291, 20}},
        {"lastUpdateLabel", "QLabel", nullptr, {580, 90, 181, 21}},
        {"locationStatusLabel", "QLabel", nullptr, {180, 90, 211, 21}},
        {"updateStocksPushButton", "QPushButton", "Update Stocks Now", {30, 430, 131, 24}},
        {"tickerLineEdit1", "QLineEdit", nullptr, {222, 380, 181, 22}},
        {"label_12", "QLabel", "Ticker Symbols:", {220, 360, 101, 20}},
        {"label_13", "QLabel", "-->>VAR1", {400, 380, 111, 20}},
        {"label_14", "QLabel", "-->>VAR5", {400, 500, 111, 20}},
        {"label_15", "QLabel", "Clock Variable:", {420, 360, 111, 20}},
        {"label_16", "QLabel", "-->>VAR4", {400, 470, 111, 20}},
        {"label_17", "QLabel", "-->>VAR3", {400, 440, 111, 20}},
        {"label_18", "QLabel", "-->>VAR2", {400, 410, 111, 20}},
        {"tickerLineEdit2", "QLineEdit", nullptr, {220, 410, 181, 22}},
        {"tickerLineEdit3", "QLineEdit", nullptr, {220, 440, 181, 22}},
        {"tickerLineEdit4", "QLineEdit", nullptr, {220, 470, 181, 22}},
        {"tickerLineEdit5", "QLineEdit", nullptr, {220, 500, 181, 22}},
        {"label_19", "QLabel", "Last Response:", {510, 120, 111, 20}},
        {"lastWeatherVar1", "QLabel", nullptr, {510, 140, 251, 21}},
        {"lastWeatherVar2", "QLabel", nullptr, {510, 170, 251, 21}},
        {"lastWeatherVar3", "QLabel", nullptr, {510, 200, 251, 21}},
        {"lastWeatherVar4", "QLabel", nullptr, {510, 230, 251, 21}},
        {"lastWeatherVar5", "QLabel", nullptr, {510, 260, 251, 21}},
        {"lastStockVar1", "QLabel", nullptr, {510, 380, 251, 21}},
        {"label_20", "QLabel", "Last Response:", {510, 360, 111, 20}},
        {"lastStockVar2", "QLabel", nullptr, {510, 410, 251, 21}},
        {"lastStockVar3", "QLabel", nullptr, {510, 440, 251, 21}},
        {"lastStockVar4", "QLabel", nullptr, {510, 470, 251, 21}},
        {"lastStockVar5", "QLabel", nullptr, {510, 500, 251, 21}},
        {"line", "QFrame", nullptr, {10, 340, 781, 16}},
        {"clockStockIPListEdit", "QLineEdit", nullptr, {160, 550, 561, 22}},
        {"label_21", "QLabel", "Clock IP Addresses to Send Stock Data to:", {160, 530, 271, 20}},
        {"setupPushButton", "QPushButton", "Setup", {10, 540, 131, 31}},
    };
    for (const Row& row : rows)
        QTest::newRow(row.name) << row.className << (row.text ? QString(row.text) : QString()) << row.rect;
}

void MainWindowFormTest::widgets()
{
    QFETCH(QString, className);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);

    const QString name = QTest::currentDataTag();
    QWidget* widget = window->centralWidget()->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
    QVERIFY2(widget, qPrintable("no widget " + name + " on the central widget"));
    QCOMPARE(QString(widget->metaObject()->className()), className);
    QCOMPARE(widget->geometry(), geometry);
    if (!text.isNull())
        QCOMPARE(widget->property("text").toString(), text);
}

void MainWindowFormTest::boxedLabelsStartEmpty()
{
    const QStringList names = {"lastUpdateLabel", "lastWeatherVar1", "lastWeatherVar2", "lastWeatherVar3",
                               "lastWeatherVar4", "lastWeatherVar5", "lastStockVar1",   "lastStockVar2",
                               "lastStockVar3",   "lastStockVar4",   "lastStockVar5"};
    for (const QString& name : names) {
        auto* label = window->findChild<QLabel*>(name);
        QVERIFY(label);
        QCOMPARE(label->frameShape(), QFrame::Box);
        QVERIFY2(label->text().isEmpty(), qPrintable(name));
    }
    // The twelfth boxed label shows the (empty) location at start-up.
    auto* status = window->findChild<QLabel*>("locationStatusLabel");
    QCOMPARE(status->frameShape(), QFrame::Box);
    QCOMPARE(status->text(), QString("ID:  Grid: , Station: "));
}

void MainWindowFormTest::framesAndLimits()
{
    auto* line = window->findChild<QFrame*>("line");
    QCOMPARE(line->lineWidth(), 3);
    QCOMPARE(line->frameShape(), QFrame::HLine);
    QCOMPARE(line->frameShadow(), QFrame::Sunken);

    for (int i = 1; i <= 5; ++i) {
        auto* edit = window->findChild<QLineEdit*>(QString("tickerLineEdit%1").arg(i));
        QCOMPARE(edit->maxLength(), 50);
        edit->clear();
        QTest::keyClicks(edit, QString(51, QLatin1Char('A')));
        QCOMPARE(edit->text().size(), 50);
        edit->clear();
    }
    for (const char* name : {"clockWeatherIPListEdit", "clockStockIPListEdit"}) {
        auto* edit = window->findChild<QLineEdit*>(name);
        QVERIFY(!edit->isReadOnly());
        const QString longList = QString("127.0.0.2, ").repeated(100);
        edit->setText(longList);
        QCOMPARE(edit->text(), longList);
        edit->clear();
    }
    QCOMPARE(window->findChild<QLineEdit*>("latitudeLineEdit")->inputMask(), QString("099.9900"));
    QCOMPARE(window->findChild<QLineEdit*>("longitudeLineEdit")->inputMask(), QString("-099.9900"));
}

void MainWindowFormTest::windowItself()
{
    QCOMPARE(window->objectName(), QString("MainWindow"));
    QCOMPARE(window->windowTitle(), QString("Corvelta Version 1.0.6"));
    QCOMPARE(window->size(), QSize(803, 622));
    QVERIFY(window->centralWidget());
    QCOMPARE(window->centralWidget()->objectName(), QString("centralwidget"));

    QMenuBar* menuBar = window->menuBar();
    QCOMPARE(menuBar->objectName(), QString("menubar"));
    QVERIFY(menuBar->actions().isEmpty());
    QCOMPARE(window->statusBar()->objectName(), QString("statusbar"));
    // The status bar tells of the feeds' last refreshes and the
    // clocks; before either it says so.
    QCOMPARE(window->statusBar()->currentMessage(),
             QString::fromUtf8("Weather not yet \u00b7 Stocks not yet \u00b7 Clocks not yet sent to"));

    // No layout: enlarging the window moves nothing.
    QVERIFY(!window->centralWidget()->layout());
    window->resize(1200, 900);
    QCOMPARE(window->findChild<QWidget*>("setupPushButton")->geometry(), QRect(10, 540, 131, 31));
    window->resize(803, 622);
}

void MainWindowFormTest::weatherItemLists()
{
    const QStringList expected = WeatherItems::names();
    for (int i = 1; i <= 5; ++i) {
        auto* box = window->findChild<QComboBox*>(QString("weatherItemComboBox%1").arg(i));
        QStringList items;
        for (int k = 0; k < box->count(); ++k)
            items << box->itemText(k);
        QCOMPARE(items, expected);
    }
}

void MainWindowFormTest::slotsConnectedByName()
{
    const QMetaObject* meta = window->metaObject();
    const char* slotNames[] = {
        "on_coordsPushButton_clicked()",       "on_updateWeatherPushButton_clicked()",
        "on_metricCheckBox_toggled(bool)",     "on_locationComboBox_currentTextChanged(QString)",
        "on_updateStocksPushButton_clicked()", "on_setupPushButton_clicked()",
    };
    for (const char* slot : slotNames)
        QVERIFY2(meta->indexOfSlot(slot) >= 0, slot);

    // The check box reaches its slot: checked means metric.
    auto* metric = window->findChild<QCheckBox*>("metricCheckBox");
    for (int i = 0; i < 2; ++i) {
        metric->toggle();
        QCOMPARE(MainWindowProbe::units(*window), !metric->isChecked());
    }
}

void MainWindowFormTest::labelArraysFollowRows()
{
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(MainWindowProbe::weatherLabel(*window, i)->objectName(), QString("lastWeatherVar%1").arg(i + 1));
        QCOMPARE(MainWindowProbe::stockLabel(*window, i)->objectName(), QString("lastStockVar%1").arg(i + 1));
    }
}

void MainWindowFormTest::growingTextsAreToolTips()
{
    const QStringList names = {"locationStatusLabel", "lastUpdateLabel", "lastWeatherVar1",
                               "lastWeatherVar5",     "lastStockVar1",   "lastStockVar5"};
    for (const QString& name : names) {
        auto* label = window->findChild<QLabel*>(name);
        const QString text = name + ": a text longer than any of the boxed labels is wide";
        label->setText(text);
        QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(label, &event);
        QCOMPARE(label->toolTip(), text);
        // A growing text is no caption: it may be longer than its label.
        for (const CaptionFit::Caption& c : CaptionFit::measure(window.get()))
            QVERIFY(c.widget != label);
        label->clear();
    }
}

void MainWindowFormTest::sendClockVarDeliversTheDatagram()
{
    window.reset();
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

void MainWindowFormTest::windowRetryParametersGiveTheScheduleOfFourTransmissions()
{
    window.reset();
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
void MainWindowFormTest::addressThatIsNotIPv4IsLoggedOnce()
{
    window.reset();
    DebugCapture log;
    MainWindow window;
    const RetransmitQueue::Counters before = commThread.GetUdpCounters();
    for (int i = 0; i < 3; ++i) {
        window.SendClockVar("clock-in-hall", 1, "x");
        window.SendClockVar("", 2, "y");
    }
    QTRY_COMPARE(linesEndingWith(log, "Clock address \"\" is not an IPv4 address; nothing is sent to it"), 1);
    QCOMPARE(linesEndingWith(log, "Clock address \"clock-in-hall\" is not an IPv4 address; nothing is sent to it"), 1);
    QCOMPARE(commThread.GetUdpCounters().queued, before.queued);
    QCOMPARE(commThread.GetUdpQueueSize(), 0);
}

// A clock that is off over ten refreshes: one "not answering" line, and
// the status bar names it; it comes back: one "answering again" line.
void MainWindowFormTest::deadClockIsReportedOnceAndItsReturnOnce()
{
    window.reset();
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

// Ctrl+K opens the window; one clock acknowledges, one is silent, and the
// table shows the silent one first. The window's status file says the same
// (what it holds is tested on the status board), and "running": false once
// the window has gone.
void MainWindowFormTest::clocksWindowAndStatusFile()
{
    window.reset();
    SimulatedClock answering(ClockAddress);
    SimulatedClock silent(QHostAddress("127.0.0.5"));
    QVERIFY(answering.bind() && silent.bind());
    AcknowledgementPolicy none;
    none.silent = true;
    silent.setPolicy(none);
    prepareSettingsFile({{"clockweatheriplist", "127.0.0.2, 127.0.0.5"}, {"clockswindowpos", "-9000,-9000"}});
    QFile::remove(QDir::current().filePath(StatusFile::FileName));  // none left from an earlier run
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

        QTRY_COMPARE_WITH_TIMEOUT(readStatusFile()["clocks"][1]["variables"][1]["givenUp"].toString(), QString("r2"),
                                  10000);
        window.close();
    }
    // The window had been moved onto a screen, and is kept there.
    QVERIFY(QSettings(settingsFilePath(), QSettings::IniFormat).value("clockswindowpos") != "-9000,-9000");
    QCOMPARE(readStatusFile()["running"].toBool(true), false);
}

void MainWindowFormTest::eachWindowStartsAndStopsTheLink()
{
    window.reset();
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

CORVELTA_TEST_MAIN(MainWindowFormTest)
#include "tst_mainwindowform.moc"
