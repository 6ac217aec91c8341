// Screenshots of the real windows. Each window's code registers a shot: a
// function that builds the window, as a user would see it, over the prepared
// settings folder, and returns it. korvane_screenshots shows each one, lets it
// settle, and writes "<name>.png" (and "<name>-dark.png" with a dark palette).
#pragma once

#include <QString>
#include <functional>
#include <vector>

class QWidget;

namespace korvane::shots {

struct Shot
{
    QString name;
    // Builds the window. The tool shows it, waits `settleMs` and grabs it,
    // then deletes it.
    std::function<QWidget*()> build;
    int settleMs = 300;
};

std::vector<Shot>& Registry();

struct Register
{
    Register(QString name, std::function<QWidget*()> build, int settleMs = 300)
    {
        Registry().push_back({std::move(name), std::move(build), settleMs});
    }
};

// A folder of sample media made once per run (a clip with sound, an odd-sized
// clip), for shots that open a source.
QString SampleClip();

} // namespace korvane::shots
