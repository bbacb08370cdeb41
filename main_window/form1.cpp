#include "form1.h"

#include "met.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QRadioButton>

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    createControls();

    connect(PushButton6, &PushButton::Click, this, &Form1::PushButton6_Click);
    connect(tmrBeat, &PeriodicTimer::tick, this, &Form1::tmrBeat_Timer);
    connect(tmrCountDown, &PeriodicTimer::tick, this, &Form1::tmrCountDown_Timer);

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

void Form1::Form_Unload(qint16 &cancel)
{
    Q_UNUSED(cancel);
    Met::StopAndEnd();
}

void Form1::closeEvent(QCloseEvent *event)
{
    qint16 cancel = 0;
    Form_Unload(cancel);
    event->accept();
}
