// What Brisquet says of itself: the product name (the window's caption and
// the source of the application title), the maker, and the maker's home page.
// The version is the project's (CMakeLists.txt).
#pragma once

#include <QLatin1String>

inline constexpr QLatin1String kProductName("Brisquet");
inline constexpr QLatin1String kCompanyName("Quernwick");
inline constexpr QLatin1String kHomePageAddress("https://quernwick.example/brisquet/");
