#include <QtTest>
#include <climits>

#include "replies/jsonextract.h"
#include "replies/jsonscan.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

// The text-search reading of the services' replies: what value and which
// resume position each layout gives, down to the character.
class JsonExtractTest : public QObject
{
    Q_OBJECT

private slots:
    void extractValue_data();
    void extractValue();
    void findKeyColon_data();
    void findKeyColon();
    void extractField_data();
    void extractField();
    void realisticReplies_data();
    void realisticReplies();
    void hostileInputStaysInside_data();
    void hostileInputStaysInside();
    void megabytesOfText();
    void scanValueEnd_data();
    void scanValueEnd();
    void scanMembers();
};

void JsonExtractTest::extractValue_data()
{
    addColumns<QString, int, QString, QString, int>({"text", "position", "key", "value", "resume"});

    // Positions are counted by hand; the comment under each row marks the colon.
    dataRow("string after colon and space", R"({"a": "xyz", "b": 1})", 4, "a", "xyz", 10);
    dataRow("string right after colon", R"({"a":"xyz","b":1})", 4, "a", "xyz", 9);
    dataRow("bare number before comma", R"({"n": 12.5, "m": 2})", 4, "n", "12.5", 10);
    dataRow("bare null", R"({"n": null, "m": 2})", 4, "n", "null", 10);
    dataRow("negative number without space", R"({"n":-0.4,"m":2})", 4, "n", "-0.4", 9);
    dataRow("last member keeps its line break", "{\"o\": {\n  \"v\": 3\n  },\n  \"w\": 1}", 13, "v", "3\n", 20);
    dataRow("tab and bracket stay in a bare value", "{\"a\": [1,\t2]}", 4, "a", "[1", 8);
    dataRow("bare value with no comma after it runs to the end", R"({"a": 1, "z": 7 })", 12, "z", "7", -1);
    dataRow("empty string after space", R"({"e": "", "f": "g"})", 4, "e", "", 7);
    dataRow("empty string without space takes the text after it", R"({"e":"","f":"g"})", 4, "e", ",", 8);
    dataRow("escaped quotation marks", R"({"s": "say \"hi\" now", "t": 1})", 4, "s", R"(say "hi" now)", 21);
    dataRow("escaped mark at the end runs on", R"({"s": "end\"", "t": "u"})", 4, "s", R"(end"", )", 15);
    dataRow("braces and backslashes dropped from a string", R"({"s": "a}b\\c"})", 4, "s", "abc", 13);
    dataRow("unclosed string runs to the end", R"({"s": "abc})", 4, "s", "abc", -1);
    dataRow("object right after colon", R"({"o":{"v": 1}})", 4, "o", "", 4);
    dataRow("array right after colon", R"({"a":[1, 2]})", 4, "a", "", 4);
    dataRow("object after a space is a bare value", R"({"o": {"v": 1, "w": 2}})", 4, "o", R"({"v":1)", 13);
    dataRow("two spaces before a string make a bare value", R"({"k":  "x"})", 4, "k", R"("x")", -1);
    dataRow("absent key, reply opens with a brace", R"({"a": "b", "c": 1})", -1, "c", "", 14);
    dataRow("absent key, reply opens with a quote", R"("a": "b", "c": 1)", -1, "c", "a", 2);
    dataRow("absent key, reply of bare text", "error, try later", -1, "error, try later", "error", 5);
    dataRow("empty text", "", -1, "", "", -1);
    dataRow("empty text, position 0", "", 0, "", "", -1);
    dataRow("text ends right after the colon", R"("k":)", 3, "k", "", -1);
    dataRow("colon is the last character after a space", R"("k": )", 3, "k", "", -1);
    dataRow("position beyond the text", R"("k": 1)", 100, ": 1", "", -1);
    dataRow("position before the text counts from its end", R"({"a": 1, "b": 2})", -3, "b", "", -1);
    dataRow("position at the last character", R"({"a": 1})", 7, "a", "", -1);
    dataRow("key name is what stands between the last two marks", R"({"x": {"inner": "v", "value": 5, "q": 1}})", 28,
            "value", "5", 31);
    dataRow("non-ASCII string", QString::fromUtf8(R"({"n": "Zürich ☂", "m": 1})"), 4, "n",
            QString::fromUtf8("Zürich ☂"), 15);
}

void JsonExtractTest::extractValue()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    QString key = "stale";
    QString value = "stale";
    int resume = -99;
    JsonText::extractValue(text, key, value, position, resume);
    QTEST(key, "key");
    QTEST(value, "value");
    QTEST(resume, "resume");
}

void JsonExtractTest::findKeyColon_data()
{
    addColumns<QString, QString, int, QString, int>({"text", "quotedKey", "from", "innerKey", "colon"});

    const QString nested = R"({"t": {"u": "x:y", "value": 3}, "d": {"value": 4}})";
    dataRow("plain key", R"({"a": 1})", "\"a\"", 0, "", 4);
    dataRow("key is matched with its quotes", R"({"ab": 1, "b": 2})", "\"b\"", 0, "", 13);
    dataRow("case matters", R"({"A": 1, "a": 2})", "\"a\"", 0, "", 12);
    dataRow("inner key after the key", nested, "\"t\"", 0, "\"value\"", 26);
    dataRow("inner key found past the object", nested, "\"d\"", 0, "\"value\"", 45);
    dataRow("search from past the first occurrence", R"({"a": 1, "a": 2})", "\"a\"", 2, "", 12);
    dataRow("from exactly at the key", R"({"a": 1, "a": 2})", "\"a\"", 1, "", 4);
    dataRow("absent key", R"({"a": 1})", "\"b\"", 0, "", -1);
    dataRow("absent key, text ends with a colon", R"({"a": 1, "z":)", "\"b\"", 0, "", 12);
    dataRow("absent inner key", R"({"t": {"u": 1}})", "\"t\"", 0, "\"value\"", -1);
    dataRow("negative start counts from the end", R"({"a": 1, "a": 2})", "\"a\"", -7, "", 12);
    dataRow("start beyond the text", R"({"a": 1})", "\"a\"", 50, "", -1);
    dataRow("empty text", "", "\"a\"", 0, "\"value\"", -1);
}

void JsonExtractTest::findKeyColon()
{
    QFETCH(QString, text);
    QFETCH(QString, quotedKey);
    QFETCH(int, from);
    QFETCH(QString, innerKey);
    QTEST(JsonText::findKeyColon(text, quotedKey, from, innerKey), "colon");
}

void JsonExtractTest::extractField_data()
{
    addColumns<QString, QString, int, QString, QString, int, bool>(
        {"text", "quotedKey", "from", "innerKey", "value", "resume", "found"});

    const QString m = R"({"t": {"unitCode": "u:c", "value": -2.5, "q": "V"}, "h": {"value": null}})";
    dataRow("measurement value", m, "\"t\"", 0, "\"value\"", "-2.5", 39, true);
    dataRow("null measurement", m, "\"h\"", 0, "\"value\"", "null", -1, true);
    dataRow("plain string", m, "\"unitCode\"", 0, "", "u:c", 23, true);
    dataRow("key absent", m, "\"x\"", 0, "", "", 65, false);
    dataRow("inner key absent", R"({"t": {"u": 1}})", "\"t\"", 0, "\"value\"", "", 10, false);
    dataRow("key only before the start", m, "\"t\"", 5, "\"value\"", "", 65, false);
}

void JsonExtractTest::extractField()
{
    QFETCH(QString, text);
    QFETCH(QString, quotedKey);
    QFETCH(int, from);
    QFETCH(QString, innerKey);
    const JsonText::Field field = JsonText::extractField(text, quotedKey, from, innerKey);
    QTEST(field.value, "value");
    QTEST(field.resumePosition, "resume");
    QTEST(field.keyFound, "found");

    // The helper is exactly the callers' idiom followed by one extraction.
    QString key, value;
    int resume = -99;
    JsonText::extractValue(text, key, value, JsonText::findKeyColon(text, quotedKey, from, innerKey), resume);
    QCOMPARE(field.key, key);
    QCOMPARE(field.value, value);
    QCOMPARE(field.resumePosition, resume);
}

// Replies as the weather service lays them out, read the way the feed reads
// them: the point's keys each from the start, the observation's as a chain.
void JsonExtractTest::realisticReplies_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("chained");
    QTest::addColumn<QStringList>("keys");  // "key" or "key/inner"
    QTest::addColumn<QStringList>("values");

    const QStringList observationKeys = {
        "timestamp",           "textDescription", "temperature/value",     "dewpoint/value",
        "windDirection/value", "windSpeed/value", "relativeHumidity/value"};
    dataRow("point", "point.json", false, QStringList{"gridId", "gridX", "gridY", "cwa"},
            QStringList{"OAX", "58", "55", "OAX"});
    dataRow("observation", "observation.json", true, observationKeys,
            QStringList{"2024-06-12T18:54:00+00:00", "Mostly Cloudy", "12.2", "3.9", "340", "11.16", "54.87"});
    dataRow("cold observation", "observation-cold.json", true, observationKeys,
            QStringList{"2024-06-12T18:54:00+00:00", "Light Snow", "-3.9", "-10.6", "22.5", "5.4", "65.97"});
    dataRow("nulls read as the text null", "observation-partial.json", true, observationKeys,
            QStringList{"2024-06-12T18:54:00+00:00", "Clear", "null", "3.9", "170", "null", "54.87"});
    dataRow("empty description", "observation-all-null.json", true, observationKeys,
            QStringList{"2024-06-12T18:54:00+00:00", "", "null", "null", "null", "null", "null"});
    dataRow("station list, first station", "stations.json", true,
            QStringList{"stationIdentifier", "name", "stationIdentifier", "name"},
            QStringList{"KLNK", "Lincoln, Lincoln Municipal Airport", "KAFK", "Nebraska City Municipal Airport"});
}

void JsonExtractTest::realisticReplies()
{
    QFETCH(QString, file);
    QFETCH(bool, chained);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, values);
    QFile reply(testDataPath("weather/" + file));
    QVERIFY(reply.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(reply.readAll());

    int from = 0;
    for (int k = 0; k < keys.size(); ++k) {
        const QStringList parts = keys[k].split('/');
        const QString inner = parts.size() > 1 ? "\"" + parts[1] + "\"" : QString();
        const JsonText::Field field = JsonText::extractField(text, "\"" + parts[0] + "\"", from, inner);
        QVERIFY2(field.keyFound, qPrintable(keys[k]));
        QCOMPARE(field.value, values[k]);
        QCOMPARE(field.key, parts.last());
        if (chained)
            from = field.resumePosition;
    }
}

// Texts cut short or laid out wrongly anywhere: every position of every
// prefix must give some answer without reading outside the text.
void JsonExtractTest::hostileInputStaysInside_data()
{
    QTest::addColumn<QString>("text");
    dataRow("string member", R"({"a": "x\"y}z"})");
    dataRow("nested", "{\"t\": {\"value\": null\n}, \"s\": [\"a\", {\"b\": \"\\\\\"}]}");
    dataRow("quotes only", R"("""""":":"\"")");
    dataRow("backslashes", R"(\\\"\\":\"\\)");
}

void JsonExtractTest::hostileInputStaysInside()
{
    QFETCH(QString, text);
    for (int length = 0; length <= text.size(); ++length) {
        const QString prefix = text.left(length);
        QList<int> positions{INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX};
        for (int position = -length - 3; position <= length + 3; ++position)
            positions.append(position);
        for (int position : positions) {
            QString key, value;
            int resume = -99;
            JsonText::extractValue(prefix, key, value, position, resume);
            QVERIFY(resume >= -1 && resume <= prefix.size());
            QVERIFY(value.size() <= prefix.size());
            QVERIFY(key.size() <= prefix.size());
        }
        JsonText::extractField(prefix, "\"a\"", -1, "\"value\"");
        JsonText::extractField(prefix, "\"t\"", 0, "\"value\"");
    }
}

void JsonExtractTest::megabytesOfText()
{
    // A runaway reply: megabytes with no comma and no closing mark.
    QString text = "{\"k\": \"" + QString(4 * 1024 * 1024, QLatin1Char('x'));
    QString key, value;
    int resume = 0;
    JsonText::extractValue(text, key, value, 5, resume);
    QCOMPARE(key, QString("k"));
    QCOMPARE(value.size(), 4 * 1024 * 1024);
    QCOMPARE(resume, -1);

    text = "{\"k\": " + QString(4 * 1024 * 1024, QLatin1Char('7'));
    JsonText::extractValue(text, key, value, 5, resume);
    QCOMPARE(value.size(), 4 * 1024 * 1024);
    QCOMPARE(resume, -1);
    QCOMPARE(JsonText::findKeyColon(text, "\"absent\"", 0, "\"value\""), -1);
}

// The structural scan that bounds a record by its own braces: where each
// value ends, strings (with their escapes) skipped whole.
void JsonExtractTest::scanValueEnd_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");

    dataRow("nested object", R"({"a":{"b":[1,{"c":2}]},"d":3})", 0, 29);
    dataRow("braces and brackets inside strings", R"({"a":"}]{[","b":1} x)", 0, 18);
    dataRow("escaped quotation mark and backslash", R"({"a":"x\"}\\"} x)", 0, 14);
    dataRow("bare number", R"(-12.5e3, 4)", 0, 7);
    dataRow("string", R"("a\"b" tail)", 0, 6);
    dataRow("unclosed object", R"({"a":[1,2})", 0, -1);
    dataRow("unclosed string", R"({"a":"abc})", 0, -1);
    dataRow("mismatched closer", R"({"a":[1}])", 0, -1);
    dataRow("no value at a comma", R"(, 1)", 0, -1);
    dataRow("outside the text", R"({})", 5, -1);
}

void JsonExtractTest::scanValueEnd()
{
    QFETCH(QString, text);
    QFETCH(int, start);
    QTEST(JsonScan::valueEnd(text, start), "end");
}

void JsonExtractTest::scanMembers()
{
    // Only the object's own top-level members; a nested object's keys and a
    // key inside a string are not members.
    const QString text =
        QStringLiteral(R"({ "id" : "a\"1", "sub": {"id": "x"}, "refs": [{"sent": "1"}], "n": null } tail)");
    QStringList keys;
    QStringList values;
    const int end = JsonScan::forEachMember(text, 0, [&](const JsonScan::Member& member) {
        keys << member.key(text).toString();
        values << JsonScan::valueText(member.value(text));
        return true;
    });
    QCOMPARE(end, text.indexOf(QLatin1String(" tail")));
    QCOMPARE(keys, QStringList({"id", "sub", "refs", "n"}));
    QCOMPARE(values.first(), QStringLiteral("a\"1"));
    QCOMPARE(values.last(), QStringLiteral("null"));
    JsonScan::Member sent;
    QVERIFY(!JsonScan::findMember(text, 0, u"sent", sent));
    QVERIFY(JsonScan::findMember(text, 0, u"n", sent));
    // A broken object gives -1 after the members that were whole.
    int visited = 0;
    QCOMPARE(JsonScan::forEachMember(QStringLiteral(R"({"a":1,"b":})"), 0,
                                     [&](const JsonScan::Member&) { return ++visited; }),
             -1);
    QCOMPARE(visited, 1);
}

CORVELTA_TEST_APPLESS_MAIN(JsonExtractTest)
#include "tst_jsonextract.moc"
