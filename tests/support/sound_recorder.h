// While a SoundRecorder lives, sound requests are only recorded, with the
// time each sound was due; it restores the previous player when it goes.
#pragma once

#include "platform_recorders.h"
#include "sound/sound_output.h"

#include <QByteArray>
#include <QList>

#include <functional>

class SoundRecorder
{
public:
    QList<QByteArray> images;
    QList<qint64> dueTimesNs;
    std::function<void(const QByteArray &)> onPlay;

private:
    SeamGuard<SoundPlayHandler, &setSoundPlayHandler> m_guard{[this](const QByteArray &image, qint64 dueNs) {
        images.append(image);
        dueTimesNs.append(dueNs);
        if (onPlay)
            onPlay(image);
    }};
};
