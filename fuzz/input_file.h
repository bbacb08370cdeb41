// The fuzz input as the file the program would read: the targets that
// exercise file readers write each input under the name Brisquet looks for.
#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdlib>

inline void writeInputFile(const QString &path, const uint8_t *data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort(); // the scratch folder must take it
}
