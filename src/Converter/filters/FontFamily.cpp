#include "filters/FontFamily.h"

#include <QFile>
#include <fontconfig/fontconfig.h>
#include <memory>

namespace korvane {

namespace {

struct PatternFree
{
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};

} // namespace

QString FontFamilyOfFile(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QByteArray file = QFile::encodeName(path);
    int faces = 0;
    std::unique_ptr<FcPattern, PatternFree> face(
        FcFreeTypeQuery(reinterpret_cast<const FcChar8*>(file.constData()), 0, nullptr, &faces));
    if (!face)
        return {};
    FcChar8* family = nullptr;
    // families may be listed in several languages: the first is the default
    if (FcPatternGetString(face.get(), FC_FAMILY, 0, &family) != FcResultMatch || !family)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char*>(family));
}

} // namespace korvane
