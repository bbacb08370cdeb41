#include "presented_value.h"

#include "periodic_timer.h"
#include "sound_output.h"

qint64 presentationTimeNs()
{
    if (!isHandlingTick())
        return monotonicNowNs();
    return dueTimeOfHandledTickNs() + soundHeardDelayNs();
}
