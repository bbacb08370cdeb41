// Form1, Brisquet's one working window. It creates its controls under their
// design names (form1_layout.cpp), wires each control event to the handler of
// the same name and binds its controls to the engine. The handlers are kept
// in files of their own, grouped by what they serve; they hold no logic that
// belongs to the engine.
#pragma once

#include "controls/control_array.h"
#include "controls/frame.h"
#include "controls/label.h"
#include "controls/mouse_pointer.h"
#include "controls/option_button.h"
#include "controls/picture.h"
#include "controls/shape.h"
#include "push_button.h"
#include "skin_framework.h"
#include "system/periodic_timer.h"

#include <QWidget>

class QLineEdit;

class Form1 : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE setBackColor)
    Q_PROPERTY(qint16 MousePointer READ MousePointer WRITE setMousePointer)

public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // Controls, under their design names; laid out in form1_layout.cpp.
    PeriodicTimer *tmrBeat = nullptr;
    PeriodicTimer *tmrCountDown = nullptr;
    Frame *Frame4 = nullptr; // "Metronome Visualization"
    ControlArray<Shape> shpBeat{1, {}};
    Label *lblBeat = nullptr;
    Frame *Frame3 = nullptr; // "Beats Per Bar"
    OptionButton *Option1 = nullptr;
    OptionButton *Option2 = nullptr;
    OptionButton *Option3 = nullptr;
    OptionButton *Option4 = nullptr;
    OptionButton *Option5 = nullptr;
    Frame *Frame2 = nullptr; // "Beats Per Minute"
    QLineEdit *Text1 = nullptr;
    PushButton *PushButton6 = nullptr;
    SkinFramework *SkinFramework1 = nullptr;

    // The window's background, a colour value of ole_color.h.
    quint32 BackColor() const { return m_backColor; }
    void setBackColor(quint32 color);

    // The custom pointer image, loaded at start-up from the hand pointer
    // file; a null image while there is none.
    Picture MouseIcon;

    // The window's pointer shape (mouse_pointer.h): 0 default, 11 busy, 99
    // the custom pointer image. It decides the pointer over every control.
    qint16 MousePointer() const { return m_mousePointer.code(); }
    void setMousePointer(qint16 code) { m_mousePointer.setCode(code, MouseIcon); }

    // Session handlers (form1_session_handlers.cpp).
    void PushButton6_Click();
    void tmrBeat_Timer();
    void tmrCountDown_Timer();

    // Tempo box handlers (form1_tempo_box_handlers.cpp).
    void Text1_Change();
    void Text1_GotFocus();

    // Pointer feedback (form1_pointer_handlers.cpp): the hand over the
    // Start/Stop button, the default pointer back over the background, the
    // frames and the tempo box. Each takes the four values of mouse_args.h.
    void PushButton6_MouseMove(qint16 button, qint16 shift, float x, float y);
    void Form_MouseMove(qint16 button, qint16 shift, float x, float y);
    void Frame2_MouseMove(qint16 button, qint16 shift, float x, float y);
    void Frame3_MouseMove(qint16 button, qint16 shift, float x, float y);
    void Frame4_MouseMove(qint16 button, qint16 shift, float x, float y);
    void Text1_MouseMove(qint16 button, qint16 shift, float x, float y);

    // Start-up and shut-down (form1_lifecycle_handlers.cpp). Form_Load runs
    // once before the window is first shown; Form_Unload never sets cancel,
    // so closing cannot be refused.
    void Form_Load();
    void Form_Unload(qint16 &cancel);
    void ApplySkin();

protected:
    void closeEvent(QCloseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void setDesignTabOrder();

    // "in Brisquet2021/08/31.Form1.<handler> ": where a failure report says it happened.
    static QString handlerLocation(const char *handler);
    // Connects a control's event to a handler without a trap of its own: a
    // failure there is reported (line 0) and never reaches Qt's event loop.
    template <typename Sender, typename Signal, typename... Args>
    void wireUntrapped(Sender *sender, Signal signal, const char *handlerName,
                       void (Form1::*handler)(Args...));
    // Reports a mouse move over the background, a frame or the tempo box to its handler.
    void dispatchMouseMove(QObject *surface, QMouseEvent &event);

    quint32 m_backColor = 0;
    MousePointerSetting m_mousePointer{*this};
};
