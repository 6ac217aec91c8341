// The free-form option mechanism: options set by name on the default
// contexts, remembered, and copied into every new codec or format context.
#include "transcode/AVConverter.h"
#include "transcode/Engine.h"
#include "options/LegacyOptions.h"
#include "options/Messages.h"

#include <QFile>

namespace korvane {

ConverterEngine::ConverterEngine(TAVConverter* owner_) : owner(owner_)
{
    for (int type = 0; type < 5; ++type) {
        defaultCodec[type].reset(avcodec_alloc_context3(nullptr));
        if (!defaultCodec[type])
            throw EEngineError("Out of memory");
        defaultCodec[type]->codec_type = static_cast<AVMediaType>(type);
    }
    defaultFormatOwner.reset(avformat_alloc_context());
    defaultScalerOwner.reset(sws_alloc_context());
    defaultFormat = defaultFormatOwner.get();
    defaultScaler = defaultScalerOwner.get();
    if (!defaultFormat || !defaultScaler)
        throw EEngineError("Out of memory");
    av_opt_set_int(defaultScaler, "sws_flags", 4, 0);
}

ConverterEngine::~ConverterEngine()
{
    CloseFiles();
    ReleaseDefaults();
}

void ConverterEngine::ReleaseDefaults()
{
    for (auto& ctx : defaultCodec)
        ctx.reset();
    defaultFormatOwner.reset();
    defaultFormat = nullptr;
    defaultScalerOwner.reset();
    defaultScaler = nullptr;
}

void ConverterEngine::RemoveEmptyOutputs()
{
    for (OutputEntry& out : outputs) {
        if (out.createdFile.isEmpty() || out.packetsWritten > 0 || !out.ctx)
            continue;
        if (!(out.ctx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&out.ctx->pb);
        QFile::remove(out.createdFile);
        out.createdFile.clear();
    }
}

void ConverterEngine::CloseFiles()
{
    outputs.clear();
    inputs.clear();
    av_channel_layout_uninit(&job.layout);
}

namespace {

// Video, audio, data, subtitle, attachment with their type masks.
constexpr struct
{
    AVMediaType type;
    int mask;
} kOptionTargets[] = {
    {AVMEDIA_TYPE_VIDEO, AV_OPT_FLAG_VIDEO_PARAM},       {AVMEDIA_TYPE_AUDIO, AV_OPT_FLAG_AUDIO_PARAM},
    {AVMEDIA_TYPE_DATA, 0},                              {AVMEDIA_TYPE_SUBTITLE, AV_OPT_FLAG_SUBTITLE_PARAM},
    {AVMEDIA_TYPE_ATTACHMENT, 0},
};

bool ClassKnows(const AVClass* const* cls, const char* name)
{
    return cls && *cls && av_opt_find(const_cast<const AVClass**>(cls), name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

// True when some encoder's or muxer's private class has the option.
bool PrivateClassKnows(const char* name)
{
    void* it = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&it))
        if (av_codec_is_encoder(codec) && ClassKnows(&codec->priv_class, name))
            return true;
    it = nullptr;
    while (const AVOutputFormat* fmt = av_muxer_iterate(&it))
        if (ClassKnows(&fmt->priv_class, name))
            return true;
    return false;
}

// 1 set, 0 unknown, -1 known but the value was refused.
int SetOnDefaults(ConverterEngine& e, const QByteArray& name, const QByteArray& value, int onlyType)
{
    bool found = false;
    int result = 0;
    for (const auto& target : kOptionTargets) {
        if (onlyType >= 0 && target.type != onlyType)
            continue;
        AVCodecContext* ctx = e.defaultCodec[target.type].get();
        if (!av_opt_find(ctx, name.constData(), nullptr, target.mask, 0))
            continue;
        found = true;
        result = av_opt_set(ctx, name.constData(), value.constData(), 0);
        if (result < 0)
            break;
    }
    if (!found && av_opt_find(e.defaultFormat, name.constData(), nullptr, 0, 0)) {
        found = true;
        result = av_opt_set(e.defaultFormat, name.constData(), value.constData(), 0);
    }
    if (!found && av_opt_find(e.defaultScaler, name.constData(), nullptr, 0, 0)) {
        found = true;
        result = av_opt_set(e.defaultScaler, name.constData(), value.constData(), 0);
    }
    if (!found && name.size() > 1) {
        // "ab", "vb", "scodec"...: the first letter names the media type
        const char prefix = name[0];
        const AVMediaType type = prefix == 'a'   ? AVMEDIA_TYPE_AUDIO
                                 : prefix == 'v' ? AVMEDIA_TYPE_VIDEO
                                 : prefix == 's' ? AVMEDIA_TYPE_SUBTITLE
                                                 : AVMEDIA_TYPE_UNKNOWN;
        if (type != AVMEDIA_TYPE_UNKNOWN) {
            AVCodecContext* ctx = e.defaultCodec[type].get();
            const QByteArray rest = name.mid(1);
            if (av_opt_find(ctx, rest.constData(), nullptr, 0, 0)) {
                found = true;
                result = av_opt_set(ctx, rest.constData(), value.constData(), 0);
            }
        }
    }
    if (!found)
        return 0;
    return result < 0 ? -1 : 1;
}

} // namespace

int TAVConverter::SetOption(const QString& name, const QString& value)
{
    ConverterEngine& e = *m_engine;
    if (!e.defaultFormat)
        return -1; // the job has ended: its default contexts are gone
    const std::vector<OptionSetting> settings = TranslateLegacyOption(name, value);
    int overall = -1;
    bool refused = false;
    for (const OptionSetting& s : settings) {
        const QByteArray n = s.name.toUtf8();
        const QByteArray v = s.value.toUtf8();
        if (s.skipReason.size()) {
            DoLog(AV_LOG_WARNING, QStringLiteral("Option %1 has no equivalent any more: %2").arg(name, s.skipReason));
            overall = 0;
            continue;
        }
        const int r = SetOnDefaults(e, n, v, s.mediaType);
        if (r < 0) {
            // the other settings this option stands for still apply
            ErrorBox(QStringLiteral("Invalid value for Option!"));
            refused = true;
            continue;
        }
        if (r > 0) {
            e.optionNames.append(s.name);
            overall = 0;
        } else if (PrivateClassKnows(n.constData())) {
            e.privateOptions.emplace_back(s.name, s.value);
            e.optionNames.append(s.name);
            overall = 0;
        }
    }
    return refused ? -1 : overall;
}

void CopyContextOptions(void* target, void* source, const QStringList& names, int mask)
{
    if (!target || !source)
        return;
    for (const QString& name : names) {
        const QByteArray n = name.toUtf8();
        const AVOption* opt = av_opt_find(source, n.constData(), nullptr, mask, 0);
        if (!opt || (opt->flags & mask) != mask)
            continue;
        uint8_t* text = nullptr;
        if (av_opt_get(source, n.constData(), 0, &text) >= 0 && text) {
            if (strlen(reinterpret_cast<char*>(text)) < 256)
                av_opt_set(target, n.constData(), reinterpret_cast<char*>(text), 0);
            av_free(text);
        }
    }
}

void AddPrivateOptions(const ConverterEngine& engine, const AVClass* const* cls, AVDictionary** dict)
{
    for (const auto& [name, value] : engine.privateOptions) {
        const QByteArray n = name.toUtf8();
        if (ClassKnows(cls, n.constData()))
            av_dict_set(dict, n.constData(), value.toUtf8().constData(), 0);
    }
}

QString EncoderAlias(const QString& name, QString* note)
{
    if (name.isEmpty() || avcodec_find_encoder_by_name(name.toUtf8().constData()))
        return name;
    // encoders of libraries this build may not have, and what stands in for them
    static const std::pair<const char*, const char*> kAliases[] = {
        {"libfaac", "aac"},       {"libvo_aacenc", "aac"}, {"libopencore_amrnb", "aac"},
        {"libvo_amrwbenc", "aac"}, {"libxvid", "mpeg4"},    {"libtheora", "mpeg4"},
    };
    for (const auto& [from, to] : kAliases) {
        if (name == QLatin1String(from) && avcodec_find_encoder_by_name(to)) {
            if (note)
                *note = QStringLiteral("Encoder %1 is not available, %2 is used instead").arg(name, to);
            return QString::fromLatin1(to);
        }
    }
    return name;
}

int StopRequestedCallback(void* opaque)
{
    return static_cast<TAVConverter*>(opaque)->StopRequested() ? 1 : 0;
}

int OutputOpenInterruptCallback(void* opaque)
{
    const auto* engine = static_cast<const ConverterEngine*>(opaque);
    return engine->openingOutputs && engine->owner->StopRequested() ? 1 : 0;
}

AVCodecID FindCodec(const QString& name, AVMediaType type, bool encoder)
{
    if (name.isEmpty())
        return AV_CODEC_ID_NONE;
    const QByteArray n = (encoder ? EncoderAlias(name, nullptr) : name).toUtf8();
    const AVCodec* codec = encoder ? avcodec_find_encoder_by_name(n.constData())
                                   : avcodec_find_decoder_by_name(n.constData());
    if (!codec)
        throw EEngineError("Unknown Codec Name");
    if (codec->type != type)
        throw EEngineError("Invalid codec type");
    return codec->id;
}

} // namespace korvane
