#include "form1.h"

#include "met.h"

#include <QEvent>
#include <QLineEdit>
#include <QRadioButton>

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    createControls();

    connect(PushButton6, &PushButton::Click, this, &Form1::PushButton6_Click);
    connect(tmrBeat, &PeriodicTimer::tick, this, &Form1::tmrBeat_Timer);
    connect(tmrCountDown, &PeriodicTimer::tick, this, &Form1::tmrCountDown_Timer);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    Text1->installEventFilter(this);

    Met::BindControls({Text1,
                       {Option1, Option2, Option3, Option4, Option5},
                       tmrBeat,
                       tmrCountDown,
                       lblBeat,
                       &shpBeat});
}

Form1::~Form1()
{
    Met::BindControls({});
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Text1 && event->type() == QEvent::FocusIn)
        Text1_GotFocus();
    return QWidget::eventFilter(watched, event);
}
