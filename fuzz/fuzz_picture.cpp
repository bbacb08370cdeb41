// Any bytes under the hand pointer's name: a picture, or the "Invalid
// picture" failure the load handler reports at its line 106.
#include "controls/picture.h"
#include "input_file.h"
#include "system/runtime_error.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdlib>

namespace {
QTemporaryDir *folder = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv); // for QPixmap; lives as long as the process
    folder = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = folder->filePath(QStringLiteral("HAND-M.CUR"));
    writeInputFile(path, data, size);
    try {
        const Picture picture = LoadPicture(path);
        if (picture.image.isNull())
            std::abort(); // a picture that is none should have been refused
    } catch (const RuntimeError &failure) {
        if (failure.number() != 481)
            std::abort();
    }
    return 0;
}
