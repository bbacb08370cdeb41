// A frame control: a captioned border that groups controls, drawn the same
// on every platform: a thin rectangle whose top edge runs through the middle
// of the caption, on the frame's own background colour. Children are placed
// relative to the frame's top-left corner. A frame never takes the focus.
// Its BackColor (ole_color.h) is read and written by name.
#pragma once

#include <QGroupBox>

class Frame : public QGroupBox
{
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)

public:
    explicit Frame(const QString &caption, QWidget *parent = nullptr);

    quint32 BackColor() const { return m_backColor; }
    void setBackColor(quint32 color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    quint32 m_backColor = 0;
};
