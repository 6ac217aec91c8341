// Every profile of the built-in catalog converts a short clip with video and
// audio into a file that ffprobe reads and the ffmpeg tool decodes end to
// end, with what the profile asks for.
#include "transcode/AVConverter.h"
#include "profiles/AVProfile.h"
#include "transcode/Engine.h"
#include "JobRunner.h"
#include "MediaFixtures.h"
#include "ProfileCatalog.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

QString MatrixClip()
{
    return Fixture("matrix.mkv", {"-f", "lavfi", "-i", "testsrc=size=352x288:rate=25:duration=1", "-f", "lavfi", "-i",
                                  "sine=frequency=440:sample_rate=44100:duration=1", "-ac", "2", "-c:v", "mpeg4",
                                  "-q:v", "4", "-c:a", "pcm_s16le"});
}

struct Expected
{
    QString videoCodec;
    QString audioCodec;
    int width = 0, height = 0, sampleRate = 0, channels = 0;
    double frameRate = 25; // the clip's rate unless the profile asks for another
};

double Rate(const QString& fraction)
{
    const QStringList p = fraction.split('/');
    return p.size() == 2 && p[1].toDouble() != 0 ? p[0].toDouble() / p[1].toDouble() : 0;
}

// The codec name ffprobe reports for an encoder name.
QString CodecNameOf(const QString& encoder)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(EncoderAlias(encoder, nullptr).toUtf8().constData());
    return codec ? QString::fromLatin1(avcodec_get_name(codec->id)) : QString();
}

// What a profile writes into the options tree, read back from a converter.
Expected ExpectedOf(TAVProfile* profile)
{
    TAVConverter probe;
    TAVConvertOptions* o = probe.ConvertOptions();
    profile->Apply(o);
    Expected e;
    e.videoCodec = o->VideoOptions()->m_encoderVideoCodecName;
    e.audioCodec = o->AudioOptions()->m_encoderAudioCodecName;
    e.width = o->VideoOptions()->m_frameWidth;
    e.height = o->VideoOptions()->m_frameHeight;
    e.sampleRate = o->AudioOptions()->m_audioSampleRate;
    e.channels = o->AudioOptions()->m_audioChannels;
    const TRational* rate = o->VideoOptions()->FrameRate();
    if (rate->den() > 0 && rate->num() > 0)
        e.frameRate = double(rate->num()) / rate->den();
    return e;
}

} // namespace

TEST(CatalogMatrix, EveryProfileConverts)
{
    TAVProfileList list;
    QObject owner;
    BuildProfileCatalog(&list, &owner);
    ASSERT_EQ(list.Count(), 68);
    const QString clip = MatrixClip();
    const QString dir = TempDir();
    QStringList failures;
    for (int i = 0; i < list.Count(); ++i) {
        TAVProfile* profile = list.Items(i);
        const QString name = profile->Description();
        const QString folder = dir + QStringLiteral("/p%1").arg(i);
        QDir().mkpath(folder);
        const QString output = folder + "/out" + profile->GetExtension();
        TAVConverter c;
        JobEvents ev;
        Record(c, ev);
        c.ConvertOptions()->m_inputFormat.clear();
        c.ConvertOptions()->m_threadCount = 0;
        profile->Apply(c.ConvertOptions());
        c.SetInputFiles({clip});
        c.SetOutputFiles({output});
        MessageRecorder messages;
        c.Start();
        if (!WaitFinished(ev, 120000)) {
            failures << name + ": timed out";
            continue;
        }
        if (!c.ErrorText().isEmpty() || !ev.order.contains("complete")) {
            failures << name + ": " + c.ErrorText() + " / " + c.LastLogLine();
            continue;
        }
        // image sequences: the first picture is numbered 1
        QString first = output;
        // pictures are numbered from 1; a GIF holds every picture in one file
        const bool gif = profile->GetExtension().endsWith(".gif");
        const bool sequence = qobject_cast<TAVImageProfile*>(profile) && !gif;
        if (sequence && !QFileInfo::exists(first))
            first = folder + "/out1" + profile->GetExtension();
        const ProbeResult p = Probe(first);
        if (!p.ok) {
            failures << name + ": unreadable output " + first + " " + p.error.left(200);
            continue;
        }
        const Expected e = ExpectedOf(profile);
        const ProbeStream* v = p.First("video");
        const ProbeStream* a = p.First("audio");
        QStringList problems;
        if (!v && !e.videoCodec.isEmpty())
            problems << "no video";
        if (v && !e.videoCodec.isEmpty() && v->codecName != CodecNameOf(e.videoCodec))
            problems << "video codec " + v->codecName + ", wanted " + CodecNameOf(e.videoCodec);
        if (a && !e.audioCodec.isEmpty() && a->codecName != CodecNameOf(e.audioCodec))
            problems << "audio codec " + a->codecName + ", wanted " + CodecNameOf(e.audioCodec);
        if (v && !sequence && !gif && std::abs(Rate(v->frameRate) - e.frameRate) > 0.01)
            problems << QStringLiteral("frame rate %1, wanted %2").arg(v->frameRate).arg(e.frameRate);
        if (v && e.width > 0 && (v->width != e.width || v->height != e.height))
            problems << QStringLiteral("size %1x%2, wanted %3x%4").arg(v->width).arg(v->height).arg(e.width).arg(e.height);
        if (a && e.sampleRate > 0 && a->sampleRate != e.sampleRate)
            problems << QStringLiteral("rate %1, wanted %2").arg(a->sampleRate).arg(e.sampleRate);
        if (a && e.channels > 0 && a->channels != e.channels)
            problems << QStringLiteral("channels %1, wanted %2").arg(a->channels).arg(e.channels);
        if (v && a && v->duration > 0 && a->duration > 0 && std::abs(v->duration - a->duration) >= 0.1)
            problems << QStringLiteral("video %1 s, audio %2 s").arg(v->duration).arg(a->duration);
        QString decodeError;
        if (sequence && !QFileInfo::exists(folder + "/out2" + profile->GetExtension().right(4)))
            problems << "only one picture";
        if (gif && (!v || v->packets < 2))
            problems << "GIF without its pictures";
        if (!sequence && !DecodesCleanly(first, &decodeError))
            problems << "decode: " + decodeError.left(200);
        // every option a profile sets is understood: no "Invalid value for Option!"
        // and no unknown bitstream filter
        if (!messages.Texts().isEmpty())
            problems << "messages: " + messages.Texts().join(" | ");
        if (!problems.isEmpty())
            failures << name + ": " + problems.join("; ");
    }
    EXPECT_TRUE(failures.isEmpty()) << failures.size() << " profiles failed:\n"
                                    << failures.join("\n").toStdString();
}

// Every encoder option a catalog profile sets names something today, either
// directly or through the table of older option names.
TEST(CatalogMatrix, EveryProfileOptionIsKnown)
{
    TAVProfileList list;
    QObject owner;
    BuildProfileCatalog(&list, &owner);
    QStringList unknown;
    for (int i = 0; i < list.Count(); ++i) {
        TAVConverter c;
        QStringList skipped;
        c.OnLog = [&](TAVConverter*, int, const QString& text) { skipped << text; };
        list.Items(i)->Apply(c.ConvertOptions());
        for (const QString& line : c.ConvertOptions()->m_codecOptions) {
            const int eq = line.indexOf('=');
            if (c.SetOption(line.left(eq), line.mid(eq + 1)) != 0)
                unknown << list.Items(i)->Description() + ": " + line;
        }
        for (const QString& text : skipped)
            unknown << list.Items(i)->Description() + ": " + text;
    }
    unknown.removeDuplicates();
    EXPECT_TRUE(unknown.isEmpty()) << unknown.join("\n").toStdString();
}
