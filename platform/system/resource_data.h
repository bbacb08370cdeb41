// The program's own resources, addressed by type and number as they were
// stored: LoadResData(103, "CUSTOM") gives the bytes of sound 103, unaltered;
// LoadResIcon(1) the program icon, icon group 1, with all its images.
// The resource files themselves are compiled into the program (resources/).
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QString>

// Throws RuntimeError 326 when there is no such resource.
QByteArray LoadResData(int number, const QString &type);

// Throws RuntimeError 326 when there is no such icon group.
QIcon LoadResIcon(int number);
