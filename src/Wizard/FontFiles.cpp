#include "FontFiles.h"

#include <QFileInfo>
#include <fontconfig/fontconfig.h>
#include <algorithm>
#include <memory>

namespace korvane {

namespace {

struct PatternFree
{
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct ObjectSetFree
{
    void operator()(FcObjectSet* s) const { FcObjectSetDestroy(s); }
};
struct FontSetFree
{
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternFree>;
using ObjectSetPtr = std::unique_ptr<FcObjectSet, ObjectSetFree>;
using FontSetPtr = std::unique_ptr<FcFontSet, FontSetFree>;

QString StringOf(FcPattern* pattern, const char* object)
{
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || !value)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char*>(value));
}

bool IsTrueTypeFile(const QString& file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    return suffix == u"ttf" || suffix == u"otf";
}

} // namespace

QString TFontFace::Caption() const
{
    return style.isEmpty() ? family : family + u' ' + style;
}

QList<TFontFace> InstalledFontFaces()
{
    QList<TFontFace> faces;
    if (!FcInit())
        return faces;
    PatternPtr pattern(FcPatternCreate());
    ObjectSetPtr objects(FcObjectSetBuild(FC_FAMILY, FC_STYLE, FC_FILE, FC_FONTFORMAT, nullptr));
    if (!pattern || !objects)
        return faces;
    FontSetPtr set(FcFontList(nullptr, pattern.get(), objects.get()));
    if (!set)
        return faces;
    for (int i = 0; i < set->nfont; ++i) {
        FcPattern* font = set->fonts[i];
        TFontFace face;
        // families and styles may be listed in several languages: the first is the default
        face.family = StringOf(font, FC_FAMILY);
        face.style = StringOf(font, FC_STYLE);
        face.file = StringOf(font, FC_FILE);
        if (face.family.isEmpty() || !IsTrueTypeFile(face.file) || StringOf(font, FC_FONTFORMAT) != u"TrueType")
            continue;
        faces << face;
    }
    std::sort(faces.begin(), faces.end(), [](const TFontFace& a, const TFontFace& b) {
        const int c = a.Caption().compare(b.Caption(), Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.file < b.file;
    });
    return faces;
}

QString MatchFontFile(const QString& pattern)
{
    if (!FcInit())
        return {};
    PatternPtr wanted(FcNameParse(reinterpret_cast<const FcChar8*>(pattern.toUtf8().constData())));
    if (!wanted)
        return {};
    FcPatternAddString(wanted.get(), FC_FONTFORMAT, reinterpret_cast<const FcChar8*>("TrueType"));
    if (!FcConfigSubstitute(nullptr, wanted.get(), FcMatchPattern))
        return {};
    FcDefaultSubstitute(wanted.get());
    FcResult result = FcResultNoMatch;
    PatternPtr match(FcFontMatch(nullptr, wanted.get(), &result));
    if (!match || result != FcResultMatch)
        return {};
    const QString file = StringOf(match.get(), FC_FILE);
    return QFileInfo::exists(file) ? file : QString();
}

} // namespace korvane
