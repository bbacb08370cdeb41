// Where the tempo box's text is kept between runs: application "Quernwick",
// section "Brisquet", key "Text1". These names are what earlier runs stored
// the text under, so they never change.
#pragma once

#include <QLatin1String>

inline constexpr QLatin1String kSettingsAppName("Quernwick");
inline constexpr QLatin1String kSettingsSection("Brisquet");
inline constexpr QLatin1String kTempoKey("Text1");
inline constexpr QLatin1String kDefaultTempoText("120");
