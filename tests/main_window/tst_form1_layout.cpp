// Form1 as the user first sees it: where each control sits, what it says,
// its font and colours, the tab order and the first state.
#include "controls/twips.h"
#include "form1.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

class TestForm1Layout : public QObject
{
    Q_OBJECT

private slots:
    void controlSitsAtItsDesignPlace_data();
    void controlSitsAtItsDesignPlace();
    void windowIsFixedSizeWhiteWithoutMaximizeBox();
    void fontsFollowTheDesign();
    void firstStateBeforeAnyClick();
    void tabOrderRunsFromTempoToButtonToOptions();
    void onlyTheTempoBoxButtonAndOptionsTakeFocus();
    void markersAreEvenlySpacedLeftOfTheBeatNumber();
};

void TestForm1Layout::controlSitsAtItsDesignPlace_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("caption");

    QTest::newRow("Frame4") << "Frame4" << "Form1" << QRect(120, 1860, 7800, 960)
                            << "Metronome Visualization";
    QTest::newRow("lblBeat") << "lblBeat" << "Frame4" << QRect(3060, 300, 270, 360) << "";
    QTest::newRow("Frame3") << "Frame3" << "Form1" << QRect(120, 1000, 7800, 765)
                            << "Beats Per Bar";
    QTest::newRow("Option5") << "Option5" << "Frame3" << QRect(2640, 300, 495, 285) << "6";
    QTest::newRow("Option4") << "Option4" << "Frame3" << QRect(2040, 300, 495, 285) << "5";
    QTest::newRow("Option3") << "Option3" << "Frame3" << QRect(1440, 300, 495, 285) << "4";
    QTest::newRow("Option2") << "Option2" << "Frame3" << QRect(840, 300, 495, 285) << "3";
    QTest::newRow("Option1") << "Option1" << "Frame3" << QRect(240, 300, 495, 285) << "2";
    QTest::newRow("Frame2") << "Frame2" << "Form1" << QRect(120, 120, 7800, 800)
                            << "Beats Per Minute";
    QTest::newRow("Text1") << "Text1" << "Frame2" << QRect(240, 300, 7335, 345) << "";
    QTest::newRow("PushButton6") << "PushButton6" << "Form1" << QRect(120, 2970, 7800, 405)
                                 << "Start Ticking";
}

void TestForm1Layout::controlSitsAtItsDesignPlace()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, twips);
    QFETCH(QString, caption);

    Form1 form;
    const QHash<QString, QWidget *> controls{
        {"Form1", &form},          {"Frame4", form.Frame4},   {"lblBeat", form.lblBeat},
        {"Frame3", form.Frame3},   {"Option5", form.Option5}, {"Option4", form.Option4},
        {"Option3", form.Option3}, {"Option2", form.Option2}, {"Option1", form.Option1},
        {"Frame2", form.Frame2},   {"Text1", form.Text1},     {"PushButton6", form.PushButton6},
    };
    QWidget *control = controls.value(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), controls.value(container));
    QCOMPARE(control->geometry(), twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));

    QString shown;
    if (auto *box = qobject_cast<QGroupBox *>(control))
        shown = box->title();
    else if (auto *button = qobject_cast<QAbstractButton *>(control))
        shown = button->text();
    else if (auto *label = qobject_cast<QLabel *>(control))
        shown = label->text();
    else if (auto *edit = qobject_cast<QLineEdit *>(control))
        shown = edit->text();
    QCOMPARE(shown, caption);
}

void TestForm1Layout::windowIsFixedSizeWhiteWithoutMaximizeBox()
{
    Form1 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Brisquet"));
    QCOMPARE(form.minimumSize(), QSize(536, 234));
    QCOMPARE(form.maximumSize(), QSize(536, 234));
    const Qt::WindowFlags flags = form.windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::MSWindowsFixedSizeDialogHint); // a thin border that does not size
    QCOMPARE(form.palette().color(QPalette::Window), QColor(255, 255, 255));
    QCOMPARE(form.Option1->palette().color(form.Option1->backgroundRole()), QColor(255, 255, 255));
    QCOMPARE(form.Frame2->palette().color(form.Frame2->backgroundRole()), QColor(255, 255, 255));
    QCOMPARE(form.PushButton6->palette().color(QPalette::Button), QColor(255, 255, 255));
}

void TestForm1Layout::fontsFollowTheDesign()
{
    Form1 form;
    for (QWidget *control : {static_cast<QWidget *>(form.Text1), static_cast<QWidget *>(form.Option3),
                             static_cast<QWidget *>(form.Frame4)}) {
        QCOMPARE(control->font().family(), QStringLiteral("Arial"));
        QCOMPARE(control->font().pointSizeF(), 9.0);
        QVERIFY(control->font().bold());
    }
    QCOMPARE(form.PushButton6->font().family(), QStringLiteral("Arial"));
    QCOMPARE(form.PushButton6->font().pointSizeF(), 11.25);
    QVERIFY(form.PushButton6->font().bold());
    QCOMPARE(form.lblBeat->font().pointSizeF(), 18.0);
    QVERIFY(!form.lblBeat->font().bold());
    QCOMPARE(form.lblBeat->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    QVERIFY(form.lblBeat->alignment() & Qt::AlignRight);
}

void TestForm1Layout::firstStateBeforeAnyClick()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (qint16 i = form.shpBeat.lowerBound(); i <= form.shpBeat.upperBound(); ++i) {
        QVERIFY(!form.shpBeat(i).isVisible());
        QCOMPARE(form.shpBeat(i).fillStyle(), FillStyle::Transparent);
        QCOMPARE(form.shpBeat(i).borderColor(), QColor(64, 64, 64));
        QCOMPARE(form.shpBeat(i).fillColor(), QColor(192, 192, 192));
    }
    QCOMPARE(form.shpBeat.lowerBound(), qint16(1));
    QCOMPARE(form.shpBeat.upperBound(), qint16(6));
    QVERIFY(form.lblBeat->isVisible());
    QVERIFY(form.lblBeat->text().isEmpty());
    QVERIFY(form.Option3->isChecked());
    QVERIFY(!form.Option1->isChecked() && !form.Option5->isChecked());
    QCOMPARE(form.PushButton6->Caption(), QStringLiteral("Start Ticking"));
    QVERIFY(form.tmrBeat->isEnabled());
    QCOMPARE(form.tmrBeat->periodMs(), 0);
    QVERIFY(form.tmrCountDown->isEnabled());
    QCOMPARE(form.tmrCountDown->periodMs(), 0);
    QCOMPARE(QApplication::focusWidget(), form.Text1);
}

void TestForm1Layout::tabOrderRunsFromTempoToButtonToOptions()
{
    Form1 form;
    QWidget *step = form.Text1;
    const QList<QWidget *> expected{form.PushButton6, form.Option1, form.Option2,
                                    form.Option3,     form.Option4, form.Option5};
    QList<QWidget *> seen;
    while (seen.size() < expected.size()) {
        step = step->nextInFocusChain();
        if (step->focusPolicy() & Qt::TabFocus)
            seen.append(step);
    }
    QCOMPARE(seen, expected);
}

void TestForm1Layout::onlyTheTempoBoxButtonAndOptionsTakeFocus()
{
    Form1 form;
    const QList<QWidget *> focusable{form.Text1,   form.PushButton6, form.Option1, form.Option2,
                                     form.Option3, form.Option4,     form.Option5};
    for (QWidget *child : form.findChildren<QWidget *>())
        QCOMPARE(bool(child->focusPolicy() & Qt::TabFocus), focusable.contains(child));
}

void TestForm1Layout::markersAreEvenlySpacedLeftOfTheBeatNumber()
{
    Form1 form;
    for (qint16 i = 2; i <= 6; ++i)
        QCOMPARE(form.shpBeat(i).x() - form.shpBeat(qint16(i - 1)).x(), twipsToPixels(420));
    QVERIFY(form.shpBeat(6).geometry().right() < form.lblBeat->geometry().left());
}

QTEST_MAIN(TestForm1Layout)
#include "tst_form1_layout.moc"
