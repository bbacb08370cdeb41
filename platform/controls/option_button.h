// An option button: a radio button whose BackColor (ole_color.h) is read and
// written by name. The buttons of one container form one group, and the
// group is one stop of the Tab key: tabbing into it lands on the chosen
// button (the arrow keys then move the choice), not on whichever button
// comes first.
#pragma once

#include "controls/ole_color.h"

#include <QFocusEvent>
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

protected:
    void focusInEvent(QFocusEvent *event) override
    {
        QRadioButton::focusInEvent(event);
        if (isChecked() || (event->reason() != Qt::TabFocusReason && event->reason() != Qt::BacktabFocusReason))
            return;
        for (OptionButton *sibling : parentWidget()->findChildren<OptionButton *>(Qt::FindDirectChildrenOnly)) {
            if (sibling->isChecked() && sibling->isEnabled() && sibling->isVisible()) {
                sibling->setFocus(event->reason());
                return;
            }
        }
    }

private:
    quint32 m_backColor = 0;
};
