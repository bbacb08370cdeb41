#include "form1.h"

#include "error_report.h"
#include "met.h"

#include <QEvent>
#include <QLineEdit>

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    createControls();

    // The two reporting handlers trap their own failures.
    connect(PushButton6, &PushButton::Click, this, &Form1::PushButton6_Click);
    wireUntrapped(tmrBeat, &PeriodicTimer::tick, "tmrBeat_Timer", &Form1::tmrBeat_Timer);
    wireUntrapped(tmrCountDown, &PeriodicTimer::tick, "tmrCountDown_Timer", &Form1::tmrCountDown_Timer);
    wireUntrapped(Text1, &QLineEdit::textChanged, "Text1_Change", &Form1::Text1_Change);
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

QString Form1::handlerLocation(const char *handler)
{
    return QStringLiteral("in Brisquet2021/08/31.Form1.%1 ").arg(QLatin1String(handler));
}

template <typename Sender, typename Signal>
void Form1::wireUntrapped(Sender *sender, Signal signal, const char *handlerName, void (Form1::*handler)())
{
    connect(sender, signal, this, [this, handlerName, handler] {
        runUntrapped(handlerLocation(handlerName), [&] { (this->*handler)(); });
    });
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Text1 && event->type() == QEvent::FocusIn)
        runUntrapped(handlerLocation("Text1_GotFocus"), [this] { Text1_GotFocus(); });
    return QWidget::eventFilter(watched, event);
}
