#include "controls/presented_value.h"

#include "sound/sound_output.h"
#include "system/periodic_timer.h"

qint64 presentationTimeNs()
{
    if (!isHandlingTick())
        return monotonicNowNs();
    return dueTimeOfHandledTickNs() + soundHeardDelayNs();
}
