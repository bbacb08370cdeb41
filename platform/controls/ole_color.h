// Colour values as the window's design stores them: 0x00BBGGRR for a red,
// green, blue colour, or 0x80000000 | n for system colour n of the user's
// colour scheme (0x8000000F is the face colour of push buttons). A control's
// BackColor is such a value; setBackColor() paints the widget's background
// with the colour it stands for and keeps the value, so reading BackColor
// back returns what was written.
#pragma once

#include <QColor>
#include <QtGlobal>

class QWidget;

inline constexpr quint32 kButtonFaceColor = 0x8000000F;
inline constexpr quint32 kWhiteColor = 0x00FFFFFF;

// The colour a value stands for now. System colours without a counterpart in
// Qt's palette are taken as the window colour.
QColor colorFromOle(quint32 value);

// Fills widget's background (its background role, auto-filled) with the colour.
void paintBackColor(QWidget &widget, quint32 value);
