// Sample media for tests, made with the ffmpeg tool on first use and cached
// in the build folder, and an ffprobe-based reader used as the independent
// oracle for what the engine writes.
#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <vector>

namespace korvane::test {

// Runs a program, returns its exit code; stdout/stderr are captured.
struct ProcessResult
{
    int exitCode = -1;
    QString out;
    QString err;
};
ProcessResult RunProcess(const QString& program, const QStringList& args, int timeoutMs = 120000,
                         const QString& workDir = {});

// Path of a cached sample made by `ffmpeg -y <args> <file>` the first time
// it is asked for. name is the file name inside the fixture folder; args are
// the ffmpeg arguments before the output name (inputs, codecs, ...).
// Fails the current test (and returns an empty string) when ffmpeg fails.
QString Fixture(const QString& name, const QStringList& ffmpegArgs);

// A few standard samples.
QString SampleMp4();       // 2 s, 320x240 25 fps H.264 + AAC stereo 44.1 kHz
QString SampleMkvSubs();   // 2 s, MPEG-4 video + MP3 audio + SubRip subtitles, 2 chapters, metadata
QString SampleTs();        // 2 s, MPEG-TS H.264 + AAC
QString SampleAudioOnly(); // 2 s, MP3 stereo 44.1 kHz
QString SampleTwoAudio();  // 2 s, MKV H.264 + two AAC tracks (mono 22.05 kHz, stereo 48 kHz)

// A fresh, empty temporary folder for one test's outputs (removed at exit).
QString TempDir();

struct ProbeStream
{
    int index = 0;
    QString codecType; // "video", "audio", "subtitle", ...
    QString codecName;
    int width = 0, height = 0;
    QString frameRate; // r_frame_rate, "25/1"
    QString avgFrameRate;
    int sampleRate = 0, channels = 0;
    double duration = 0;
    QString language;
    long long packets = -1;  // counted packets
    std::map<QString, QString> tags;
};

struct ProbeResult
{
    bool ok = false;
    QString formatName;
    double duration = 0;
    long long size = 0;
    std::vector<ProbeStream> streams;
    int chapters = 0;
    std::map<QString, QString> tags;
    QString error;

    const ProbeStream* First(const QString& codecType) const;
    int Count(const QString& codecType) const;
};

// ffprobe -show_format -show_streams -show_chapters -count_packets.
ProbeResult Probe(const QString& file);

// PSNR of b's pictures against a's, by the ffmpeg tool: the average, or one
// plane's ("y", "u", "v"); 1000 for identical pictures, -1 when the tool
// gives none.
double Psnr(const QString& a, const QString& b, const QString& plane = QStringLiteral("average"));

// Decodes every frame of every stream with the ffmpeg tool (-xerror); true
// when nothing failed. error receives ffmpeg's complaint.
bool DecodesCleanly(const QString& file, QString* error = nullptr);

// Packet timestamps (dts, in seconds) of one stream, in file order.
std::vector<double> PacketDts(const QString& file, int streamIndex);

} // namespace korvane::test
