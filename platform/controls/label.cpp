#include "controls/label.h"

#include <QPainter>
#include <QStyle>

void Label::setText(const QString &text)
{
    QLabel::setText(text);
    m_drawnText.set(text);
}

// The caption as it is to be seen, drawn as QLabel draws plain text.
void Label::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), m_drawnText.shown(), foregroundRole());
}
