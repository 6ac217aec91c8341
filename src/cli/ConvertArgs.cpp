#include <cmath>
#include "ConvertArgs.h"

#include "options/PropertyPath.h"
#include "sources/dvd/DvdSource.h"

namespace korvane::cli {

namespace {

bool ParseSeconds(const QString& text, int64_t* us)
{
    bool ok = false;
    const double s = text.toDouble(&ok);
    if (!ok || !std::isfinite(s) || s < 0 || s > 1e9)
        return false;
    *us = int64_t(s * 1000000.0 + 0.5);
    return true;
}

bool SplitPair(const QString& text, QPair<QString, QString>* pair)
{
    const qsizetype eq = text.indexOf('=');
    if (eq <= 0)
        return false;
    *pair = {text.left(eq), text.mid(eq + 1)};
    return true;
}

// Options that take a value; the rest are switches.
QString ParseValueOption(const QString& a, const QString& value, ConvertRequest* r, TAVConvertOptions* scratch)
{
    QPair<QString, QString> pair;
    if (a == "-o" || a == "--output") {
        r->output = value;
    } else if (a == "-p" || a == "--profile") {
        r->profile = value;
    } else if (a == "--set") {
        if (!SplitPair(value, &pair))
            return "--set needs PATH=VALUE";
        const QString error = SetPropertyByPath(scratch, pair.first, pair.second);
        if (!error.isEmpty())
            return "--set " + pair.first + ": " + error;
        r->sets << pair;
    } else if (a == "--option") {
        if (!SplitPair(value, &pair))
            return "--option needs NAME=VALUE";
        r->codecOptions << pair;
    } else if (a == "--format") {
        r->format = value;
    } else if (a == "--filter") {
        r->filter = value;
    } else if (a == "--log") {
        r->logFile = value;
    } else if (a == "--start" || a == "--end") {
        if (!ParseSeconds(value, a == "--start" ? &r->startUs : &r->endUs))
            return a + " needs a number of seconds, not '" + value + "'";
    } else if (a == "--title" || a == "--angle" || a == "-j" || a == "--jobs") {
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 1 || n > 1000)
            return a + " needs a number from 1, not '" + value + "'";
        (a == "--title" ? r->title : a == "--angle" ? r->angle : r->jobs) = n;
    } else if (a == "--chapters") {
        if (!dvd::ParseChapterRange(value, &r->firstChapter, &r->lastChapter))
            return "--chapters needs a range A-B, not '" + value + "'";
    } else {
        return "unknown option " + a;
    }
    return {};
}

bool TakesValue(const QString& a)
{
    static const QStringList names = {"-o",      "--output", "-p",     "--profile", "--set",   "--option",
                                      "--format", "--filter", "--log", "--start",   "--end",   "--title",
                                      "--angle",  "-j",       "--jobs", "--chapters"};
    return names.contains(a);
}

} // namespace

QString ParseConvertArgs(const QStringList& args, ConvertRequest* r)
{
    TAVConvertOptions scratch;
    bool onlySources = false; // after "--" every argument is a source
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (onlySources) {
            r->sources << a;
        } else if (a == "--") {
            onlySources = true;
        } else if (TakesValue(a)) {
            if (i + 1 >= args.size())
                return a + " needs a value";
            const QString error = ParseValueOption(a, args[++i], r, &scratch);
            if (!error.isEmpty())
                return error;
        } else if (a == "--overwrite") {
            r->overwrite = true;
        } else if (a == "--resume") {
            r->resume = true;
        } else if (a == "--quiet" || a == "-q") {
            r->quiet = true;
        } else if (a == "--recursive" || a == "-r") {
            r->recursive = true;
        } else if (a == "--json") {
            r->json = true;
        } else if (a.startsWith('-') && a.size() > 1) {
            return "unknown option " + a;
        } else {
            r->sources << a;
        }
    }
    if (r->sources.isEmpty())
        return "convert needs at least one source";
    if (r->endUs >= 0 && r->endUs <= std::max<int64_t>(r->startUs, 0))
        return "--end must be after --start";
    if (r->output.isEmpty() && r->profile.isEmpty())
        return "convert needs an output (-o PATH) or a profile (-p NAME) to name the output";
    return {};
}

void ApplyCommandLine(const ConvertRequest& r, TAVConvertOptions* o)
{
    for (const auto& [path, value] : r.sets)
        SetPropertyByPath(o, path, value); // checked while parsing
    for (const auto& [name, value] : r.codecOptions)
        o->SetCodecOption(name, value);
    if (!r.format.isEmpty())
        o->m_outputFormat = r.format;
    if (!r.filter.isEmpty())
        o->FilterOptions()->m_videoFilters = r.filter;
    if (r.startUs > 0)
        o->m_startTime = r.startUs;
    if (r.endUs >= 0)
        o->m_recordingTime = r.endUs - std::max<int64_t>(r.startUs, 0);
}

} // namespace korvane::cli
