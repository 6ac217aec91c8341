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

// What a clip holds, and so what each profile's output must hold.
enum class ClipKind { Full, NoSound, AudioOnly };

// Runs every catalog profile on clip; returns the failures, one line each.
QStringList ConvertWithEveryProfile(const QString& clip, ClipKind kind, double clipSeconds)
{
    TAVProfileList list;
    QObject owner;
    BuildProfileCatalog(&list, &owner);
    EXPECT_EQ(list.Count(), 68);
    const QString dir = TempDir();
    QStringList failures;
    for (int i = 0; i < list.Count(); ++i) {
        TAVProfile* profile = list.Items(i);
        const QString name = profile->Description();
        const QString folder = dir + QStringLiteral("/p%1").arg(i);
        QDir().mkpath(folder);
        const QString output = folder + "/out" + profile->GetExtension();
        const Expected e = ExpectedOf(profile);
        const bool sequence = qobject_cast<TAVImageProfile*>(profile) != nullptr;
        const bool audioProfile = qobject_cast<TAVCustomAudioProfile*>(profile) &&
                                  !qobject_cast<TAVCustomVideoProfile*>(profile);
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
        // nothing to make: pictures from sound only, sound from pictures only
        const bool nothingToMake = (kind == ClipKind::AudioOnly && sequence) || (kind == ClipKind::NoSound && audioProfile);
        if (nothingToMake) {
            if (c.ErrorText() != "Output file does not contain any stream")
                failures << name + ": wanted the message for an output without streams, got \"" + c.ErrorText() + "\"";
            continue;
        }
        if (!c.ErrorText().isEmpty() || !ev.order.contains("complete")) {
            failures << name + ": " + c.ErrorText() + " / " + c.LastLogLine();
            continue;
        }
        // image sequences: pictures are numbered from 1
        const QString first = sequence ? folder + "/out1" + profile->GetExtension().right(4) : output;
        const ProbeResult p = Probe(first);
        if (!p.ok) {
            failures << name + ": unreadable output " + first + " " + p.error.left(200);
            continue;
        }
        const ProbeStream* v = p.First("video");
        const ProbeStream* a = p.First("audio");
        QStringList problems;
        const bool wantVideo = !audioProfile && (kind != ClipKind::AudioOnly || e.videoCodec.isEmpty() ||
                                                 QFileInfo(output).suffix() == "dv" || name.startsWith("PSP"));
        const bool wantAudio = !sequence && (kind != ClipKind::NoSound || name.startsWith("PSP"));
        if (wantVideo && !v)
            problems << "no video";
        if (!wantVideo && v && kind == ClipKind::AudioOnly)
            problems << "video made up for a container that does not need it";
        if (wantAudio && !a)
            problems << "no audio";
        if (!wantAudio && a)
            problems << "audio made up for a container that does not need it";
        if (v && !e.videoCodec.isEmpty() && v->codecName != CodecNameOf(e.videoCodec))
            problems << "video codec " + v->codecName + ", wanted " + CodecNameOf(e.videoCodec);
        if (a && !e.audioCodec.isEmpty() && a->codecName != CodecNameOf(e.audioCodec))
            problems << "audio codec " + a->codecName + ", wanted " + CodecNameOf(e.audioCodec);
        if (v && !sequence && kind != ClipKind::AudioOnly && std::abs(Rate(v->frameRate) - e.frameRate) > 0.01)
            problems << QStringLiteral("frame rate %1, wanted %2").arg(v->frameRate).arg(e.frameRate);
        if (v && e.width > 0 && (v->width != e.width || v->height != e.height))
            problems << QStringLiteral("size %1x%2, wanted %3x%4").arg(v->width).arg(v->height).arg(e.width).arg(e.height);
        if (a && e.sampleRate > 0 && a->sampleRate != e.sampleRate)
            problems << QStringLiteral("rate %1, wanted %2").arg(a->sampleRate).arg(e.sampleRate);
        if (a && e.channels > 0 && a->channels != e.channels)
            problems << QStringLiteral("channels %1, wanted %2").arg(a->channels).arg(e.channels);
        if (v && a && v->duration > 0 && a->duration > 0 && std::abs(v->duration - a->duration) >= 0.1)
            problems << QStringLiteral("video %1 s, audio %2 s").arg(v->duration).arg(a->duration);
        if (!sequence && std::abs(p.duration - clipSeconds) > 0.25)
            problems << QStringLiteral("lasts %1 s, the clip %2 s").arg(p.duration).arg(clipSeconds);
        QString decodeError;
        if (sequence && !QFileInfo::exists(folder + "/out2" + profile->GetExtension().right(4)))
            problems << "only one picture";
        if (!sequence && !DecodesCleanly(first, &decodeError))
            problems << "decode: " + decodeError.left(200);
        // every option a profile sets is understood: no "Invalid value for Option!"
        // and no unknown bitstream filter
        if (!messages.Texts().isEmpty())
            problems << "messages: " + messages.Texts().join(" | ");
        if (!problems.isEmpty())
            failures << name + ": " + problems.join("; ");
    }
    return failures;
}

} // namespace

TEST(CatalogMatrix, EveryProfileConverts)
{
    const QStringList failures = ConvertWithEveryProfile(MatrixClip(), ClipKind::Full, 1.0);
    EXPECT_TRUE(failures.isEmpty()) << failures.size() << " profiles failed:\n" << failures.join("\n").toStdString();
}

// Camera footage: MPEG-2 at an odd height, without sound.
TEST(CatalogMatrix, EveryProfileConvertsFootageWithoutSoundAtAnOddSize)
{
    const QString clip = Fixture("matrix_nosound_405.mpg",
                                 {"-f", "lavfi", "-i", "testsrc=size=720x405:rate=25:duration=1", "-c:v",
                                  "mpeg2video", "-q:v", "4", "-an"});
    const QStringList failures = ConvertWithEveryProfile(clip, ClipKind::NoSound, 1.0);
    EXPECT_TRUE(failures.isEmpty()) << failures.size() << " profiles failed:\n" << failures.join("\n").toStdString();
}

// An instrument recording: FLAC, mono.
TEST(CatalogMatrix, EveryProfileConvertsAnAudioOnlyRecording)
{
    const QString clip = Fixture("matrix_audio_only.flac",
                                 {"-f", "lavfi", "-i", "sine=frequency=220:sample_rate=44100:duration=1", "-c:a", "flac"});
    const QStringList failures = ConvertWithEveryProfile(clip, ClipKind::AudioOnly, 1.0);
    EXPECT_TRUE(failures.isEmpty()) << failures.size() << " profiles failed:\n" << failures.join("\n").toStdString();
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
