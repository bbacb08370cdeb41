#include "form1.h"

#include "error_report.h"
#include "met.h"

#include <QEvent>
#include <QLineEdit>
#include <QMouseEvent>

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    createControls();

    // The two reporting handlers trap their own failures.
    connect(PushButton6, &PushButton::Click, this, &Form1::PushButton6_Click);
    wireUntrapped(tmrBeat, &PeriodicTimer::tick, "tmrBeat_Timer", &Form1::tmrBeat_Timer);
    wireUntrapped(tmrCountDown, &PeriodicTimer::tick, "tmrCountDown_Timer", &Form1::tmrCountDown_Timer);
    wireUntrapped(Text1, &QLineEdit::textChanged, "Text1_Change", &Form1::Text1_Change);
    wireUntrapped(PushButton6, &PushButton::MouseMove, "PushButton6_MouseMove", &Form1::PushButton6_MouseMove);
    Text1->installEventFilter(this);

    // Moves are reported, with no mouse button held too, over exactly the
    // surfaces with a handler; each control keeps its moves to itself, so an
    // option button or the beat number reports nothing, not even to its frame.
    for (QWidget *control : findChildren<QWidget *>())
        control->setAttribute(Qt::WA_NoMousePropagation);
    for (QWidget *surface : std::initializer_list<QWidget *>{this, Frame2, Frame3, Frame4, Text1})
        surface->setMouseTracking(true);
    for (QWidget *frame : std::initializer_list<QWidget *>{Frame2, Frame3, Frame4})
        frame->installEventFilter(this);

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

template <typename Sender, typename Signal, typename... Args>
void Form1::wireUntrapped(Sender *sender, Signal signal, const char *handlerName,
                          void (Form1::*handler)(Args...))
{
    connect(sender, signal, this, [this, handlerName, handler](Args... args) {
        runUntrapped(handlerLocation(handlerName), [&] { (this->*handler)(args...); });
    });
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Text1 && event->type() == QEvent::FocusIn)
        runUntrapped(handlerLocation("Text1_GotFocus"), [this] { Text1_GotFocus(); });
    if (event->type() == QEvent::MouseMove)
        dispatchMouseMove(watched, *static_cast<QMouseEvent *>(event));
    return QWidget::eventFilter(watched, event);
}

void Form1::mouseMoveEvent(QMouseEvent *event)
{
    dispatchMouseMove(this, *event);
    QWidget::mouseMoveEvent(event);
}

void Form1::dispatchMouseMove(QObject *surface, QMouseEvent &event)
{
    using Handler = void (Form1::*)(qint16, qint16, float, float);
    const std::pair<QObject *, std::pair<const char *, Handler>> handlers[] = {
        {this, {"Form_MouseMove", &Form1::Form_MouseMove}},
        {Frame2, {"Frame2_MouseMove", &Form1::Frame2_MouseMove}},
        {Frame3, {"Frame3_MouseMove", &Form1::Frame3_MouseMove}},
        {Frame4, {"Frame4_MouseMove", &Form1::Frame4_MouseMove}},
        {Text1, {"Text1_MouseMove", &Form1::Text1_MouseMove}},
    };
    for (const auto &[owner, handler] : handlers) {
        if (owner != surface)
            continue;
        const MouseArgs args = mouseArgs(event);
        const auto method = handler.second; // a lambda may not capture a structured binding (clang 14)
        runUntrapped(handlerLocation(handler.first),
                     [&] { (this->*method)(args.button, args.shift, args.x, args.y); });
        return;
    }
}
