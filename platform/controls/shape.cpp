#include "controls/shape.h"

#include <QPainter>

Shape::Shape(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Shape::setFillStyle(FillStyle style)
{
    if (style == m_fillStyle)
        return;
    m_fillStyle = style;
    m_drawnFill.set(style);
}

void Shape::setBorderColor(const QColor &color)
{
    m_borderColor = color;
    update();
}

void Shape::setFillColor(const QColor &color)
{
    m_fillColor = color;
    update();
}

void Shape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen outline(m_borderColor, 1.0);
    outline.setCosmetic(false);
    painter.setPen(outline);
    painter.setBrush(m_drawnFill.shown() == FillStyle::Solid ? QBrush(m_fillColor) : Qt::NoBrush);
    // Inset by half the pen width so the outline lies inside the rectangle on
    // pixel centres, which keeps it crisp at ratio 1 and whole at any other.
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
