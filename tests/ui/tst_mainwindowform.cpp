#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>

#include "app/mainwindow.h"
#include "support/clockportlock.h"
#include "support/mainwindowprobe.h"
#include "support/testmain.h"
#include "ui/captionfit.h"
#include "weather/weatheritems.h"

class MainWindowFormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        static ClockPortLock lock;
        QFile::remove(QCoreApplication::applicationDirPath() + "/crv_settings.ini");
        window = new MainWindow;
    }
    void cleanupTestCase() { delete window; }

    void widgets_data();
    void widgets();
    void boxedLabelsStartEmpty();
    void framesAndLimits();
    void windowItself();
    void weatherItemLists();
    void slotsConnectedByName();
    void labelArraysFollowRows();
    void growingTextsAreToolTips();

private:
    MainWindow* window = nullptr;
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
        for (const CaptionFit::Caption& c : CaptionFit::measure(window))
            QVERIFY(c.widget != label);
        label->clear();
    }
}

CORVELTA_TEST_MAIN(MainWindowFormTest)
#include "tst_mainwindowform.moc"
