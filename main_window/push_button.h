// Brisquet's push button: a Qt push button offering what the Start/Stop
// button is used through: a Caption property that can be read and written by
// name and reads back exactly what was written, a Click notification once per
// click (mouse or keyboard), and a MouseMove notification with the four
// values of mouse_args.h whenever the pointer moves over it, with or without
// a mouse button held. Its moves are its own: none reaches the container.
#pragma once

#include "controls/mouse_args.h"

#include <QPushButton>

class PushButton : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)

public:
    explicit PushButton(const QString &caption, QWidget *parent = nullptr);

    QString Caption() const { return text(); }
    void setCaption(const QString &caption) { setText(caption); }

signals:
    void Click();
    void MouseMove(qint16 button, qint16 shift, float x, float y);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
};
