// The "Application Error" dialog and the trap of Form_Load and
// PushButton6_Click: platform operations are made to fail at each line label,
// and the test checks which lines were reported, in what order, and what
// the handler still did afterwards.
#include "error_report.h"
#include "form1.h"
#include "met.h"
#include "platform_recorders.h"
#include "sound_recorder.h"
#include "system/app_title.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The line labels named by the boxes shown, in order.
QList<int> reportedLines(const MessageBoxRecorder &boxes)
{
    QList<int> lines;
    static const QRegularExpression atLine(QStringLiteral(" at line (\\d+)\r\r"));
    for (const MessageBoxRequest &box : boxes.requests) {
        const QRegularExpressionMatch match = atLine.match(box.prompt);
        lines.append(match.hasMatch() ? match.captured(1).toInt() : -1);
    }
    return lines;
}

} // namespace

class TestErrorReporting : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void composedReport_data();
    void composedReport();
    void reportIsAWarningBoxCalledApplicationError();
    void loadFailureIsReportedAndLoadingGoesOn_data();
    void loadFailureIsReportedAndLoadingGoesOn();
    void clickFailureIsReportedAndTheClickGoesOn_data();
    void clickFailureIsReportedAndTheClickGoesOn();
    void untrappedFailureInATimerTickIsReportedAndTickingGoesOn();
};

void TestErrorReporting::init()
{
    Met::Session = {};
}

void TestErrorReporting::composedReport_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("report");
    QTest::newRow("a sound that failed to load")
        << u"Resource with identifier '104' of type 'CUSTOM' not found"_s
        << u"Resource with identifier '104' of type 'CUSTOM' not found\r\n"
           "in Brisquet2021/08/31.Form1.Form_Load at line 130\r\r"
           "Please email screenshot of this message to support@quernwick.example"_s;
    QTest::newRow("an empty description leaves the first line empty")
        << QString()
        << u"\r\nin Brisquet2021/08/31.Form1.Form_Load at line 130\r\r"
           "Please email screenshot of this message to support@quernwick.example"_s;
}

void TestErrorReporting::composedReport()
{
    QFETCH(QString, description);
    QFETCH(QString, report);
    QCOMPARE(composeFailureReport(u"in Brisquet2021/08/31.Form1.Form_Load "_s, 130, description), report);
}

void TestErrorReporting::reportIsAWarningBoxCalledApplicationError()
{
    MessageBoxRecorder boxes;
    reportHandlerFailure(u"in X "_s, 7, u"d"_s);
    QCOMPARE(boxes.requests.size(), 1);
    QCOMPARE(boxes.requests[0].title, u"Application Error"_s);
    QCOMPARE(boxes.requests[0].icon, MsgBoxIcon::Exclamation);
}

void TestErrorReporting::loadFailureIsReportedAndLoadingGoesOn_data()
{
    QTest::addColumn<QByteArray>("operation");
    QTest::addColumn<QSet<int>>("failingCalls");
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<bool>("iconSet");
    QTest::addColumn<bool>("titleSet");
    QTest::addColumn<QString>("tempoShown");
    QTest::addColumn<bool>("endSoundLoaded");
    // Every row: the steps after the failed one still ran.
    QTest::newRow("skin loader (100)") << "Dir"_ba << QSet{1} << QList{100} << true << true << u"120"_s << true;
    QTest::newRow("pointer test (104), then its load (106)") // the file is not there: "File not found"
        << "programFolder"_ba << QSet{2} << QList{104, 106} << true << true << u"120"_s << true;
    QTest::newRow("home-page draw (108)") << "Rnd"_ba << QSet{1} << QList{108} << true << true << u"120"_s << true;
    QTest::newRow("icon (128); the title is still set")
        << "LoadResIcon"_ba << QSet{1} << QList{128} << false << true << u"120"_s << true;
    QTest::newRow("title (128); the tempo still comes back")
        << "setApplicationTitle"_ba << QSet{1} << QList{128} << true << false << u"120"_s << true;
    QTest::newRow("stored tempo (130); the box stays empty, the sounds load")
        << "GetSetting"_ba << QSet{1} << QList{130} << true << true << QString() << true;
    QTest::newRow("last sound (130); the handler ends")
        << "LoadResData"_ba << QSet{3} << QList{130} << true << true << u"120"_s << false;
}

void TestErrorReporting::loadFailureIsReportedAndLoadingGoesOn()
{
    QFETCH(QByteArray, operation);
    QFETCH(QSet<int>, failingCalls);
    QFETCH(QList<int>, lines);
    QFETCH(bool, iconSet);
    QFETCH(bool, titleSet);
    QFETCH(QString, tempoShown);
    QFETCH(bool, endSoundLoaded);
    setApplicationTitle(u"before start-up"_s);
    MessageBoxRecorder boxes;
    Form1 form;
    {
        FailingPlatformCalls failing(operation, failingCalls);
        form.Form_Load();
    }
    QCOMPARE(reportedLines(boxes), lines);
    for (const QString &prompt : boxes.prompts())
        QVERIFY(prompt.contains(u"\r\nin Brisquet2021/08/31.Form1.Form_Load at line "_s));
    QCOMPARE(!form.windowIcon().isNull(), iconSet);
    QCOMPARE(applicationTitle(), titleSet ? u"Brisquet"_s : u"before start-up"_s);
    QCOMPARE(form.Text1->text(), tempoShown);
    QVERIFY(!Met::Session.BeatSound.isEmpty());
    QCOMPARE(!Met::Session.EndSound.isEmpty(), endSoundLoaded);
}

void TestErrorReporting::clickFailureIsReportedAndTheClickGoesOn_data()
{
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QByteArray>("operation");
    QTest::addColumn<QSet<int>>("failingCalls");
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("ticking");
    QTest::newRow("caption read (100) goes on as a start")
        << 1 << "propertyByName"_ba << QSet{1} << QList{100} << u"Stop Ticking"_s << true;
    QTest::newRow("caption write (102); the session still starts")
        << 1 << "setPropertyByName"_ba << QSet{1} << QList{102} << u"Start Ticking"_s << true;
    QTest::newRow("inside the start (104)") // IsTicking is set before the timers
        << 1 << "PeriodicTimer::setEnabled"_ba << QSet{1} << QList{104} << u"Stop Ticking"_s << true;
    QTest::newRow("caption write on stop (108); the session still stops")
        << 2 << "setPropertyByName"_ba << QSet{2} << QList{108} << u"Stop Ticking"_s << false;
    QTest::newRow("inside the stop (110)") // the first click enabled two timers
        << 2 << "PeriodicTimer::setEnabled"_ba << QSet{3} << QList{110} << u"Start Ticking"_s << true;
}

void TestErrorReporting::clickFailureIsReportedAndTheClickGoesOn()
{
    QFETCH(int, clicks);
    QFETCH(QByteArray, operation);
    QFETCH(QSet<int>, failingCalls);
    QFETCH(QList<int>, lines);
    QFETCH(QString, caption);
    QFETCH(bool, ticking);
    MessageBoxRecorder boxes;
    Form1 form;
    form.Text1->setText(u"120"_s);
    {
        FailingPlatformCalls failing(operation, failingCalls);
        for (int i = 0; i < clicks; ++i)
            form.PushButton6_Click();
    }
    QCOMPARE(reportedLines(boxes), lines);
    for (const QString &prompt : boxes.prompts())
        QVERIFY(prompt.contains(u"\r\nin Brisquet2021/08/31.Form1.PushButton6_Click at line "_s));
    QCOMPARE(form.PushButton6->Caption(), caption);
    QCOMPARE(Met::Session.IsTicking, ticking);
}

void TestErrorReporting::untrappedFailureInATimerTickIsReportedAndTickingGoesOn()
{
    MessageBoxRecorder boxes;
    SoundRecorder sounds;
    Form1 form;
    form.Text1->setText(u"120"_s);
    form.PushButton6_Click();
    Met::Session.MinutesLeft = 1;
    {
        FailingPlatformCalls failing("setPropertyByName"_ba, {1});
        emit form.tmrCountDown->tick(); // the last minute: its caption write fails
    }
    QCOMPARE(boxes.prompts().size(), 1);
    QVERIFY(boxes.prompts()[0].contains(u"in Brisquet2021/08/31.Form1.tmrCountDown_Timer at line 0\r\r"_s));
    QVERIFY(Met::Session.IsTicking);
    emit form.tmrBeat->tick();
    QCOMPARE(sounds.images.size(), 1);
}

QTEST_MAIN(TestErrorReporting)
#include "tst_error_reporting.moc"
