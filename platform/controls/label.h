// A label whose BackColor (ole_color.h) is read and written by name. Its
// background is transparent, as Brisquet's beat number is designed: the
// container shows through, and the colour is kept (and read back) but not
// drawn. A caption set while a tick is handled is drawn when that tick's
// sound is heard (presented_value.h); text() is the one set. Set the
// caption through Label, not through QLabel, for that.
#pragma once

#include "controls/presented_value.h"

#include <QLabel>

class Label : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)

public:
    using QLabel::QLabel;

    quint32 BackColor() const { return m_backColor; }
    void setBackColor(quint32 color) { m_backColor = color; }

    void setText(const QString &text);
    void clear() { setText(QString()); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    quint32 m_backColor = 0;
    PresentedValue<QString> m_drawnText{this, QString()};
};
