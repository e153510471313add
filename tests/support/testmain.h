#pragma once

// The main() of every test executable: Qt Test's own main, plus a message
// handler that fails the run on any Qt warning, critical or fatal message the
// test did not declare as expected. The handler judges a message by its type,
// not by words in the output, and stays installed until the process ends, so
// a warning printed while globals are destroyed fails the run too.

#include <QApplication>
#include <QRegularExpression>
#include <QtTest>
#include <initializer_list>

namespace TestMessages {

// Runs the test object as QTest::qExec would, under the strict handler.
int run(QObject* testObject, int argc, char** argv);

// For the rest of the run, a warning matching `pattern` is expected and
// passed on as a warning without failing the run.
void expectWarning(const QRegularExpression& pattern);

// Warnings and worse that failed the run so far.
int unexpectedWarnings();

// Installs the handler for a program that does not run a test object (its
// own main): from now until the process ends, a warning fails the process.
void installForProcess();

}  // namespace TestMessages

// Declares the columns of a data table in one line, their types in order:
// addColumns<QString, int>({"text", "position"}).
template <typename... Types>
void addColumns(std::initializer_list<const char*> names)
{
    Q_ASSERT(names.size() == sizeof...(Types));
    auto name = names.begin();
    (QTest::addColumn<Types>(*name++), ...);
}

// One named row of a data table, its values in column order:
// dataRow("no wind", "0", "Calm"). One call, so the layout tool keeps a row
// on a line of its own as a table reads.
template <typename... Values>
void dataRow(const char* name, const Values&... values)
{
    (QTest::newRow(name) << ... << values);
}

// A main with an application object of the given class; `Setup` runs on it.
#define CORVELTA_TEST_MAIN_WITH(TestObject, Application, Setup) \
    int main(int argc, char** argv)                             \
    {                                                           \
        QTest::Internal::callInitMain<TestObject>();            \
        Application app(argc, argv);                            \
        Setup;                                                  \
        TestObject tc;                                          \
        QTEST_SET_MAIN_SOURCE_PATH                              \
        return TestMessages::run(&tc, argc, argv);              \
    }

#define CORVELTA_TEST_MAIN(TestObject) \
    CORVELTA_TEST_MAIN_WITH(TestObject, QApplication, app.setAttribute(Qt::AA_Use96Dpi, true))
#define CORVELTA_TEST_GUILESS_MAIN(TestObject) CORVELTA_TEST_MAIN_WITH(TestObject, QCoreApplication, )

#define CORVELTA_TEST_APPLESS_MAIN(TestObject)     \
    int main(int argc, char** argv)                \
    {                                              \
        TestObject tc;                             \
        QTEST_SET_MAIN_SOURCE_PATH                 \
        return TestMessages::run(&tc, argc, argv); \
    }
