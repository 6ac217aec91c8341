#include "options/LegacyOptions.h"

#include <QMap>
#include <QStringList>

namespace korvane {

namespace {

// "+a+b-c" -> [("a", true), ("b", true), ("c", false)]; a bare "a" is "+a".
std::vector<std::pair<QString, bool>> FlagList(const QString& value)
{
    std::vector<std::pair<QString, bool>> out;
    QString current;
    bool on = true;
    auto flush = [&] {
        if (!current.isEmpty())
            out.emplace_back(current, on);
        current.clear();
    };
    for (const QChar c : value) {
        if (c == QLatin1Char('+') || c == QLatin1Char('-')) {
            flush();
            on = c == QLatin1Char('+');
        } else {
            current += c;
        }
    }
    flush();
    return out;
}

// Old flags2 bits of the H.264 encoder and their private booleans today.
const QMap<QString, QString>& Flags2Map()
{
    static const QMap<QString, QString> map{
        {"mixed_refs", "mixed-refs"}, {"wpred", "weightb"},   {"dct8x8", "8x8dct"},
        {"fastpskip", "fast-pskip"},  {"mbtree", "mbtree"},   {"aud", "aud"},
    };
    return map;
}

std::vector<OptionSetting> TranslateFlags2(const QString& value)
{
    std::vector<OptionSetting> out;
    for (const auto& [flag, on] : FlagList(value)) {
        if (flag == QLatin1String("bpyramid"))
            out.push_back({"b-pyramid", on ? "normal" : "none", {}});
        else if (Flags2Map().contains(flag))
            out.push_back({Flags2Map().value(flag), on ? "1" : "0", {}});
        else if (flag == QLatin1String("psy"))
            out.push_back({"psy", on ? "1" : "0", {}});
        else if (flag == QLatin1String("skiprd"))
            out.push_back({"mpv_flags", on ? "+skip_rd" : "-skip_rd", {}});
        else if (flag == QLatin1String("ivlc"))
            out.push_back({"intra_vlc", on ? "1" : "0", {}});
        else if (flag == QLatin1String("non_linear_q"))
            out.push_back({"non_linear_quant", on ? "1" : "0", {}});
        else if (flag == QLatin1String("local_header"))
            out.push_back({"flags2", (on ? "+" : "-") + flag, {}});
        else
            out.push_back({{}, {}, QStringLiteral("flags2 %1").arg(flag)});
    }
    return out;
}

std::vector<OptionSetting> TranslatePartitions(const QString& value)
{
    QStringList parts;
    for (const auto& [flag, on] : FlagList(value)) {
        // the old minus form did not disable anything either; only "+" names count
        if (!on)
            continue;
        QString p = flag;
        if (p.startsWith(QLatin1String("part")))
            p = p.mid(4);
        parts << p;
    }
    return {{"partitions", parts.isEmpty() ? QStringLiteral("none") : parts.join(','), {}}};
}

} // namespace

std::vector<OptionSetting> TranslateLegacyOption(const QString& name, const QString& value)
{
    const QString n = name.trimmed();
    if (n == QLatin1String("flags2"))
        return TranslateFlags2(value);
    if (n == QLatin1String("partitions"))
        return TranslatePartitions(value);
    // "b" once named the video bit rate and "ab" the audio one; today both
    // media types share "b", so each keeps to its own type
    if (n == QLatin1String("b"))
        return {{"b", value, {}, 0}};
    if (n == QLatin1String("ab"))
        return {{"b", value, {}, 1}};
    if (n == QLatin1String("cqp"))
        return {{"qp", value, {}}};
    if (n == QLatin1String("directpred")) {
        static const QStringList modes{"none", "spatial", "temporal", "auto"};
        bool ok = false;
        const int v = value.toInt(&ok);
        return {{"direct-pred", ok && v >= 0 && v < modes.size() ? modes[v] : value, {}}};
    }
    if (n == QLatin1String("cmp") && (value == QLatin1String("+chroma") || value == QLatin1String("-chroma")))
        return {{"cmp", value == QLatin1String("+chroma") ? "chroma" : "sad", {}}};
    if (n == QLatin1String("flags")) {
        // the scan offset flag moved to the MPEG-2 encoder's own options
        std::vector<OptionSetting> out;
        QString rest;
        for (const auto& [flag, on] : FlagList(value)) {
            if (flag == QLatin1String("scan_offset"))
                out.push_back({"scan_offset", on ? "1" : "0", {}});
            else
                rest += (on ? "+" : "-") + flag;
        }
        if (!rest.isEmpty())
            out.insert(out.begin(), {"flags", rest, {}});
        return out;
    }
    if (n == QLatin1String("me_method") && value == QLatin1String("epzs"))
        return {{"me_method", "dia", {}}};
    return {{n, value, {}}};
}

} // namespace korvane
