// Encoder and muxer options of older library generations, mapped to today's
// names, so stored profiles keep working. An option with no equivalent is
// skipped with a log line, never an error box.
#pragma once

#include <QString>
#include <vector>

namespace korvane {

struct OptionSetting
{
    QString name;
    QString value;
    QString skipReason; // non-empty: nothing to set, say why in the log
    int mediaType = -1;  // >= 0: set only on the default context of this media type
};

// The settings that stand for (name, value) today; a name without a mapping
// comes back unchanged.
std::vector<OptionSetting> TranslateLegacyOption(const QString& name, const QString& value);

} // namespace korvane
