// The program folder: the folder of the running executable, where Brisquet
// looks for its optional files (the hand pointer, the skin). Paths are built
// as the folder's text followed directly by a fixed tail that begins with a
// backslash, as they always were; on systems other than Windows the tail's
// backslashes become "/" here, in this one place. Nothing else is added or
// removed, so a folder with blanks or non-ASCII letters works unchanged.
#pragma once

#include <QString>

QString programFolder();

// programFolder() + tail, tail starting with "\": programFolderPath("\\HAND-M.CUR").
QString programFolderPath(const QString &tail);

// Tests point the program folder elsewhere; an empty folder restores the
// real one. Returns the folder it replaces (empty when none was set).
QString setProgramFolder(const QString &folder);
