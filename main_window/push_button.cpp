#include "push_button.h"

#include <QMouseEvent>

PushButton::PushButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_NoMousePropagation);
    connect(this, &QPushButton::clicked, this, &PushButton::Click);
}

void PushButton::mouseMoveEvent(QMouseEvent *event)
{
    const MouseArgs args = mouseArgs(*event);
    emit MouseMove(args.button, args.shift, args.x, args.y);
    QPushButton::mouseMoveEvent(event);
}
