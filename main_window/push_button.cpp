#include "push_button.h"

#include <QMouseEvent>

PushButton::PushButton(const QString &caption, QWidget *parent) : QPushButton(caption, parent)
{
    setMouseTracking(true);
    connect(this, &QPushButton::clicked, this, &PushButton::Click);
}

void PushButton::mouseMoveEvent(QMouseEvent *event)
{
    emit MouseMove(event->buttons(), event->modifiers(), event->position().toPoint());
    QPushButton::mouseMoveEvent(event);
}
