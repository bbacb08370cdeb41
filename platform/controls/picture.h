// Loading a picture from a file, as the run time's picture loader does: any
// image Qt reads (cursor and icon files through Qt's ICO plugin, BMP, PNG,
// GIF, JPEG). For a Windows cursor file (.cur) the hotspot is taken from the
// file's header, so the hand's fingertip is the click point; other pictures
// have no hotspot of their own and point with their centre.
// It does not keep or cache pictures; the caller owns what it returns.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QString>

struct Picture
{
    QPixmap image;
    QPoint hotSpot{-1, -1}; // in image pixels; (-1, -1) is the image's centre
};

// Throws RuntimeError 53 "File not found" when nothing is under path and 481
// "Invalid picture" when the file holds no picture Brisquet can read,
// including one larger than kMostPictureBytes (a pointer image is a few
// kilobytes; a huge file is no pointer and is not read).
Picture LoadPicture(const QString &path);

inline constexpr qint64 kMostPictureBytes = 4 * 1024 * 1024;
