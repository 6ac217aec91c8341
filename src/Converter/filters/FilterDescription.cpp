#include "filters/FilterDescription.h"
#include "filters/FontFamily.h"

#include "av/FFmpeg.h"
#include "options/Persistent.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace korvane {

namespace {

QString Escaped(const QString& text, const char* special)
{
    const QByteArray utf8 = text.toUtf8();
    char* out = nullptr;
    if (av_escape(&out, utf8.constData(), special, AV_ESCAPE_MODE_BACKSLASH, 0) < 0 || !out)
        throw EEngineError("Out of memory while building the video filter graph");
    const av::AvBuffer<char> owner(out);
    return QString::fromUtf8(out);
}

// Stored paths carry every "\" doubled; a lone "\" is kept as it is.
QString UndoubleBackslashes(const QString& stored)
{
    QString path;
    path.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        path += stored[i];
        if (stored[i] == u'\\' && i + 1 < stored.size() && stored[i + 1] == u'\\')
            ++i;
    }
    return path;
}

// A path handed to a demuxer: the "file:" protocol keeps a ':' in the name
// from being read as a protocol prefix.
QString FileUrl(const QString& path)
{
    return QStringLiteral("file:") + path;
}

[[noreturn]] void Malformed(const QString& element, const char* expected)
{
    throw EEngineError(QStringLiteral("Invalid video filter \"%1\": expected %2")
                           .arg(element, QString::fromLatin1(expected))
                           .toStdString());
}

// What is known about the pictures at a point of the chain.
struct Geometry
{
    bool sizeKnown = false;
    int width = 0;
    int height = 0;
    int chromaShiftW = 1; // log2 of the chroma subsampling factors
    int chromaShiftH = 1;
};

Geometry InitialGeometry(const FilterInput& input)
{
    Geometry g;
    g.sizeKnown = input.width > 0 && input.height > 0;
    g.width = input.width;
    g.height = input.height;
    // An unknown format is taken as 4:2:0, the safe side for encoders.
    if (const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(input.pixelFormat))) {
        g.chromaShiftW = d->log2_chroma_w;
        g.chromaShiftH = d->log2_chroma_h;
    }
    return g;
}

int RoundUp(int value, int shift)
{
    const int step = 1 << shift;
    return (value + step - 1) / step * step;
}

// Collects filters into chains; a logo needs a second source, so the chain
// is cut into labelled segments around it.
class GraphBuilder
{
public:
    void Add(const QString& filter) { m_pending << filter; }

    void AddLogo(const QString& path, int x, int y)
    {
        QString main = m_current;
        if (!m_pending.isEmpty()) {
            main = NewLabel();
            m_chains << Label(m_current) + m_pending.join(u',') + Label(main);
            m_pending.clear();
        }
        const QString logo = NewLabel();
        const QString args = QStringLiteral("filename=") + EscapeFilterValue(FileUrl(path)) +
                             QStringLiteral(":format_name=png_pipe");
        m_chains << QStringLiteral("movie=") + EscapeFilterArguments(args) + Label(logo);
        m_current = NewLabel();
        m_chains << Label(main) + Label(logo) + QStringLiteral("overlay=x=%1:y=%2").arg(x).arg(y) +
                        Label(m_current);
    }

    QString Finish()
    {
        if (m_chains.isEmpty())
            return m_pending.isEmpty() ? QStringLiteral("null") : m_pending.join(u',');
        if (m_pending.isEmpty()) {
            // the last logo feeds the sink directly
            QString& last = m_chains.last();
            last.chop(Label(m_current).size());
            last += Label(QStringLiteral("out"));
        } else {
            m_chains << Label(m_current) + m_pending.join(u',') + Label(QStringLiteral("out"));
        }
        return m_chains.join(u';');
    }

private:
    static QString Label(const QString& name) { return u'[' + name + u']'; }
    QString NewLabel() { return QStringLiteral("kv%1").arg(++m_labels); }

    QStringList m_chains;
    QStringList m_pending;
    QString m_current = QStringLiteral("in");
    int m_labels = 0;
};

void AddRotation(int degrees, Geometry& g, GraphBuilder& graph)
{
    const int turn = ((degrees % 360) + 360) % 360;
    if (turn == 0)
        return;
    if (turn == 90 || turn == 270) {
        // lossless quarter turns: no resampling, no lost row or column
        graph.Add(turn == 90 ? QStringLiteral("transpose=clock") : QStringLiteral("transpose=cclock"));
        std::swap(g.width, g.height);
        std::swap(g.chromaShiftW, g.chromaShiftH);
        return;
    }
    if (turn == 180) {
        graph.Add(QStringLiteral("hflip"));
        graph.Add(QStringLiteral("vflip"));
        return;
    }
    const QString angle = QStringLiteral("%1*PI/180").arg(turn);
    QString ow, oh;
    if (g.sizeKnown) {
        const RotatedSize size = RotatedCanvas(g.width, g.height, turn);
        g.width = RoundUp(size.width, g.chromaShiftW);
        g.height = RoundUp(size.height, g.chromaShiftH);
        ow = QString::number(g.width);
        oh = QString::number(g.height);
    } else {
        const int sw = 1 << g.chromaShiftW, sh = 1 << g.chromaShiftH;
        ow = QStringLiteral("ceil(trunc(rotw(%1))/%2)*%2").arg(angle).arg(sw);
        oh = QStringLiteral("ceil(trunc(roth(%1))/%2)*%2").arg(angle).arg(sh);
    }
    // nearest sample, black fill, enlarged canvas
    graph.Add(QStringLiteral("rotate=a=%1:ow=%2:oh=%3:c=black:bilinear=0").arg(angle, ow, oh));
}

bool ParseInt(const QString& text, int* value)
{
    bool ok = false;
    *value = text.trimmed().toInt(&ok);
    return ok;
}

// drawbox=X:Y:W:H[:Color]; a today's key=value drawbox passes through.
bool AddDrawBox(const QString& element, GraphBuilder& graph)
{
    const QString args = element.mid(int(sizeof "drawbox=") - 1);
    const QStringList f = args.split(u':');
    int v[4];
    const bool numeric = f.size() >= 4 && ParseInt(f[0], &v[0]) && ParseInt(f[1], &v[1]) &&
                         ParseInt(f[2], &v[2]) && ParseInt(f[3], &v[3]);
    if (!numeric) {
        if (args.contains(u'='))
            return false;
        Malformed(element, "drawbox=X:Y:Width:Height:Color");
    }
    if (f.size() > 5)
        Malformed(element, "drawbox=X:Y:Width:Height:Color");
    QString out = QStringLiteral("x=%1:y=%2:w=%3:h=%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
    const QString color = f.size() == 5 ? f[4].trimmed() : QString();
    if (!color.isEmpty())
        out += QStringLiteral(":color=") + EscapeFilterValue(color);
    graph.Add(QStringLiteral("drawbox=") + EscapeFilterArguments(out));
    return true;
}

const QRegularExpression& DrawTextPattern()
{
    static const QRegularExpression re(
        QStringLiteral(R"(drawtext=fontfile=(?:\\'(.*?)\\'|'(.*?)'|([^#']*))#text='(.*?)'#x=(-?\d+)#y=(-?\d+))"
                       R"(#fontsize=(-?\d+)#fgcolor=0x([0-9A-Fa-f]{8})#bgcolor=0x([0-9A-Fa-f]{8})(?=,|$))"),
        QRegularExpression::DotMatchesEverythingOption);
    return re;
}

void AddDrawText(const QRegularExpressionMatch& m, GraphBuilder& graph)
{
    QString font = m.captured(1);
    if (m.capturedStart(2) >= 0)
        font = m.captured(2);
    else if (m.capturedStart(3) >= 0)
        font = m.captured(3);
    font = UndoubleBackslashes(font);
    QString text = m.captured(4);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    if (text.isEmpty())
        return; // nothing to draw
    // expansion=none: the text is drawn literally, '%' and '\' included
    QString args;
    if (!font.isEmpty())
        args += QStringLiteral("fontfile=") + EscapeFilterValue(font) + u':';
    args += QStringLiteral("text=") + EscapeFilterValue(text) + QStringLiteral(":expansion=none");
    args += QStringLiteral(":x=%1:y=%2").arg(m.captured(5), m.captured(6));
    if (m.captured(7).toInt() > 0)
        args += QStringLiteral(":fontsize=") + m.captured(7);
    args += QStringLiteral(":fontcolor=0x") + m.captured(8);
    const QString bg = m.captured(9);
    if (bg.right(2).toInt(nullptr, 16) != 0) // a transparent background draws no box
        args += QStringLiteral(":box=1:boxcolor=0x") + bg;
    graph.Add(QStringLiteral("drawtext=") + EscapeFilterArguments(args));
}

const QRegularExpression& SubtitlePattern()
{
    static const QRegularExpression re(
        QStringLiteral(R"(ass=filename\$(.*?)#font\$(.*?)#color\$0x([0-9A-Fa-f]{1,8})(?:#codepage\$([^,#]*))?(?=,|$))"),
        QRegularExpression::DotMatchesEverythingOption);
    return re;
}

void AddSubtitles(const QRegularExpressionMatch& m, GraphBuilder& graph)
{
    const QString file = UndoubleBackslashes(m.captured(1));
    const QString font = UndoubleBackslashes(m.captured(2));
    // stored as 0xRRGGBB followed by "00"; ASS wants &HAABBGGRR, alpha 00 opaque
    const uint rgb = m.captured(3).toUInt(nullptr, 16) >> 8;
    const uint bgr = ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
    QString style = QStringLiteral("PrimaryColour=&H") + QString::number(bgr, 16).rightJustified(8, u'0').toUpper();
    QString args = QStringLiteral("filename=") + EscapeFilterValue(FileUrl(file));
    const QString codePage = m.captured(4).trimmed();
    if (!codePage.isEmpty())
        args += QStringLiteral(":charenc=") + EscapeFilterValue(codePage);
    if (!font.isEmpty()) {
        const QFileInfo info(font);
        args += QStringLiteral(":fontsdir=") + EscapeFilterValue(info.absolutePath());
        // libass finds a font by its family name, not by its file name; a
        // file that cannot be read keeps the old guess, its base name. The
        // style list is comma separated: a comma in a name would add a style.
        QString name = FontFamilyOfFile(font);
        if (name.isEmpty())
            name = info.completeBaseName();
        name.remove(u',');
        style = QStringLiteral("FontName=") + name + u',' + style;
    }
    args += QStringLiteral(":force_style=") + EscapeFilterValue(style);
    graph.Add(QStringLiteral("subtitles=") + EscapeFilterArguments(args));
}

const QRegularExpression& LogoPattern()
{
    static const QRegularExpression re(
        QStringLiteral(R"(movie=0:png:(.*?) \[wm\];\[in\]\[wm\] overlay=(-?\d+):(-?\d+):1 \[out\](?=,|$))"),
        QRegularExpression::DotMatchesEverythingOption);
    return re;
}

// Translates the element starting at pos; returns where the next one starts.
qsizetype TranslateElement(const QString& s, qsizetype pos, Geometry& g, GraphBuilder& graph)
{
    const QRegularExpression::MatchOptions anchored = QRegularExpression::AnchorAtOffsetMatchOption;
    const QStringView rest = QStringView(s).mid(pos);
    if (rest.startsWith(u"movie=0:png:")) {
        const auto m = LogoPattern().match(s, pos, QRegularExpression::NormalMatch, anchored);
        if (!m.hasMatch())
            Malformed(s.mid(pos), "movie=0:png:PATH [wm];[in][wm] overlay=X:Y:1 [out]");
        int x = 0, y = 0;
        if (!ParseInt(m.captured(2), &x) || !ParseInt(m.captured(3), &y))
            Malformed(m.captured(0), "logo offsets within the integer range");
        graph.AddLogo(UndoubleBackslashes(m.captured(1)), x, y);
        g.chromaShiftW = std::max(g.chromaShiftW, 1); // overlay delivers 4:2:0
        g.chromaShiftH = std::max(g.chromaShiftH, 1);
        return m.capturedEnd(0) + 1;
    }
    if (rest.startsWith(u"drawtext=fontfile=")) {
        const auto m = DrawTextPattern().match(s, pos, QRegularExpression::NormalMatch, anchored);
        if (m.hasMatch()) {
            AddDrawText(m, graph);
            return m.capturedEnd(0) + 1;
        }
        if (rest.contains(u"#text="))
            Malformed(s.mid(pos), "drawtext=fontfile='FONT'#text='TEXT'#x=X#y=Y#fontsize=S#fgcolor=0xRRGGBBAA#bgcolor=0xRRGGBBAA");
    }
    if (rest.startsWith(u"ass=filename$")) {
        const auto m = SubtitlePattern().match(s, pos, QRegularExpression::NormalMatch, anchored);
        if (!m.hasMatch())
            Malformed(s.mid(pos), "ass=filename$FILE#font$FONT#color$0xRRGGBB00[#codepage$CODEPAGE]");
        AddSubtitles(m, graph);
        return m.capturedEnd(0) + 1;
    }

    // the simple elements end at the next ','
    qsizetype end = s.indexOf(u',', pos);
    if (end < 0)
        end = s.size();
    const QString element = s.mid(pos, end - pos);
    const QString name = element.trimmed();
    if (name.isEmpty())
        return end + 1;
    if (name == u"vflip" || name == u"hflip" || name == u"negate") {
        graph.Add(name);
    } else if (name.startsWith(u"drawtext=") && name.contains(u'#')) {
        Malformed(name, "drawtext=fontfile='FONT'#text='TEXT'#x=X#y=Y#fontsize=S#fgcolor=0xRRGGBBAA#bgcolor=0xRRGGBBAA");
    } else if (name.startsWith(u"drawbox=")) {
        if (!AddDrawBox(name, graph)) {
            graph.Add(element);
            g.sizeKnown = false;
        }
    } else if (name.startsWith(u"rotate=")) {
        const QString arg = name.mid(7);
        int degrees = 0;
        if (ParseInt(arg, &degrees)) {
            AddRotation(degrees, g, graph);
        } else if (arg.contains(u'=')) {
            graph.Add(element); // today's rotate with named options
            g.sizeKnown = false;
        } else {
            Malformed(name, "rotate=DEGREES (a whole number)");
        }
    } else {
        graph.Add(element); // today's libavfilter text, unchanged
        g.sizeKnown = false;
    }
    return end + 1;
}

} // namespace

QString WrapUserGraph(const QString& user, const QString& head, const QString& tail)
{
    QString body = user;
    body.replace(QLatin1String("[in]"), QLatin1String("[kv_user_in]"));
    body.replace(QLatin1String("[out]"), QLatin1String("[kv_user_out]"));
    if (!user.contains(QLatin1String("[in]")))
        body.prepend(QLatin1String("[kv_user_in]"));
    if (!user.contains(QLatin1String("[out]")))
        body.append(QLatin1String("[kv_user_out]"));
    const QString null = QStringLiteral("null");
    return QStringLiteral("[in]%1[kv_user_in];[kv_user_out]%2[out];")
               .arg(head.isEmpty() ? null : head, tail.isEmpty() ? null : tail) +
           body;
}

QString EscapeFilterValue(const QString& value)
{
    return Escaped(value, ":");
}

QString EscapeFilterArguments(const QString& arguments)
{
    return Escaped(arguments, "[],;");
}

RotatedSize RotatedCanvas(int width, int height, int degrees)
{
    const auto max0 = [](double v) { return v >= 0 ? v : 0.0; };
    const double theta = degrees * M_PI / 180.0;
    const float sn = float(std::sin(theta));
    const float cs = float(std::cos(theta));
    const double w = width, h = height;
    const float transx = float(max0(h * sn) + max0(-w * cs));
    const float transy = float(max0(-h * cs) + max0(-w * sn));
    RotatedSize size;
    size.width = int(max0(w * cs) + transx + max0(-sn * h));
    size.height = int(max0(h * cs) + transy + max0(w * sn));
    return size;
}

QString BuildFilterGraphText(const QString& stored, const FilterInput& input)
{
    if (stored.trimmed().isEmpty())
        return {};
    Geometry geometry = InitialGeometry(input);
    GraphBuilder graph;
    for (qsizetype pos = 0; pos <= stored.size();)
        pos = TranslateElement(stored, pos, geometry, graph);
    return graph.Finish();
}

} // namespace korvane
