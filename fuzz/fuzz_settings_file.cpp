// Any bytes on disk as Brisquet's settings file: the tempo box gets some
// text (or the default), the first keystroke's write goes through, and no
// byte the user had is lost: the file is moved aside, or copied aside, or
// every one of its lines is still in it.
#include "input_file.h"
#include "settings_store.h"
#include "system/runtime_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

QTemporaryDir *configHome = nullptr;
int inputs = 0;

QSet<QByteArray> linesOf(const QByteArray &bytes)
{
    QSet<QByteArray> lines;
    for (const QByteArray &line : bytes.split('\n'))
        lines.insert(line.endsWith('\r') ? line.chopped(1) : line);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    configHome = new QTemporaryDir;
    qputenv("XDG_CONFIG_HOME", configHome->path().toLocal8Bit());
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray original(reinterpret_cast<const char *>(data), qsizetype(size));
    // A section of its own per input: the store checks each file once per run.
    const QString section = QStringLiteral("Brisquet%1").arg(++inputs);
    const QString fileName = settingsLocation(QStringLiteral("Quernwick"), section);
    const QDir folder = QFileInfo(fileName).dir();
    folder.mkpath(QStringLiteral("."));
    writeInputFile(fileName, data, size);

    try {
        (void)GetSetting(QStringLiteral("Quernwick"), section, QStringLiteral("Text1"), QStringLiteral("120"));
        SaveSetting(QStringLiteral("Quernwick"), section, QStringLiteral("Text1"), QStringLiteral("96"));
    } catch (const RuntimeError &) {
        std::abort(); // the folder is writable: a failure here loses the user's tempo
    }

    bool kept = false;
    const QStringList beside = folder.entryList({QFileInfo(fileName).fileName() + ".*"}, QDir::Files);
    for (const QString &name : beside) {
        QFile copy(folder.filePath(name));
        kept = kept || (copy.open(QIODevice::ReadOnly) && copy.readAll() == original);
    }
    if (!kept) {
        QFile rewritten(fileName);
        if (!rewritten.open(QIODevice::ReadOnly))
            std::abort();
        const QSet<QByteArray> after = linesOf(rewritten.readAll());
        for (const QByteArray &line : linesOf(original))
            if (!after.contains(line) && !line.startsWith("Text1="))
                std::abort();
    }
    for (const QString &name : beside)
        QFile::remove(folder.filePath(name));
    QFile::remove(fileName);
    return 0;
}
