// The procedures Form_Load calls that need no window: the file test, the
// home-page draw and the application title. ApplySkin works on the window
// and is a member of Form1.
#pragma once

#include <QString>

// True when path names something whose last-modified time can be read. A
// failed query means absent; this never raises.
bool FileExists(const QString &path);

// Reseeds the generator from the time of day and draws n from 1 to 100;
// n = 7, about one start in a hundred, opens the maker's home page without
// waiting. Returns n.
int HomePageDraw();

// Sets the application title to titleFromProductName() of the product name.
void SetAppTitle();

// Cuts the name at its last blank, then again while what is left is longer
// than 40 characters: at least one cut is made, so three words give the
// first two. A name with no blank left to cut at (Brisquet is one) keeps
// what it has.
QString titleFromProductName(const QString &productName);
