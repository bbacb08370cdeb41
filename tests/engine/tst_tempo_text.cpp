// Reading the tempo box's text as a tempo, and the beat period of a tempo.
#include "system/runtime_error.h"
#include "tempo_text.h"

#include <QTest>

#include <optional>

using OptionalTempo = std::optional<qint32>; // empty: the reading overflows
Q_DECLARE_METATYPE(OptionalTempo)

class TestTempoText : public QObject
{
    Q_OBJECT

private slots:
    void tempoFromText_data();
    void tempoFromText();
    void beatPeriodMs_data();
    void beatPeriodMs();
};

void TestTempoText::tempoFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<OptionalTempo>("tempo");

    // Texts that read as 0, so a start resets the box to 120.
    QTest::newRow("empty") << "" << OptionalTempo(0);
    QTest::newRow("letters") << "abc" << OptionalTempo(0);
    QTest::newRow("zero") << "0" << OptionalTempo(0);
    QTest::newRow("0.4 rounds to 0") << "0.4" << OptionalTempo(0);
    QTest::newRow("0.5 rounds to even 0") << "0.5" << OptionalTempo(0);
    QTest::newRow("-0.5 rounds to 0") << "-0.5" << OptionalTempo(0);
    QTest::newRow("only blanks") << " \t\n " << OptionalTempo(0);
    QTest::newRow("lone sign") << "-" << OptionalTempo(0);
    QTest::newRow("lone point") << "." << OptionalTempo(0);
    QTest::newRow("number after letters is not read") << "bpm120" << OptionalTempo(0);
    QTest::newRow("non-ASCII digits are not digits") << QString::fromUtf8("١٢٠") << OptionalTempo(0);
    QTest::newRow("&H without digits") << "&H" << OptionalTempo(0);
    QTest::newRow("tiny exponent underflows to 0") << "1e-400" << OptionalTempo(0);
    QTest::newRow("400 zeros after the point")
        << "0." + QString(400, u'0') + "1" << OptionalTempo(0);

    // Rounding: halves go to the even neighbour.
    QTest::newRow("0.6 gives 1") << "0.6" << OptionalTempo(1);
    QTest::newRow("97.5 up to 98") << "97.5" << OptionalTempo(98);
    QTest::newRow("96.5 down to 96") << "96.5" << OptionalTempo(96);
    QTest::newRow("leading point") << ".51" << OptionalTempo(1);

    // Leading number, blanks, sign, exponent.
    QTest::newRow("plain") << "120" << OptionalTempo(120);
    QTest::newRow("trailing letters") << "120abc" << OptionalTempo(120);
    QTest::newRow("blanks between digits") << "1 2 0" << OptionalTempo(120);
    QTest::newRow("tabs and line feeds anywhere") << "\t9\n0 " << OptionalTempo(90);
    QTest::newRow("carriage return stops the number") << "1\r20" << OptionalTempo(1);
    QTest::newRow("plus sign") << "+90" << OptionalTempo(90);
    QTest::newRow("negative") << "-60" << OptionalTempo(-60);
    QTest::newRow("second point stops") << "1.2.3" << OptionalTempo(1);
    QTest::newRow("comma is no decimal separator") << "1,5" << OptionalTempo(1);
    QTest::newRow("exponent") << "1.5e2" << OptionalTempo(150);
    QTest::newRow("exponent upper case with sign") << "1E+2" << OptionalTempo(100);
    QTest::newRow("negative exponent") << "12e-1" << OptionalTempo(1);
    QTest::newRow("exponent without digits is ignored") << "7e" << OptionalTempo(7);
    QTest::newRow("blank inside exponent") << "1 e 2" << OptionalTempo(100);

    // Hexadecimal and octal.
    QTest::newRow("&H78") << "&H78" << OptionalTempo(120);
    QTest::newRow("&h lower case") << "&h78" << OptionalTempo(120);
    QTest::newRow("&O170") << "&O170" << OptionalTempo(120);
    QTest::newRow("octal stops at 8") << "&O178" << OptionalTempo(15);
    QTest::newRow("hex after blanks") << " &H 7 8" << OptionalTempo(120);

    // The ends of the range.
    QTest::newRow("40000") << "40000" << OptionalTempo(40000);
    QTest::newRow("120000") << "120000" << OptionalTempo(120000);
    QTest::newRow("largest") << "2147483647" << OptionalTempo(2147483647);
    QTest::newRow("smallest") << "-2147483648" << OptionalTempo(-2147483647 - 1);
    QTest::newRow("smallest minus a half rounds to even") << "-2147483648.5"
                                                          << OptionalTempo(-2147483647 - 1);
    QTest::newRow("one past the largest") << "2147483648" << OptionalTempo();
    QTest::newRow("half past the largest rounds out") << "2147483647.5" << OptionalTempo();
    QTest::newRow("below the smallest") << "-2147483649" << OptionalTempo();
    QTest::newRow("beyond a double") << "1e400" << OptionalTempo();
    QTest::newRow("400 digits") << QString(400, u'9') << OptionalTempo();
    QTest::newRow("hex beyond 32 bits") << "&H100000000" << OptionalTempo();
}

void TestTempoText::tempoFromText()
{
    QFETCH(QString, text);
    QFETCH(OptionalTempo, tempo);
    try {
        const qint32 read = Met::tempoFromText(text);
        QVERIFY2(tempo.has_value(), qPrintable(QStringLiteral("read %1, expected overflow").arg(read)));
        QCOMPARE(read, *tempo);
    } catch (const RuntimeError &failure) {
        QVERIFY2(!tempo.has_value(), "unexpected failure");
        QCOMPARE(failure.number(), int(RuntimeError::Overflow));
        QCOMPARE(failure.description(), QStringLiteral("Overflow"));
    }
}

void TestTempoText::beatPeriodMs_data()
{
    QTest::addColumn<qint32>("tempo");
    QTest::addColumn<int>("periodMs");
    QTest::newRow("120") << 120 << 500;
    QTest::newRow("90") << 90 << 667;
    QTest::newRow("140: 428.57 rounds up") << 140 << 429;
    QTest::newRow("1") << 1 << 60000;
    QTest::newRow("40000: 1.5 to even 2") << 40000 << 2;
    QTest::newRow("24000: 2.5 to even 2") << 24000 << 2;
    QTest::newRow("120000 gives 0") << 120000 << 0;
    QTest::newRow("240000: 0.25 gives 0") << 240000 << 0;
    QTest::newRow("negative") << -120 << -500;
    QTest::newRow("largest tempo") << 2147483647 << 0;
}

void TestTempoText::beatPeriodMs()
{
    QFETCH(qint32, tempo);
    QFETCH(int, periodMs);
    QCOMPARE(Met::beatPeriodMs(tempo), periodMs);
}

QTEST_APPLESS_MAIN(TestTempoText)
#include "tst_tempo_text.moc"
