#include <QtTest>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>
#include <QXmlStreamReader>
#include <array>
#include <functional>
#include <memory>

#include "app/mainwindow.h"
#include "app/settingskeys.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/fixedclock.h"
#include "support/mainwindowprobe.h"
#include "support/settingsfiles.h"
#include "support/testmain.h"
#include "ui/setupdialog.h"

// The keys the dialog edits, written out by hand from the form's description:
// key, the window's member it holds, the widget that edits it. The helpers
// below go by the key table, so a key the dialog shows but does not take
// back, or shows in another widget, fails against this list.
const QVector<std::array<const char*, 3>> DialogKeys = {{"cbname", "cbName", "cbShortName"},
                                                        {"cbticker", "cbTicker", "cbTickerSymbol"},
                                                        {"cbprice", "cbPrice", "cbPrice"},
                                                        {"cbchange", "cbChange", "cbTodaysChange"},
                                                        {"cbvolume", "cbVolume", "cbTodaysVolume"},
                                                        {"stockapikey", "stockApiKey", "apiKeyLineEdit"},
                                                        {"weatherstart", "weatherStart", "weatherStartTimeEdit"},
                                                        {"weatherstop", "weatherStop", "weatherStopTimeEdit"},
                                                        {"weatherinterval", "weatherInterval", "weatherSpinBox"},
                                                        {"weatherweekend", "weatherWeekend", "weatherWeekendCheckBox"},
                                                        {"stockstart", "stockStart", "stockStartTimeEdit"},
                                                        {"stockstop", "stockStop", "stockStopTimeEdit"},
                                                        {"stockinterval", "stockInterval", "stockSpinBox"},
                                                        {"stockweekend", "stockWeekend", "stockWeekendCheckBox"}};

// The member name of a key the table shows in the dialog; empty if the list above lacks it.
QString memberOf(const SettingsKey& key)
{
    for (const auto& row : DialogKeys) {
        if (key.name == row[0] && key.dialogWidget == row[2])
            return row[1];
    }
    return {};
}

QVector<SettingsKey> dialogKeys()
{
    QVector<SettingsKey> keys;
    for (const SettingsKey& key : MainWindow::settingsKeys())
        if (!key.dialogWidget.isEmpty())
            keys << key;
    return keys;
}

// The members the dialog edits, by name.
QVariantMap windowMembers(MainWindow& w)
{
    QVariantMap members;
    for (const SettingsKey& key : dialogKeys())
        members[memberOf(key)] = key.save(w);
    return members;
}

void setWindowMembers(MainWindow& w, const QVariantMap& v)
{
    for (const SettingsKey& key : dialogKeys())
        key.load(w, v[memberOf(key)]);
}

namespace {

// Every value differs from its neighbours', so a widget wired to the wrong
// member shows up.
QVariantMap sampleMembers()
{
    return {{"cbName", true},
            {"cbTicker", false},
            {"cbPrice", true},
            {"cbChange", false},
            {"cbVolume", true},
            {"stockApiKey", "abc123"},
            {"weatherStart", QTime(7, 15)},
            {"weatherStop", QTime(18, 45)},
            {"weatherInterval", 15},
            {"weatherWeekend", true},
            {"stockStart", QTime(9, 30)},
            {"stockStop", QTime(16, 5)},
            {"stockInterval", 3},
            {"stockWeekend", false}};
}

// What the widgets show, under the names of the members they edit.
QVariantMap shown(SetupDialog& d)
{
    QVariantMap values;
    for (const SettingsKey& key : dialogKeys())
        values[memberOf(key)] = d.value(key.dialogWidget);
    return values;
}

// Changes every widget the way the user would.
void enter(SetupDialog& d, const QVariantMap& v)
{
    for (const SettingsKey& key : dialogKeys()) {
        const QVariant value = v[memberOf(key)];
        QWidget* widget = d.findChild<QWidget*>(key.dialogWidget);
        if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            if (box->isChecked() != value.toBool())
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Delete);
            QTest::keyClicks(edit, value.toString());
        } else if (auto* time = qobject_cast<QTimeEdit*>(widget)) {
            time->setTime(value.toTime());
        } else {
            QVERIFY2(qobject_cast<QSpinBox*>(widget), qPrintable(key.dialogWidget));
            qobject_cast<QSpinBox*>(widget)->setValue(value.toInt());
        }
    }
}

QVariantMap otherMembers()
{
    return {{"cbName", false},
            {"cbTicker", true},
            {"cbPrice", false},
            {"cbChange", true},
            {"cbVolume", false},
            {"stockApiKey", "new key"},
            {"weatherStart", QTime(6, 0)},
            {"weatherStop", QTime(20, 30)},
            {"weatherInterval", 42},
            {"weatherWeekend", false},
            {"stockStart", QTime(10, 0)},
            {"stockStop", QTime(15, 59)},
            {"stockInterval", 0},
            {"stockWeekend", true}};
}

void pressOk(SetupDialog& d)
{
    d.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
}

void pressCancel(SetupDialog& d)
{
    d.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Cancel)->click();
}

// Presses Setup and hands the open dialog to `act`, which closes it one way
// or another. Should `act` fail half-way, the dialog is cancelled, so the test
// never hangs on a modal loop.
bool runSetup(MainWindow& window, const std::function<void(SetupDialog&)>& act)
{
    bool reached = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<SetupDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        reached = true;
        act(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    poll.start();
    window.findChild<QPushButton*>("setupPushButton")->click();
    return reached;
}

}  // namespace

class SetupDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { static ClockPortLock lock; }

    void init()
    {
        prepareSettingsFile();
        window = std::make_unique<MainWindow>();
        MainWindowProbe::updateTimer(*window)->stop();
    }
    void cleanup() { window.reset(); }

    // ---- the form ----

    // Each widget of the form file (read from it, not copied here) is built
    // with its class, parent, place, caption and position among its siblings.
    void form_data()
    {
        addColumns<QString, QString, QString, QString, QRect, int>(
            {"name", "className", "parentName", "text", "rect", "order"});
        QFile file(CORVELTA_SOURCE_DIR "/ui/setupdialog.ui");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QStringList parents;
        QMap<QString, int> siblings;
        QString name, className, text, property;
        QRect rect;
        const auto addRow = [&] {
            if (!name.isEmpty() && parents.size() > 1)
                dataRow(qPrintable(name), name, className, parents[parents.size() - 2], text, rect,
                        siblings[parents[parents.size() - 2]]++);
            name.clear();
        };
        while (!xml.atEnd()) {
            xml.readNext();
            const QStringRef tag = xml.name();
            if (xml.isStartElement() && tag == "widget") {
                addRow();  // a widget's row is complete when its first child starts
                name = xml.attributes().value("name").toString();
                className = xml.attributes().value("class").toString();
                text.clear();
                rect = QRect();
                parents << name;
            } else if (xml.isStartElement() && tag == "property") {
                property = xml.attributes().value("name").toString();
            } else if (xml.isStartElement() && property == "geometry" && tag == "x") {
                rect.moveLeft(xml.readElementText().toInt());
            } else if (xml.isStartElement() && property == "geometry" && tag == "y") {
                rect.moveTop(xml.readElementText().toInt());
            } else if (xml.isStartElement() && property == "geometry" && tag == "width") {
                rect.setWidth(xml.readElementText().toInt());
            } else if (xml.isStartElement() && property == "geometry" && tag == "height") {
                rect.setHeight(xml.readElementText().toInt());
            } else if (xml.isStartElement() && (property == "text" || property == "title") && tag == "string") {
                text = xml.readElementText();
            } else if (xml.isEndElement() && tag == "widget") {
                addRow();
                parents.removeLast();
            }
        }
        QVERIFY(!xml.hasError());
    }
    void form()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, parentName);
        QFETCH(QString, text);
        QFETCH(QRect, rect);
        QFETCH(int, order);

        SetupDialog dialog(nullptr);
        QWidget* widget = dialog.findChild<QWidget*>(name);
        QVERIFY(widget);
        QCOMPARE(QString(widget->metaObject()->className()), className);
        QCOMPARE(widget->parent()->objectName(), parentName);
        QCOMPARE(widget->geometry(), rect);
        QWidgetList built;
        for (QObject* sibling : widget->parent()->children())
            if (sibling->isWidgetType())
                built << qobject_cast<QWidget*>(sibling);
        QCOMPARE(built.indexOf(widget), order);

        QString actualText;
        if (auto* label = qobject_cast<QLabel*>(widget))
            actualText = label->text();
        else if (auto* box = qobject_cast<QCheckBox*>(widget))
            actualText = box->text();
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            actualText = group->title();
        QCOMPARE(actualText, text);
    }

    void dialogWindowAndWidgetProperties()
    {
        SetupDialog dialog(nullptr);
        QCOMPARE(dialog.objectName(), QString("SetupDialog"));
        QCOMPARE(dialog.windowTitle(), QString("Dialog"));
        QCOMPARE(dialog.size(), QSize(560, 300));
        QCOMPARE(dialog.minimumSize(), QSize(560, 300));
        QCOMPARE(dialog.maximumSize(), QSize(560, 300));
        QVERIFY(!dialog.layout());

        auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox");
        QCOMPARE(buttons->orientation(), Qt::Horizontal);
        QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);

        auto* line = dialog.findChild<QFrame*>("line");
        QCOMPARE(line->lineWidth(), 3);
        QCOMPARE(line->frameShape(), QFrame::HLine);
        QCOMPARE(line->frameShadow(), QFrame::Sunken);

        for (const char* name : {"weatherSpinBox", "stockSpinBox"}) {
            auto* spin = dialog.findChild<QSpinBox*>(name);
            QCOMPARE(spin->minimum(), 0);
            QCOMPARE(spin->maximum(), 99);
            QCOMPARE(spin->singleStep(), 1);
        }
        auto* key = dialog.findChild<QLineEdit*>("apiKeyLineEdit");
        QCOMPARE(key->echoMode(), QLineEdit::Normal);
        QVERIFY(key->inputMask().isEmpty());
    }

    // ---- running it from the main window ----

    void showsTheMembersInAFreshModalDialog()
    {
        setWindowMembers(*window, sampleMembers());
        QVariantMap seen;
        QVERIFY(runSetup(*window, [&](SetupDialog& d) {
            QCOMPARE(d.parentWidget(), window.get());
            QVERIFY(d.isModal());
            seen = shown(d);
            enter(d, otherMembers());
            pressOk(d);
        }));
        compareValues(seen, sampleMembers());
        QVERIFY(window->findChildren<SetupDialog*>().isEmpty());

        // The next click shows what the last OK stored.
        QVERIFY(runSetup(*window, [&](SetupDialog& d) {
            seen = shown(d);
            pressCancel(d);
        }));
        compareValues(seen, otherMembers());
    }

    void dismissingChangesNothing_data()
    {
        QTest::addColumn<int>("how");
        dataRow("Cancel", 0);
        dataRow("Escape", 1);
        dataRow("close button", 2);
    }
    void dismissingChangesNothing()
    {
        QFETCH(int, how);
        setWindowMembers(*window, sampleMembers());
        QVERIFY(runSetup(*window, [&](SetupDialog& d) {
            enter(d, otherMembers());
            compareValues(shown(d), otherMembers());
            if (how == 0)
                pressCancel(d);
            else if (how == 1)
                QTest::keyClick(&d, Qt::Key_Escape);
            else
                d.close();
            QVERIFY(!d.isVisible());
        }));
        compareValues(windowMembers(*window), sampleMembers());
    }

    void okWithoutTouchingKeepsEverything_data()
    {
        QTest::addColumn<QVariantMap>("members");
        dataRow("sample", sampleMembers());
        QVariantMap low = sampleMembers();
        low["weatherInterval"] = 0;
        low["stockInterval"] = 99;
        low["weatherStart"] = QTime(0, 0);
        low["stockStop"] = QTime(23, 59);
        low["stockApiKey"] = QString();
        dataRow("interval limits, day limits, no key", low);
        QVariantMap inverted = otherMembers();
        dataRow("other", inverted);
    }
    void okWithoutTouchingKeepsEverything()
    {
        QFETCH(QVariantMap, members);
        setWindowMembers(*window, members);
        QVERIFY(runSetup(*window, [&](SetupDialog& d) { pressOk(d); }));
        compareValues(windowMembers(*window), members);
    }

    void okTakesEveryWidget()
    {
        QStringList listed;
        for (const SettingsKey& key : dialogKeys())
            listed << key.name + "/" + memberOf(key);
        QCOMPARE(listed.size(), DialogKeys.size());
        QVERIFY2(!listed.join(",").contains("/,") && !listed.join(",").endsWith("/"), qPrintable(listed.join(",")));

        setWindowMembers(*window, sampleMembers());
        QVERIFY(runSetup(*window, [&](SetupDialog& d) {
            enter(d, otherMembers());
            pressOk(d);
        }));
        compareValues(windowMembers(*window), otherMembers());
    }

    void intervalAbove99_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("stored");
        dataRow("OK", true, 99);
        dataRow("Cancel", false, 120);
    }
    void intervalAbove99()
    {
        QFETCH(bool, ok);
        QFETCH(int, stored);
        QVariantMap members = sampleMembers();
        members["weatherInterval"] = 120;
        members["stockInterval"] = 120;
        setWindowMembers(*window, members);
        int shownInterval = -1;
        QVERIFY(runSetup(*window, [&](SetupDialog& d) {
            shownInterval = d.findChild<QSpinBox*>("weatherSpinBox")->value();
            ok ? pressOk(d) : pressCancel(d);
        }));
        QCOMPARE(shownInterval, 99);
        QCOMPARE(windowMembers(*window)["weatherInterval"].toInt(), stored);
        QCOMPARE(windowMembers(*window)["stockInterval"].toInt(), stored);
    }

    void eachTickerOptionOnItsOwn_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("member");
        QTest::addColumn<bool>("startingFrom");

        const QList<QPair<const char*, const char*>> options = {{"cbShortName", "cbName"},
                                                                {"cbTickerSymbol", "cbTicker"},
                                                                {"cbPrice", "cbPrice"},
                                                                {"cbTodaysChange", "cbChange"},
                                                                {"cbTodaysVolume", "cbVolume"}};
        for (const auto& option : options) {
            QTest::addRow("clearing only %s", option.first) << option.first << option.second << true;
            QTest::addRow("setting only %s", option.first) << option.first << option.second << false;
        }
    }
    void eachTickerOptionOnItsOwn()
    {
        QFETCH(QString, box);
        QFETCH(QString, member);
        QFETCH(bool, startingFrom);

        QVariantMap members = sampleMembers();
        for (const char* m : {"cbName", "cbTicker", "cbPrice", "cbChange", "cbVolume"})
            members[m] = startingFrom;
        setWindowMembers(*window, members);
        QVERIFY(runSetup(*window, [&](SetupDialog& d) {
            QCheckBox* option = d.findChild<QCheckBox*>(box);
            QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(5, option->height() / 2));
            pressOk(d);
        }));
        members[member] = !startingFrom;
        compareValues(windowMembers(*window), members);
    }

    void apiKeyKeepsItsBlanks()
    {
        QVERIFY(runSetup(*window, [&](SetupDialog& d) {
            QTest::keyClicks(d.findChild<QLineEdit*>("apiKeyLineEdit"), "  spaced key  ");
            pressOk(d);
        }));
        QCOMPARE(windowMembers(*window)["stockApiKey"].toString(), QString("  spaced key  "));
    }

    void okWritesTheFileAtOnce()
    {
        window->close();  // a settings file of the old values to compare with
        window = std::make_unique<MainWindow>();
        MainWindowProbe::updateTimer(*window)->stop();

        QStringList logged;
        connect(window.get(), &MainWindow::OnSendToLogfile, this, [&](const QString& line) { logged << line; });
        QVERIFY(runSetup(*window, [&](SetupDialog& d) {
            enter(d, otherMembers());
            pressOk(d);
        }));
        QCOMPARE(logged, QStringList{"Savings Settings, File=" + settingsFilePath()});
        QSettings settings(settingsFilePath(), QSettings::IniFormat);
        const QVariantMap expected = otherMembers();
        for (const auto& row : DialogKeys)
            QCOMPARE(settings.value(row[0]).toString(), expected[row[1]].toString());
    }

    void changeTakesEffectAtTheNextTick()
    {
        FixedClock clock(QDateTime(QDate(2026, 3, 4), QTime(9, 0, 1)));  // a Wednesday
        QStringList updates;
        connect(window.get(), &MainWindow::OnSendToLogfile, this, [&](const QString& line) {
            if (line.startsWith("Update Weather: "))
                updates << line;
        });
        for (int i = 0; i < 200; ++i) {
            MainWindowProbe::tick(*window);
            clock.current = clock.current.addSecs(1);
        }
        QCOMPARE(updates, QStringList{"Update Weather: 03/04/26 09:00:01"});
        const int counter = MainWindowProbe::weatherCounter(*window);
        const int stockCounter = MainWindowProbe::stockCounter(*window);

        QVERIFY(runSetup(*window, [&](SetupDialog& d) {
            d.findChild<QSpinBox*>("weatherSpinBox")->setValue(2);
            pressOk(d);
        }));
        QCOMPARE(MainWindowProbe::weatherCounter(*window), counter);  // not reset
        QCOMPARE(MainWindowProbe::stockCounter(*window), stockCounter);

        MainWindowProbe::tick(*window);
        QCOMPARE(updates.size(), 2);
        QCOMPARE(updates.last(), QString("Update Weather: 03/04/26 09:03:21"));
    }

private:
    std::unique_ptr<MainWindow> window;
};

CORVELTA_TEST_MAIN(SetupDialogTest)
#include "tst_setupdialog.moc"
