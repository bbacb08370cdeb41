// Brisquet's push button: a Qt push button offering what the Start/Stop
// button is used through: a Caption property that can be read and written by
// name and reads back exactly what was written, a Click notification once per
// click (mouse or keyboard), and a MouseMove notification whenever the
// pointer moves over it, with or without a mouse button held.
#pragma once

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
    void MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint position);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
};
