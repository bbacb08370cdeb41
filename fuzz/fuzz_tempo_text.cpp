// Any text in the tempo box: tempoFromText never crashes, and it agrees with
// the plain reference reading on every input, value or overflow.
#include "system/runtime_error.h"
#include "tempo_reference.h"
#include "tempo_text.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    std::optional<qint32> value;
    try {
        value = Met::tempoFromText(text);
    } catch (const RuntimeError &failure) {
        if (failure.number() != RuntimeError::Overflow)
            std::abort();
    }
    const std::optional<qint32> expected = referenceTempo(text);
    if (value != expected) {
        std::fprintf(stderr, "tempoFromText(\"%s\"): %s, the reference reads %s\n", qPrintable(text),
                     value ? qPrintable(QString::number(*value)) : "overflow",
                     expected ? qPrintable(QString::number(*expected)) : "overflow");
        std::abort();
    }
    return 0;
}
