// Setting a published property by its dotted path below an object, from text
// (command line, scripts): "VideoOptions.FrameRate.num" = "30".
#pragma once

#include <QObject>
#include <QString>

namespace korvane {

// Returns an empty string on success, else why the path or value was refused.
// String lists take their lines separated by "|".
QString SetPropertyByPath(QObject* root, const QString& path, const QString& value);

} // namespace korvane
