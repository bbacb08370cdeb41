// An option button: a radio button whose BackColor (ole_color.h) is read and
// written by name. The buttons of one container form one group.
#pragma once

#include "ole_color.h"

#include <QRadioButton>

class OptionButton : public QRadioButton
{
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)

public:
    using QRadioButton::QRadioButton;

    quint32 BackColor() const { return m_backColor; }
    void setBackColor(quint32 color)
    {
        m_backColor = color;
        paintBackColor(*this, color);
    }

private:
    quint32 m_backColor = 0;
};
