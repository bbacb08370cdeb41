// The small run-time services: control arrays, late-bound properties, the
// twips conversion, message box captions.
#include "app_title.h"
#include "control_array.h"
#include "dispatch.h"
#include "platform_recorders.h"
#include "runtime_error.h"
#include "twips.h"

#include <QLabel>
#include <QTest>

class TestRuntimeServices : public QObject
{
    Q_OBJECT

private slots:
    void controlArrayRefusesIndexOutsideBounds_data();
    void controlArrayRefusesIndexOutsideBounds();
    void unknownPropertyNameIsRefusedWithoutCreatingIt();
    void twipsToPixels_data();
    void twipsToPixels();
    void messageBoxWithoutCaptionTakesApplicationTitle();
};

void TestRuntimeServices::controlArrayRefusesIndexOutsideBounds_data()
{
    QTest::addColumn<qint16>("index");
    QTest::addColumn<bool>("exists");
    QTest::newRow("no member 0") << qint16(0) << false;
    QTest::newRow("lowest") << qint16(1) << true;
    QTest::newRow("highest") << qint16(6) << true;
    QTest::newRow("past the highest") << qint16(7) << false;
    QTest::newRow("negative") << qint16(-1) << false;
}

void TestRuntimeServices::controlArrayRefusesIndexOutsideBounds()
{
    QFETCH(qint16, index);
    QFETCH(bool, exists);
    std::vector<QLabel> labels(6);
    std::vector<QLabel *> members;
    for (auto &label : labels)
        members.push_back(&label);
    const ControlArray<QLabel> array(1, members);
    QCOMPARE(array.upperBound(), qint16(6));
    try {
        QLabel &member = array(index);
        QVERIFY(exists);
        QCOMPARE(&member, &labels[static_cast<size_t>(index - 1)]);
    } catch (const RuntimeError &failure) {
        QVERIFY(!exists);
        QCOMPARE(failure.number(), int(RuntimeError::ControlArrayElementMissing));
    }
}


void TestRuntimeServices::unknownPropertyNameIsRefusedWithoutCreatingIt()
{
    QLabel label;
    try {
        setPropertyByName(label, "Caption", QStringLiteral("x"));
        QFAIL("an undeclared property was written");
    } catch (const RuntimeError &failure) {
        QCOMPARE(failure.number(), int(RuntimeError::PropertyMissing));
    }
    QVERIFY(label.dynamicPropertyNames().isEmpty());
    QVERIFY_THROWS_EXCEPTION(RuntimeError, propertyByName(label, "Caption"));
}

void TestRuntimeServices::twipsToPixels_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("window width") << 8040 << 536;
    QTest::newRow("window height") << 3510 << 234;
    QTest::newRow("two thirds of a pixel round up") << 1000 << 67; // 66.67
    QTest::newRow("a third of a pixel rounds down") << 800 << 53;  // 53.33
    QTest::newRow("just over half a pixel") << 8 << 1;
    QTest::newRow("just under half a pixel") << 7 << 0;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("negative") << -15 << -1;
}

void TestRuntimeServices::twipsToPixels()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(::twipsToPixels(twips), pixels);
}

void TestRuntimeServices::messageBoxWithoutCaptionTakesApplicationTitle()
{
    MessageBoxRecorder boxes;
    setApplicationTitle(QStringLiteral("Brisquet"));
    showMessageBox(QStringLiteral("had bad bpm, reset to 120"));
    showMessageBox(QStringLiteral("x"), MsgBoxIcon::Exclamation, QStringLiteral("Own caption"));
    QCOMPARE(boxes.requests.size(), 2);
    QCOMPARE(boxes.requests[0].title, QStringLiteral("Brisquet"));
    QCOMPARE(boxes.requests[0].icon, MsgBoxIcon::None);
    QCOMPARE(boxes.requests[1].title, QStringLiteral("Own caption"));
}

QTEST_MAIN(TestRuntimeServices)
#include "tst_runtime_services.moc"
