// The product's name and addresses, kept in one place: the window caption,
// the about box, "Homepage" and "Bug Report" read them from here.
#pragma once

namespace korvane::links {

inline constexpr char kProductTitle[] = "Korvane Video Converter";
inline constexpr char kVersion[] = KORVANE_VERSION;
inline constexpr char kHomepage[] = "https://korvane.example.org/";
inline constexpr char kBugReport[] = "mailto:support@korvane.example.org?subject=Korvane%20Video%20Converter%20bug%20report";

} // namespace korvane::links
