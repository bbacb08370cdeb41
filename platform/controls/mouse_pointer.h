// A window's pointer shape: one 16-bit setting that decides the pointer shown
// over the window and over every control on it. Code 0 gives each control
// its own ordinary pointer back (the I-beam over a text box, the arrow
// elsewhere); any other code shows that pointer everywhere over the window,
// over controls with a pointer of their own too. The codes are the ones
// stored and passed around for pointers: 0 default, 1 arrow, 2 cross, 3
// I-beam, 5 to 9 and 15 the sizing arrows, 10 up arrow, 11 hourglass, 12 no
// drop, 13 arrow and hourglass, 14 arrow and question mark, 99 the window's
// custom pointer image (the arrow while there is none). Code 4 (icon) shows
// the arrow. Any other code is refused with "Invalid property value" (380).
// It does not track which control is under the pointer; Qt does that.
#pragma once

#include "controls/picture.h"

#include <QCursor>
#include <QPointer>
#include <QtGlobal>

#include <vector>

class QWidget;

inline constexpr qint16 kDefaultPointer = 0;
inline constexpr qint16 kHourglassPointer = 11;
inline constexpr qint16 kCustomPointer = 99;

class MousePointerSetting
{
public:
    explicit MousePointerSetting(QWidget &window) : m_window(window) {}

    qint16 code() const { return m_code; }
    // customImage is used for code 99.
    void setCode(qint16 code, const Picture &customImage);

private:
    QWidget &m_window;
    qint16 m_code = kDefaultPointer;
    qint64 m_shownImageKey = 0; // the custom image shown for 99, by QPixmap::cacheKey()
    struct OwnPointer
    {
        QPointer<QWidget> control;
        QCursor cursor;
    };
    // Controls with a pointer of their own, and that pointer, while the window's shows over them.
    std::vector<OwnPointer> m_ownPointers;
};
