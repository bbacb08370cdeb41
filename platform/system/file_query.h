// File queries of the run time: a file's last-modified time and the
// directory query for one file name. They only look; they never open, create
// or change a file.
#pragma once

#include <QDateTime>
#include <QString>

// The last-modified time of path (a file or a folder). Throws RuntimeError 53
// "File not found" when there is nothing under that name.
QDateTime FileDateTime(const QString &path);

// The directory query with the mask for normal files: the file name of path
// when it names a normal file, otherwise the empty text. A normal file is a
// regular file (a link counts by what it points to); a folder, a device, a
// dangling link and, on Windows, a hidden or system file count as absent.
// A query the system cannot answer answers as absent.
QString Dir(const QString &path);
