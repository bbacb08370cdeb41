// A frame control: a captioned border that groups controls, drawn the same
// on every platform: a thin rectangle whose top edge runs through the middle
// of the caption, on the frame's own background colour. Children are placed
// relative to the frame's top-left corner. A frame never takes the focus.
#pragma once

#include <QGroupBox>

class Frame : public QGroupBox
{
    Q_OBJECT

public:
    explicit Frame(const QString &caption, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
