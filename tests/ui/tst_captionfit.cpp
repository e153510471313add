// Every fixed caption of both forms fits its widget in the font the program
// picks at start-up, measured with the fonts of the offscreen platform (the
// desktop's fonts here).
#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QMainWindow>
#include <QtTest>

#include "support/testmain.h"
#include "ui/captionfit.h"
#include "ui_mainwindow.h"
#include "ui_setupdialog.h"
#include "weather/weatheritems.h"

class CaptionFitTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fontNotAboveDefault();
    void everyCaptionFits_data();
    void everyCaptionFits();
    void noCaptionLeftOut();
    void defaultFontCutsSomeCaption();
    void openListShowsWholeItems();

private:
    QFont platformFont;
    QMainWindow window;
    Ui::MainWindow windowForm;
    QDialog dialog;
    Ui::SetupDialog dialogForm;
};

void CaptionFitTest::initTestCase()
{
    platformFont = QApplication::font();
    CaptionFit::fitApplicationFont();
    windowForm.setupUi(&window);
    dialogForm.setupUi(&dialog);
    window.show();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
}

void CaptionFitTest::fontNotAboveDefault()
{
    const QFont font = window.font();
    QCOMPARE(font.family(), platformFont.family());
    if (platformFont.pointSizeF() > 0)
        QVERIFY(font.pointSizeF() <= platformFont.pointSizeF());
    else
        QVERIFY(font.pixelSize() <= platformFont.pixelSize());
    qInfo() << "platform font" << platformFont.toString() << "chosen" << font.toString();
}

void CaptionFitTest::everyCaptionFits_data()
{
    QTest::addColumn<bool>("inDialog");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("room");  // the widget's width, or up to the overlapping neighbour

    struct Row
    {
        const char* name;
        const char* text;
        int room;
    };
    const Row windowRows[] = {
        {"coordsPushButton", "Get Stations", 91},
        {"label", "Latitude:", 71},
        {"label_2", "Longitude:", 71},
        {"label_3", "Choose Weather Station:", 141},
        {"updateWeatherPushButton", "Get/Update Current Weather", 171},
        {"metricCheckBox", "Metric Units", 91},
        {"label_4", "Weather Variable:", 111},
        {"label_5", "Clock Variable:", 90},  // "Last Response:" at x 510
        {"label_6", "-->>VAR1", 110},        // the value boxes at x 510
        {"label_7", "-->>VAR2", 110},
        {"label_8", "-->>VAR3", 110},
        {"label_9", "-->>VAR4", 110},
        {"label_10", "-->>VAR5", 110},
        {"label_11", "Clock IP Addresses to Send Weather Data to:", 291},
        {"updateStocksPushButton", "Update Stocks Now", 131},
        {"label_12", "Ticker Symbols:", 101},
        {"label_13", "-->>VAR1", 110},
        {"label_14", "-->>VAR5", 110},
        {"label_15", "Clock Variable:", 90},
        {"label_16", "-->>VAR4", 110},
        {"label_17", "-->>VAR3", 110},
        {"label_18", "-->>VAR2", 110},
        {"label_19", "Last Response:", 111},
        {"label_20", "Last Response:", 111},
        {"label_21", "Clock IP Addresses to Send Stock Data to:", 271},
        {"setupPushButton", "Setup", 131},
    };
    const Row dialogRows[] = {
        {"label", "Weather Setup Parameters:", 301},
        {"weatherWeekendCheckBox", "Skip Weekends", 111},
        {"label_2", "Start Time:", 71},
        {"label_3", "Stop Time:", 71},
        {"label_4", "Update\nInterval:", 60},  // the spin box at x 470
        {"label_5", "Update\nInterval:", 60},
        {"label_6", "Stop Time:", 71},
        {"stockWeekendCheckBox", "Skip Weekends", 111},
        {"label_7", "Start Time:", 71},
        {"label_8", "Stock Setup Parameters:", 301},
        {"label_22", "Stock API Key:", 101},
        {"groupBox", "Ticker String Options:", 141},
        {"cbPrice", "Price", 111},
        {"cbTodaysVolume", "Todays Volume", 111},
        {"cbShortName", "Short Name", 111},
        {"cbTickerSymbol", "Ticker Symbol", 111},
        {"cbTodaysChange", "Todays Change", 111},
        {"label_9", "mins", 40},  // the dialog's right edge
        {"label_10", "mins", 40},
        {"", "OK", 191},
        {"", "Cancel", 191},
    };
    for (const Row& row : windowRows)
        QTest::addRow("window %s", row.name) << false << row.name << row.text << row.room;
    for (const Row& row : dialogRows)
        QTest::addRow("dialog %s %s", row.name, row.text) << true << row.name << row.text << row.room;
}

void CaptionFitTest::everyCaptionFits()
{
    QFETCH(bool, inDialog);
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(int, room);

    const QList<CaptionFit::Caption> captions =
        CaptionFit::measure(inDialog ? static_cast<QWidget*>(&dialog) : &window);
    const CaptionFit::Caption* found = nullptr;
    for (const CaptionFit::Caption& c : captions)
        if (c.widget->objectName() == name && c.text == text)
            found = &c;
    QVERIFY2(found, "caption not measured");

    const QFontMetrics fm(found->widget->font());
    int width = 0;
    for (const QString& line : text.split('\n'))
        width = qMax(width, fm.horizontalAdvance(line));
    const int lines = text.count('\n') + 1;
    QVERIFY(found->needed.width() >= width);
    QVERIFY(found->needed.height() >= fm.height() + (lines - 1) * fm.lineSpacing());
    QVERIFY2(found->textSpace.width() <= room, qPrintable(QString::number(found->textSpace.width())));
    QVERIFY2(found->fits(), qPrintable(QString("needs %1x%2, has %3x%4")
                                           .arg(found->needed.width())
                                           .arg(found->needed.height())
                                           .arg(found->textSpace.width())
                                           .arg(found->textSpace.height())));
    // The laid-out buttons stay inside their box.
    if (name.isEmpty())
        QVERIFY(dialogForm.buttonBox->rect().contains(found->widget->geometry()));
}

void CaptionFitTest::noCaptionLeftOut()
{
    QCOMPARE(CaptionFit::measure(&window).size(), 26);
    QCOMPARE(CaptionFit::measure(&dialog).size(), 21);
}

void CaptionFitTest::defaultFontCutsSomeCaption()
{
    // The measure can fail: the chosen size is the largest that fits, so one
    // half point more (or the platform default) cuts some caption.
    const QFont chosen = window.font();
    if (chosen.pointSizeF() <= 0 || chosen.pointSizeF() >= platformFont.pointSizeF())
        QSKIP("the platform default fits");
    QFont larger = chosen;
    larger.setPointSizeF(chosen.pointSizeF() + 0.5);
    window.setFont(larger);
    dialog.setFont(larger);
    QCoreApplication::processEvents();
    const QStringList cut = CaptionFit::overflows(&window) + CaptionFit::overflows(&dialog);
    window.setFont(chosen);
    dialog.setFont(chosen);
    QVERIFY(!cut.isEmpty());
    qInfo() << "at" << larger.pointSizeF() << "pt:" << cut;
}

void CaptionFitTest::openListShowsWholeItems()
{
    QComboBox* box = windowForm.weatherItemComboBox1;
    box->addItems(WeatherItems::names());
    box->showPopup();
    QTRY_VERIFY(box->view()->isVisible());
    const int room = box->view()->viewport()->width();
    for (int row = 0; row < box->count(); ++row) {
        const QModelIndex index = box->model()->index(row, 0);
        QVERIFY2(box->view()->sizeHintForIndex(index).width() <= room, qPrintable(box->itemText(row)));
    }
    box->hidePopup();
}

CORVELTA_TEST_MAIN(CaptionFitTest)
#include "tst_captionfit.moc"
