#include "controls/ole_color.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace {

constexpr quint32 kSystemColorBit = 0x80000000;

QPalette::ColorRole systemColorRole(quint32 index)
{
    switch (index) {
    case 5: return QPalette::Base;        // window background (of text boxes)
    case 8: return QPalette::Text;        // window text
    case 13: return QPalette::Highlight;
    case 14: return QPalette::HighlightedText;
    case 15: return QPalette::Button;     // button face
    case 18: return QPalette::ButtonText;
    default: return QPalette::Window;
    }
}

} // namespace

QColor colorFromOle(quint32 value)
{
    if (value & kSystemColorBit)
        return QApplication::palette().color(systemColorRole(value & 0xFF));
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

void paintBackColor(QWidget &widget, quint32 value)
{
    QPalette palette = widget.palette();
    palette.setColor(widget.backgroundRole(), colorFromOle(value)); // Window for frames, Button for option buttons
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}
