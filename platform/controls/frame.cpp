#include "controls/frame.h"

#include "controls/ole_color.h"

#include <QPaintEvent>
#include <QPainter>

namespace {
constexpr int kCaptionIndentPx = 8;
constexpr int kCaptionGapPx = 3; // blank space either side of the caption on the border
} // namespace

Frame::Frame(const QString &caption, QWidget *parent) : QGroupBox(caption, parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
}

void Frame::setBackColor(quint32 color)
{
    m_backColor = color;
    paintBackColor(*this, color);
}

void Frame::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int borderTop = metrics.height() / 2;

    // Half-pixel inset: the one-pixel line then falls on pixel centres and stays crisp.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(QRectF(rect()).adjusted(0.5, borderTop + 0.5, -0.5, -0.5));

    const QString caption = title();
    // A repaint below the caption (a beat marker lighting) keeps the caption
    // as drawn: laying out its text was most of what a beat cost to draw.
    if (caption.isEmpty() || !event->region().intersects(QRect(0, 0, width(), metrics.height())))
        return;
    const QRect captionRect(kCaptionIndentPx, 0,
                            metrics.horizontalAdvance(caption) + 2 * kCaptionGapPx, metrics.height());
    painter.fillRect(captionRect, palette().color(backgroundRole()));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                   QPalette::WindowText));
    painter.drawText(captionRect, Qt::AlignCenter | Qt::TextShowMnemonic, caption);
}
