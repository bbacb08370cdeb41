// The four values a mouse-move notification carries: the mouse buttons held
// (1 left, 2 right, 4 middle), the shift keys held (1 Shift, 2 Ctrl, 4 Alt)
// and the pointer's position in twips from the control's top-left corner.
#pragma once

#include "controls/twips.h"

#include <QMouseEvent>
#include <QtGlobal>

struct MouseArgs
{
    qint16 button = 0;
    qint16 shift = 0;
    float x = 0; // twips
    float y = 0; // twips
};

inline MouseArgs mouseArgs(const QMouseEvent &event)
{
    const Qt::MouseButtons buttons = event.buttons();
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    return {qint16((buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0)
                   | (buttons & Qt::MiddleButton ? 4 : 0)),
            qint16((modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0)
                   | (modifiers & Qt::AltModifier ? 4 : 0)),
            float(event.position().x() * kTwipsPerPixel), float(event.position().y() * kTwipsPerPixel)};
}
