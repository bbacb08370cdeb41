// A label whose BackColor (ole_color.h) is read and written by name. Its
// background is transparent, as Brisquet's beat number is designed: the
// container shows through, and the colour is kept (and read back) but not
// drawn.
#pragma once

#include <QLabel>

class Label : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)

public:
    using QLabel::QLabel;

    quint32 BackColor() const { return m_backColor; }
    void setBackColor(quint32 color) { m_backColor = color; }

private:
    quint32 m_backColor = 0;
};
