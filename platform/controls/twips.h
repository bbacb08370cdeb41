// Layout unit conversion. Brisquet's window is designed in twips, 1/1440 inch;
// Qt lays out in logical pixels of 1/96 inch, so 15 twips make one pixel.
// Values are rounded to the nearest pixel (halves away from zero).
#pragma once

#include <QRect>

constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return twips >= 0 ? (twips * 2 + kTwipsPerPixel) / (2 * kTwipsPerPixel)
                      : -((-twips * 2 + kTwipsPerPixel) / (2 * kTwipsPerPixel));
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}
