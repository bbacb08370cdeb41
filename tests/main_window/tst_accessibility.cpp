// Form1 as a screen reader and a keyboard user meet it: every control it
// can reach carries a name, the beat display reads as words, and the window
// works without a mouse.
#include "form1.h"
#include "met.h"
#include "platform_recorders.h"
#include "sound_recorder.h"

#include <QAccessible>
#include <QLineEdit>
#include <QTest>

namespace {

QAccessibleInterface *accessibleOf(QObject *object)
{
    return QAccessible::queryAccessibleInterface(object);
}

// Interfaces of the visible controls under root, depth first.
void collectVisible(QAccessibleInterface *root, QList<QAccessibleInterface *> &out)
{
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface *child = root->child(i);
        if (!child || child->state().invisible)
            continue;
        out.append(child);
        collectVisible(child, out);
    }
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void everyReachableControlHasAName();
    void beatDisplayReadsAsTheBeatOfTheBar_data();
    void beatDisplayReadsAsTheBeatOfTheBar();
    void tabVisitsTheControlsInDesignOrder();
    void arrowKeysMoveTheChoiceWithinTheGroup();
    void spaceOnTheButtonStartsAndStops();
};

void TestAccessibility::init()
{
    Met::Session = {};
}

// Focusable controls and the frames that group them: a screen reader says
// "unlabelled" for any of them without a name.
void TestAccessibility::everyReachableControlHasAName()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QList<QAccessibleInterface *> visible;
    collectVisible(accessibleOf(&form), visible);
    int checked = 0;
    for (QAccessibleInterface *control : visible) {
        if (!control->state().focusable && control->role() != QAccessible::Grouping)
            continue;
        ++checked;
        QVERIFY2(!control->text(QAccessible::Name).isEmpty(), control->object()->objectName().toUtf8());
    }
    QCOMPARE(checked, 10); // three frames, the box, five options, the button
}

void TestAccessibility::beatDisplayReadsAsTheBeatOfTheBar_data()
{
    QTest::addColumn<int>("option"); // 1..5: 2..6 beats per bar
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("heard");
    QTest::newRow("first beat, 4 per bar") << 3 << 1 << QStringLiteral("beat 1 of 4");
    QTest::newRow("second beat, 4 per bar") << 3 << 2 << QStringLiteral("beat 2 of 4");
    QTest::newRow("last beat, 6 per bar") << 5 << 6 << QStringLiteral("beat 6 of 6");
    QTest::newRow("next bar, 2 per bar") << 1 << 3 << QStringLiteral("beat 1 of 2");
}

// The beat number reads as the beat of the bar, and exactly that beat's
// circle is checked.
void TestAccessibility::beatDisplayReadsAsTheBeatOfTheBar()
{
    QFETCH(int, option);
    QFETCH(int, ticks);
    QFETCH(QString, heard);
    SoundRecorder sounds;
    Form1 form;
    form.show();
    form.Text1->setText(QStringLiteral("120"));
    const QList<OptionButton *> options{form.Option1, form.Option2, form.Option3, form.Option4, form.Option5};
    options[option - 1]->setChecked(true);
    form.PushButton6_Click();
    for (int i = 0; i < ticks; ++i)
        form.tmrBeat_Timer();

    QCOMPARE(accessibleOf(form.lblBeat)->text(QAccessible::Name), heard);
    QStringList checkedCircles;
    for (qint16 i = form.shpBeat.lowerBound(); i <= form.shpBeat.upperBound(); ++i) {
        QAccessibleInterface *circle = accessibleOf(&form.shpBeat(i));
        if (circle->state().checked)
            checkedCircles.append(circle->text(QAccessible::Name));
    }
    QCOMPARE(checkedCircles, QStringList{heard});
}

// Tab: the box, the button, then the option group as one stop, at its
// chosen button; Shift+Tab the other way round.
void TestAccessibility::tabVisitsTheControlsInDesignOrder()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Option4->setChecked(true);
    QCOMPARE(QApplication::focusWidget(), form.Text1);
    for (QWidget *next : {static_cast<QWidget *>(form.PushButton6), static_cast<QWidget *>(form.Option4),
                          static_cast<QWidget *>(form.Text1)}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), form.Option4);
}

void TestAccessibility::arrowKeysMoveTheChoiceWithinTheGroup()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Option3->setFocus();
    QTest::keyClick(form.Option3, Qt::Key_Right);
    QVERIFY(form.Option4->isChecked());
    QTest::keyClick(form.Option4, Qt::Key_Left);
    QTest::keyClick(form.Option3, Qt::Key_Left);
    QVERIFY(form.Option2->isChecked());
    QCOMPARE(QApplication::focusWidget(), form.Option2);
}

void TestAccessibility::spaceOnTheButtonStartsAndStops()
{
    SoundRecorder sounds;
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Text1->setText(QStringLiteral("120"));
    form.PushButton6->setFocus();
    QTest::keyClick(form.PushButton6, Qt::Key_Space);
    QVERIFY(Met::Session.IsTicking);
    QCOMPARE(accessibleOf(form.PushButton6)->text(QAccessible::Name), QStringLiteral("Stop Ticking"));
    QTest::keyClick(form.PushButton6, Qt::Key_Space);
    QVERIFY(!Met::Session.IsTicking);
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
