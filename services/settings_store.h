// The per-user settings store: texts addressed by application name, section
// and key, kept between runs. Values go in and come back unchanged, whatever
// characters they hold. Each call goes to the store itself; nothing is kept
// in memory here.
//
// Where entries live:
//  - Windows: HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>,
//    one string value per key, where earlier Brisquet releases kept them.
//  - Elsewhere: one file per application name and section,
//    $XDG_CONFIG_HOME/<app>/<section>.conf (normally ~/.config/...).
//
// A settings file that does not read cleanly is moved aside, next to the
// original with a ".unreadable-<time>" suffix, before the first write, so a
// write never silently drops what the user had. One that reads, but that a
// rewrite would not keep line for line (comments, lines that are no entry,
// bytes that are no UTF-8: whatever a trial rewrite drops), is copied beside
// itself as ".as-edited-<content hash>" before the first write of a run,
// once per distinct content.
#pragma once

#include <QString>

// The stored text, or defaultValue when the entry (or its section or
// application) does not exist. An existing empty text is returned as such.
// Throws RuntimeError when the store cannot be read.
QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue);

// Stores value, creating what is needed; complete (on disk) when it returns.
// Throws RuntimeError (75, "Path/File access error") when the store cannot
// be written.
void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value);

// Where the entries of appName/section are kept, as shown to the user.
QString settingsLocation(const QString &appName, const QString &section);
