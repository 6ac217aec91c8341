// Reading an unfinished output to find how much of it can be kept, and
// joining that part with the rest converted later.
//
// Timestamps: "norm" values are microseconds from the output's own start
// time (what its muxer added, such as an MPEG preload, is taken off), so the
// kept part and the new part compare in one time line. The engine starts the
// first picture of a job at 0 and the first audio packet of a job at the same
// place before 0 (the encoder's priming) in every run, so a stream's first
// packet anchors its run's time line.
#pragma once

#include "av/FFmpeg.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace korvane {

struct ResumePoint
{
    QString reason;        // why the output cannot be kept; empty when it can
    int64_t resumeUs = 0;  // job time (from the window's start) where the rest begins
    int anchor = -1;       // the stream that anchors both time lines (video, else audio)
    bool pictures = false; // the anchor is a picture stream
    int64_t anchorNormUs = 0; // its first timestamp in the kept output
    int64_t cutNormUs = 0;    // pictures (and other streams) are kept before this
    // per stream of the output: packets kept, in file order (-1: kept by time)
    std::vector<int64_t> keptPackets;
    // per stream: where the kept sound ends (norm, microseconds); the new
    // part's sound follows from there
    std::vector<int64_t> audioEndNormUs;
    // per sound stream in the order of the file's sound streams (a demuxer
    // may number streams otherwise than the muxer did), when pictures anchor
    // the time lines: where the kept run put its first sound packet (job
    // time, microseconds) and how finely the container tells it. The rest's
    // encoder is started on the same frame grid from it
    // (ResumeSession::AudioGridDrop).
    std::vector<int64_t> audioFirstJobUs;
    std::vector<int64_t> audioTickUs;
    // about how many bytes of the output are kept
    int64_t keptBytes = 0;
};

// Reads output to its last complete packet and finds the last point up to
// which every stream is complete: the last key picture before which every
// picture is whole, or for sound alone whole audio packets. Packets of a
// video stream are checked for being key pictures by their own header where
// a container without index marks them all (AVI after a kill).
ResumePoint ScanForResume(const QString& output);

// Writes joined: the kept part of output followed by part (the rest, from
// the same source with the same settings, starting at point.resumeUs),
// copied packet by packet into format with the muxer options given. Returns
// the reason it failed, empty when joined is complete.
QString JoinResumed(const QString& output, const QString& part, const QString& joined, const ResumePoint& point,
                    const AVOutputFormat* format, AVDictionary* muxerOptions,
                    void (*prepare)(AVFormatContext*, void*), void* prepareData);

// True when pkt starts a picture that decodes on its own.
bool IsKeyPicture(const AVCodecParameters* par, const AVPacket* pkt);

} // namespace korvane
