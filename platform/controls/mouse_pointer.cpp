#include "controls/mouse_pointer.h"

#include "system/runtime_error.h"

#include <QWidget>

#include <algorithm>
#include <optional>

namespace {

std::optional<Qt::CursorShape> shapeOf(qint16 code)
{
    switch (code) {
    case 1: case 4: return Qt::ArrowCursor;
    case 2: return Qt::CrossCursor;
    case 3: return Qt::IBeamCursor;
    case 5: case 15: return Qt::SizeAllCursor;
    case 6: return Qt::SizeBDiagCursor;
    case 7: return Qt::SizeVerCursor;
    case 8: return Qt::SizeFDiagCursor;
    case 9: return Qt::SizeHorCursor;
    case 10: return Qt::UpArrowCursor;
    case 11: return Qt::WaitCursor;
    case 12: return Qt::ForbiddenCursor;
    case 13: return Qt::BusyCursor;
    case 14: return Qt::WhatsThisCursor;
    default: return std::nullopt;
    }
}

QCursor cursorFor(qint16 code, const Picture &customImage)
{
    if (code != kCustomPointer)
        return QCursor(*shapeOf(code));
    if (customImage.image.isNull())
        return QCursor(Qt::ArrowCursor);
    return QCursor(customImage.image, customImage.hotSpot.x(), customImage.hotSpot.y());
}

} // namespace

void MousePointerSetting::setCode(qint16 code, const Picture &customImage)
{
    if (code != kDefaultPointer && code != kCustomPointer && !shapeOf(code))
        throw RuntimeError::invalidPropertyValue();
    // Moves come by the hundred: the same pointer again is not built and set anew.
    const qint64 imageKey = code == kCustomPointer ? customImage.image.cacheKey() : 0;
    if (code == m_code && imageKey == m_shownImageKey)
        return;
    m_code = code;
    m_shownImageKey = imageKey;

    if (code == kDefaultPointer) {
        m_window.unsetCursor();
        for (const OwnPointer &own : m_ownPointers)
            if (own.control)
                own.control->setCursor(own.cursor);
        m_ownPointers.clear();
        return;
    }
    const QCursor cursor = cursorFor(code, customImage);
    m_window.setCursor(cursor);
    for (QWidget *control : m_window.findChildren<QWidget *>()) {
        if (!control->testAttribute(Qt::WA_SetCursor))
            continue; // it shows the window's pointer already
        const bool saved = std::any_of(m_ownPointers.begin(), m_ownPointers.end(),
                                       [&](const OwnPointer &own) { return own.control == control; });
        if (!saved)
            m_ownPointers.push_back({control, control->cursor()});
        control->setCursor(cursor);
    }
}
