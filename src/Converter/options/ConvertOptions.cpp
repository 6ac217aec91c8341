#include "options/ConvertOptions.h"

#include "options/Messages.h"

namespace korvane {

bool IsWholeNumber(const QString& text, long long* value)
{
    if (text.contains(QLatin1Char('.')))
        return false;
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok, 10);
    if (ok && value)
        *value = v;
    return ok;
}

// ---- TRational

void TRational::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source);
}

bool TRational::DeclaredDefault(const char* property, QVariant* value) const
{
    if (qstrcmp(property, "num") == 0) {
        *value = 25;
        return true;
    }
    if (qstrcmp(property, "den") == 0) {
        *value = 1;
        return true;
    }
    return false;
}

// ---- TAudioOptions

void TAudioOptions::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source);
}

bool TAudioOptions::DeclaredDefault(const char* property, QVariant* value) const
{
    if (qstrcmp(property, "MaxFrames") == 0) {
        *value = kMaxFramesUnlimited;
        return true;
    }
    return false;
}

void TAudioOptions::SetAudioSampleFmt(TAVAudioSampleFormat v)
{
    if (v != sfAuto)
        m_audioSampleFmt = v;
}

// ---- TSubtitleOptions

void TSubtitleOptions::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source);
}

// ---- TVideoOptions

TVideoOptions::TVideoOptions(QObject* parent) : TPersistent(parent), m_frameRate(new TRational(this)) {}

void TVideoOptions::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    const auto* src = static_cast<const TVideoOptions*>(source);
    // the inter matrix is set before the intra matrix
    SetInterMatrix(src->m_interMatrix);
    CopyPublishedProperties(source, {"InterMatrix"});
    VideoDiscard = src->VideoDiscard;
    PixelFormat = src->PixelFormat;
}

bool TVideoOptions::DeclaredDefault(const char* property, QVariant* value) const
{
    if (qstrcmp(property, "IntraDcPrecision") == 0) {
        *value = 8;
        return true;
    }
    return false;
}

bool TVideoOptions::SetMatrix(const QStringList& value, QStringList& list, std::array<uint16_t, 64>& data)
{
    if (value.isEmpty()) {
        list.clear();
        return true;
    }
    if (value.size() != 64) {
        ErrorBox(QStringLiteral("matrix element count should be equal 64"));
        return false;
    }
    std::array<uint16_t, 64> parsed{};
    for (int i = 0; i < 64; ++i) {
        long long v = 0;
        if (!IsWholeNumber(value[i], &v)) {
            ErrorBox(QStringLiteral("Invalid matrix element"));
            return false;
        }
        parsed[i] = static_cast<uint16_t>(v);
    }
    // the array only takes the values once the whole list is valid, so a
    // rejected list leaves the previous matrix intact
    data = parsed;
    list = value;
    return true;
}

void TVideoOptions::SetIntraMatrix(const QStringList& value)
{
    SetMatrix(value, m_intraMatrix, IntraMatrixData);
}

void TVideoOptions::SetInterMatrix(const QStringList& value)
{
    SetMatrix(value, m_interMatrix, InterMatrixData);
}

void TVideoOptions::SetFrameRate(TRational* value)
{
    m_frameRate->Assign(value);
}

void TVideoOptions::SetPass(int value)
{
    if (value < 0 || value > 2) {
        ErrorBox(QStringLiteral("pass number can be only 0, 1 or 2"));
        return;
    }
    m_pass = value;
}

// ---- TMuxerOptions, TGrabOptions, TFilterOptions

void TMuxerOptions::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source);
}

void TGrabOptions::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source);
}

void TFilterOptions::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source);
}

// ---- TAVConvertOptions

TAVConvertOptions::TAVConvertOptions(QObject* parent)
    : TPersistent(parent), m_audio(new TAudioOptions(this)), m_subtitle(new TSubtitleOptions(this)),
      m_video(new TVideoOptions(this)), m_muxer(new TMuxerOptions(this)), m_grab(new TGrabOptions(this)),
      m_filter(new TFilterOptions(this))
{
}

void TAVConvertOptions::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    // published properties only: the engine parameters and running totals stay
    CopyPublishedProperties(source);
}

bool TAVConvertOptions::DeclaredDefault(const char* property, QVariant* value) const
{
    if (qstrcmp(property, "ThreadCount") == 0) {
        *value = 1;
        return true;
    }
    return false;
}

void TAVConvertOptions::SetCodecOption(const QString& name, const QString& value)
{
    for (int i = 0; i < m_codecOptions.size(); ++i) {
        const QString& line = m_codecOptions[i];
        const int eq = line.indexOf(QLatin1Char('='));
        const QString lineName = eq < 0 ? line : line.left(eq);
        if (lineName.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (value.isEmpty())
            m_codecOptions.removeAt(i);
        else
            m_codecOptions[i] = lineName + QLatin1Char('=') + value;
        return;
    }
    m_codecOptions.append(QStringLiteral("%1=%2").arg(name, value));
}

} // namespace korvane
