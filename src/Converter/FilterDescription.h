// Placeholder until the filter text translation lands: passes the text through.
#pragma once
#include <QString>
namespace korvane {
struct FilterInput
{
    int width = 0;
    int height = 0;
    int pixelFormat = -1;
};
inline QString BuildFilterGraphText(const QString& stored, const FilterInput&) { return stored; }
} // namespace korvane
