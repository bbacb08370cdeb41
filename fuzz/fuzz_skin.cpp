// Any bytes as the skin file: applied to a window, or a clear failure.
#include "input_file.h"
#include "skin_framework.h"
#include "system/runtime_error.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdlib>

namespace {
QTemporaryDir *folder = nullptr;
QWidget *window = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv); // lives as long as the process
    folder = new QTemporaryDir;
    window = new QWidget;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = folder->filePath(QStringLiteral("o.cjs"));
    writeInputFile(path, data, size);
    SkinFramework skin;
    skin.setEnabled(true);
    try {
        skin.LoadSkin(path, QString());
        skin.ApplyWindow(qint32(window->winId()));
        window->ensurePolished(); // the sheet is parsed and its rules matched here
    } catch (const RuntimeError &failure) {
        if (failure.description().isEmpty())
            std::abort();
    }
    window->setStyleSheet(QString());
    return 0;
}
