#include <QtTest>

#include "support/testmain.h"
#include "weather/weatherformat.h"

// Raw observation numbers to clock texts: truncation, never rounding; the
// Fahrenheit and mph conversions in double precision from the float read.
class WeatherFormatTest : public QObject
{
    Q_OBJECT

private slots:
    void temperature_data();
    void temperature();
    void humidity_data();
    void humidity();
    void pressure_data();
    void pressure();
    void compassWord_data();
    void compassWord();
    void wind_data();
    void wind();
    void windWithWord();
};

void WeatherFormatTest::temperature_data()
{
    addColumns<QString, QString, QString>({"raw", "metric", "us"});  // raw: "value|unit stated"

    dataRow("12.2", "12.2", "12 C", "53 F");
    dataRow("-3.9", "-3.9", "-3 C", "24 F");
    dataRow("-0.4 truncates to 0", "-0.4", "0 C", "31 F");
    dataRow("-40 is the same in both", "-40", "-40 C", "-40 F");
    dataRow("null", "null", "0 C", "32 F");
    dataRow("empty", "", "0 C", "32 F");
    dataRow("not a number", "warm", "0 C", "32 F");
    dataRow("line break after the number", "27.8\n", "27 C", "82 F");
    dataRow("surrounding blanks", "  5.5  ", "5 C", "41 F");
    dataRow("29.99 not rounded", "29.99", "29 C", "85 F");
    dataRow("-17.78 is just above 0 F", "-17.77", "-17 C", "0 F");
    dataRow("-17.8 is just below 0 F, truncated to 0", "-17.8", "-17 C", "0 F");
    dataRow("-18.4 gives -1 F", "-18.4", "-18 C", "-1 F");
    // 37.0f is exact; 37.0 * 9 / 5 + 32 = 98.6 in double.
    dataRow("37", "37", "37 C", "98 F");
    // 0.1f is 0.100000001490116...: 32.18000000268 in double, 32 either way;
    // 100.0 * 9 / 5 + 32 = 212 exactly.
    dataRow("100", "100", "100 C", "212 F");
    // 5.0f/9: a float that in double gives 32.99999... so truncates to 32 F,
    // while the same arithmetic in float would round up to 33.
    dataRow("float read, double arithmetic", "0.5555555", "0 C", "32 F");
    dataRow("comma is no decimal separator", "12,5", "0 C", "32 F");
    dataRow("exponent", "1.25e1", "12 C", "54 F");
    for (int celsius = -40; celsius <= 45; ++celsius) {  // each whole degree sent as one-decimal degF
        const QString raw = QString::number(celsius * 1.8 + 32, 'f', 1);
        QTest::addRow("%s F", qPrintable(raw))
            << raw + "|degF" << QString("%1 C").arg(celsius) << QString("%1 F").arg(qint64(raw.toFloat()));
    }
}

void WeatherFormatTest::temperature()
{
    QFETCH(QString, raw);
    const QString unit = raw.section('|', 1);
    QTEST(WeatherFormat::temperature(false, raw.section('|', 0, 0), unit), "metric");
    QTEST(WeatherFormat::temperature(true, raw.section('|', 0, 0), unit), "us");
}

void WeatherFormatTest::humidity_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("text");
    dataRow("65.97", "65.97", "65%");
    dataRow("100", "100", "100%");
    dataRow("99.999", "99.999", "99%");
    dataRow("null", "null", "0%");
    dataRow("empty", "", "0%");
    dataRow("negative fraction", "-0.9", "0%");
}

void WeatherFormatTest::humidity()
{
    QFETCH(QString, raw);
    QTEST(WeatherFormat::humidity(raw), "text");
}

void WeatherFormatTest::pressure_data()
{
    addColumns<QString, QString, QString>({"raw", "metric", "us"});
    dataRow("standard atmosphere", "101325", "1013 hPa", "29.92 inHg");
    dataRow("altimeter step rounds up, hPa truncates", "101320", "1013 hPa", "29.92 inHg");
    dataRow("101660", "101660", "1016 hPa", "30.02 inHg");
    dataRow("not a number", "null", "0 hPa", "0.00 inHg");
    dataRow("beyond any number", "1e400", "9000000000000000000 hPa", "0.00 inHg");
}

void WeatherFormatTest::pressure()
{
    QFETCH(QString, raw);
    QTEST(WeatherFormat::pressure(false, raw), "metric");
    QTEST(WeatherFormat::pressure(true, raw), "us");
}

void WeatherFormatTest::compassWord_data()
{
    QTest::addColumn<float>("degrees");
    QTest::addColumn<QString>("word");

    dataRow("0", 0.0f, "N");
    dataRow("22.49", 22.49f, "N");
    dataRow("22.5", 22.5f, "NE");
    dataRow("67.49", 67.49f, "NE");
    dataRow("67.5", 67.5f, "E");
    dataRow("112.49", 112.49f, "E");
    dataRow("112.5", 112.5f, "SE");
    dataRow("157.49", 157.49f, "SE");
    dataRow("157.5", 157.5f, "S");
    dataRow("202.49", 202.49f, "S");
    dataRow("202.5", 202.5f, "SW");
    dataRow("247.49", 247.49f, "SW");
    dataRow("247.5", 247.5f, "W");
    dataRow("292.49", 292.49f, "W");
    dataRow("292.5", 292.5f, "NW");
    dataRow("337.49", 337.49f, "NW");
    dataRow("337.5", 337.5f, "N");
    dataRow("360", 360.0f, "N");
    dataRow("just above 360", 360.00003f, "");
    dataRow("361", 361.0f, "");
    dataRow("-1", -1.0f, "");
    dataRow("just below 0", -0.0001f, "");
    dataRow("minus zero", -0.0f, "N");
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << "";
    QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << "";
}

void WeatherFormatTest::compassWord()
{
    QFETCH(float, degrees);
    QTEST(WeatherFormat::compassWord(degrees), "word");
}

void WeatherFormatTest::wind_data()
{
    addColumns<QString, QString, QString, QString>({"speed", "direction", "metric", "us"});

    dataRow("340 at 11.16", "11.16", "340", "N-11 kmh", "N-6 mph");
    dataRow("direction read from text, bound 22.5", "5.4", "22.5", "NE-5 kmh", "NE-3 mph");
    dataRow("direction 22.49", "5.4", "22.49", "N-5 kmh", "N-3 mph");
    dataRow("direction 337.49", "20", "337.49", "NW-20 kmh", "NW-12 mph");
    // Without a compass word, the speed and unit alone (no hyphen
    // that reads as a minus sign).
    dataRow("361 leaves the word empty", "11.16", "361", "11 kmh", "6 mph");
    dataRow("-1 leaves the word empty", "11.16", "-1", "11 kmh", "6 mph");
    dataRow("null direction reads as 0", "11.16", "null", "N-11 kmh", "N-6 mph");
    dataRow("null speed", "null", "170", "S-0 kmh", "S-0 mph");
    dataRow("both empty", "", "", "N-0 kmh", "N-0 mph");
    dataRow("negative speed", "-5", "0", "N--5 kmh", "N--3 mph");
    // 1.60935 km/h x 0.62137 = 0.99999... mph: truncated, not rounded.
    dataRow("just under one mph", "1.6093", "90", "E-1 kmh", "E-0 mph");
    // 16.1f x 0.62137 = 10.0040... in double.
    dataRow("16.1 km/h", "16.1", "180", "S-16 kmh", "S-10 mph");
    dataRow("gale", "100.08", "247.5", "W-100 kmh", "W-62 mph");
}

void WeatherFormatTest::wind()
{
    QFETCH(QString, speed);
    QFETCH(QString, direction);
    QTEST(WeatherFormat::wind(false, speed, direction), "metric");
    QTEST(WeatherFormat::wind(true, speed, direction), "us");
}

void WeatherFormatTest::windWithWord()
{
    QCOMPARE(WeatherFormat::windWithWord(false, "9.36", ""), QString("9 kmh"));
    QCOMPARE(WeatherFormat::windWithWord(true, "-8.1", ""), QString("-5 mph"));
    QCOMPARE(WeatherFormat::windWithWord(true, "9.36", "SE"), QString("SE-5 mph"));
    // A word that looks like a placeholder is taken as it stands.
    QCOMPARE(WeatherFormat::windWithWord(false, "3", "%2"), QString("%2-3 kmh"));
}

CORVELTA_TEST_APPLESS_MAIN(WeatherFormatTest)
#include "tst_weatherformat.moc"
