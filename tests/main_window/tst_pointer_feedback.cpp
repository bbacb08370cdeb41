// Pointer feedback, driven by real mouse moves (no button held) at the
// controls' positions in the shown window: after each move, the window's
// pointer code and the pointer Qt shows over the control under the pointer.
#include "form1.h"
#include "met.h"
#include "platform_recorders.h"

#include <QLineEdit>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Where a move over a surface goes, in window coordinates.
QPoint pointOver(Form1 &form, const QString &surface)
{
    const auto centreOf = [&](QWidget *control) { return control->mapTo(&form, control->rect().center()); };
    if (surface == QLatin1String("background"))
        return {3, 3}; // left of and above the first frame
    if (surface == QLatin1String("Frame3"))
        return form.Frame3->mapTo(&form, QPoint(form.Frame3->width() - 10, form.Frame3->height() / 2));
    if (surface == QLatin1String("beat marker"))
        return centreOf(&form.shpBeat(1)); // hidden while idle, so the frame is under it
    QWidget *control = form.findChild<QWidget *>(surface);
    Q_ASSERT(control);
    return centreOf(control);
}

// The pointer over the control at pos: the nearest one (the control or a
// container) that has a pointer of its own, else the arrow.
QCursor shownPointer(Form1 &form, QPoint pos)
{
    for (QWidget *w = form.childAt(pos); w; w = w->parentWidget())
        if (w->testAttribute(Qt::WA_SetCursor))
            return w->cursor();
    return form.testAttribute(Qt::WA_SetCursor) ? form.cursor() : QCursor(Qt::ArrowCursor);
}

Picture handImage()
{
    QPixmap hand(32, 32);
    hand.fill(Qt::black);
    return {hand, QPoint(9, 2)};
}

} // namespace

class TestPointerFeedback : public QObject
{
    Q_OBJECT

private slots:
    void pointerFollowsTheMoves_data();
    void pointerFollowsTheMoves();
};

void TestPointerFeedback::pointerFollowsTheMoves_data()
{
    QTest::addColumn<bool>("withImage");
    QTest::addColumn<int>("startCode");
    QTest::addColumn<QStringList>("moves");
    QTest::addColumn<QList<int>>("codes");   // the window's code after each move
    QTest::addColumn<QList<int>>("pointers"); // the shape shown then, Qt::BitmapCursor for the hand
    const int hand = Qt::BitmapCursor, arrow = Qt::ArrowCursor, ibeam = Qt::IBeamCursor, busy = Qt::WaitCursor;
    QTest::newRow("box, background, button, background, box")
        << true << 0 << QStringList{"Text1", "background", "PushButton6", "background", "Text1"}
        << QList{0, 0, 99, 0, 0} << QList{ibeam, arrow, hand, arrow, ibeam};
    QTest::newRow("from the button onto option buttons and the beat number: the hand stays")
        << true << 0 << QStringList{"PushButton6", "Option2", "Option5", "lblBeat"}
        << QList{99, 99, 99, 99} << QList{hand, hand, hand, hand};
    QTest::newRow("the hand shows over the tempo box until a move over it")
        << true << 0 << QStringList{"PushButton6", "Frame3", "PushButton6", "Text1"}
        << QList{99, 0, 99, 0} << QList{hand, arrow, hand, ibeam};
    QTest::newRow("a beat marker belongs to its frame")
        << true << 0 << QStringList{"PushButton6", "beat marker"} << QList{99, 0} << QList{hand, arrow};
    QTest::newRow("many moves over the button set the same code")
        << true << 0 << QStringList{"PushButton6", "PushButton6", "PushButton6"}
        << QList{99, 99, 99} << QList{hand, hand, hand};
    QTest::newRow("no hand image: the custom pointer is the arrow")
        << false << 0 << QStringList{"PushButton6", "Text1"} << QList{99, 0} << QList{arrow, ibeam};
    QTest::newRow("busy is left alone everywhere")
        << true << 11 << QStringList{"PushButton6", "Frame2", "Text1", "background", "Frame4"}
        << QList{11, 11, 11, 11, 11} << QList{busy, busy, busy, busy, busy};
}

void TestPointerFeedback::pointerFollowsTheMoves()
{
    QFETCH(bool, withImage);
    QFETCH(int, startCode);
    QFETCH(QStringList, moves);
    QFETCH(QList<int>, codes);
    QFETCH(QList<int>, pointers);
    MessageBoxRecorder boxes;
    Form1 form;
    if (withImage)
        form.MouseIcon = handImage();
    form.setMousePointer(qint16(startCode));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Qt drops a move to where the pointer already is, so each row starts
    // from the beat number, which reports no moves.
    QTest::mouseMove(&form, pointOver(form, u"lblBeat"_s));
    QCOMPARE(form.MousePointer(), startCode);

    for (qsizetype i = 0; i < moves.size(); ++i) {
        const QPoint pos = pointOver(form, moves[i]);
        QTest::mouseMove(&form, pos);
        const QByteArray where = moves[i].toUtf8();
        QVERIFY2(form.MousePointer() == codes[i], where.constData());
        const QCursor shown = shownPointer(form, pos);
        QVERIFY2(shown.shape() == pointers[i], where.constData());
        if (pointers[i] == Qt::BitmapCursor)
            QCOMPARE(shown.hotSpot(), QPoint(9, 2));
    }
    QVERIFY(boxes.prompts().isEmpty());
}

QTEST_MAIN(TestPointerFeedback)
#include "tst_pointer_feedback.moc"
