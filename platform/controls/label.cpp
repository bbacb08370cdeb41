#include "controls/label.h"

#include <QPainter>
#include <QStyle>

void Label::setText(const QString &text)
{
    // QLabel repaints at once, but what is drawn is m_drawnText, which
    // repaints when it changes: a beat's repaint of the old number is work
    // for nothing, a wake-up of the X server included.
    const bool updatesWereDisabled = testAttribute(Qt::WA_UpdatesDisabled);
    setAttribute(Qt::WA_UpdatesDisabled, true);
    QLabel::setText(text);
    setAttribute(Qt::WA_UpdatesDisabled, updatesWereDisabled);
    m_drawnText.set(text);
}

// The caption as it is to be seen, drawn as QLabel draws plain text.
void Label::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), m_drawnText.shown(), foregroundRole());
}
