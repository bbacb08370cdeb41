// The program's own resources, addressed by type and number as they were
// stored: LoadResData(103, "CUSTOM") gives the bytes of sound 103, unaltered.
// The resource files themselves are compiled into the program (resources/).
#pragma once

#include <QByteArray>
#include <QString>

// Throws RuntimeError 326 when there is no such resource.
QByteArray LoadResData(int number, const QString &type);
