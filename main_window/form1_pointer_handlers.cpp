// Form1's pointer feedback: the window's pointer shape is the hand (its custom
// pointer image) once the pointer has moved over the Start/Stop button, and
// the default again once it moves over the background, a frame or the tempo
// box. The shape is the window's, not the control's: it stays until the next
// move over one of these surfaces. A busy pointer (11) is left alone.
#include "form1.h"

namespace {

// The three steps of every handler: read the shape, leave a busy pointer,
// set the target (also when it already holds it).
void showPointer(Form1 &form, qint16 target)
{
    if (form.MousePointer() == kHourglassPointer)
        return;
    form.setMousePointer(target);
}

} // namespace

void Form1::PushButton6_MouseMove(qint16, qint16, float, float)
{
    showPointer(*this, kCustomPointer);
}

void Form1::Form_MouseMove(qint16, qint16, float, float)
{
    showPointer(*this, kDefaultPointer);
}

void Form1::Frame2_MouseMove(qint16, qint16, float, float)
{
    showPointer(*this, kDefaultPointer);
}

void Form1::Frame3_MouseMove(qint16, qint16, float, float)
{
    showPointer(*this, kDefaultPointer);
}

void Form1::Frame4_MouseMove(qint16, qint16, float, float)
{
    showPointer(*this, kDefaultPointer);
}

void Form1::Text1_MouseMove(qint16, qint16, float, float)
{
    showPointer(*this, kDefaultPointer);
}
