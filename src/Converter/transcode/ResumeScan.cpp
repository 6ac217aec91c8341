#include "transcode/ResumeScan.h"

#include "av/AVLib.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <functional>

namespace korvane {

namespace {

struct PacketInfo
{
    int64_t tsUs = 0;  // norm: pts (dts when missing)
    int64_t durUs = 0;
    int64_t bytes = 0;
    bool key = false;
};

using Input = av::InputContextPtr;

Input OpenMedia(const QString& file, QString* error)
{
    AVFormatContext* raw = nullptr;
    int ret = avformat_open_input(&raw, LibraryUrl(file).constData(), nullptr, nullptr);
    if (ret < 0) {
        *error = QString::fromStdString(av::ErrorText(ret));
        return nullptr;
    }
    Input ic(raw);
    ret = avformat_find_stream_info(ic.get(), nullptr);
    if (ret < 0) {
        *error = QString::fromStdString(av::ErrorText(ret));
        return nullptr;
    }
    return ic;
}

int64_t StartUs(const AVFormatContext* ic)
{
    return ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
}

int64_t NormUs(const AVFormatContext* ic, const AVStream* st, int64_t ts)
{
    return av_rescale_q(ts, st->time_base, av::kMicroseconds) - StartUs(ic);
}

int64_t PacketTs(const AVPacket* pkt)
{
    return pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
}

bool IsVideo(const AVStream* st)
{
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

// Every packet of output, per stream, up to the first read that fails (the
// end of a file cut short). The last packet of each stream may be cut short
// too and is left out.
std::vector<std::vector<PacketInfo>> ReadPackets(AVFormatContext* ic)
{
    std::vector<std::vector<PacketInfo>> packets(ic->nb_streams);
    av::PacketPtr pkt = av::NewPacket();
    while (av_read_frame(ic, pkt.get()) >= 0) {
        const AVStream* st = ic->streams[pkt->stream_index];
        std::vector<PacketInfo>& list = packets[pkt->stream_index];
        PacketInfo info;
        // a packet without a time stands where the one before it stood
        info.tsUs = PacketTs(pkt.get()) != AV_NOPTS_VALUE ? NormUs(ic, st, PacketTs(pkt.get()))
                                                          : (list.empty() ? 0 : list.back().tsUs);
        info.durUs = av_rescale_q(pkt->duration, st->time_base, av::kMicroseconds);
        info.key = IsKeyPicture(st->codecpar, pkt.get());
        info.bytes = pkt->size;
        list.push_back(info);
        av_packet_unref(pkt.get());
    }
    for (auto& list : packets)
        if (!list.empty())
            list.pop_back();
    return packets;
}

int64_t FrameDurationUs(const AVStream* st, const std::vector<PacketInfo>& list)
{
    if (!list.empty() && list.front().durUs > 0)
        return list.front().durUs;
    const AVCodecParameters* par = st->codecpar;
    if (par->frame_size > 0 && par->sample_rate > 0)
        return av_rescale(par->frame_size, AV_TIME_BASE, par->sample_rate);
    return 0;
}

// One step of st's time base in microseconds, at least 1.
int64_t TickUs(const AVStream* st)
{
    return std::max<int64_t>(1, av_rescale_q_rnd(1, st->time_base, av::kMicroseconds, AV_ROUND_UP));
}

// Audio packets the new part's encoder makes before its sound is used:
// enough for its priming and the overlap of its first transform. As many at
// the end of a stopped run hold what its encoder made of the silence after
// the stop, and are not kept either.
constexpr int kAudioPreroll = 3;

// The first packet of list at or after cutUs plus preroll, leaving the new
// encoder that much sound to settle before its part is used; -1 when the
// kept sound does not reach that far.
int64_t AudioKeep(const std::vector<PacketInfo>& list, int64_t cutUs, int64_t prerollUs)
{
    for (size_t i = 0; i + kAudioPreroll < list.size(); ++i)
        if (list[i].tsUs >= cutUs + prerollUs)
            return int64_t(i);
    return -1;
}


bool ChooseVideoCut(AVFormatContext* ic, const std::vector<std::vector<PacketInfo>>& packets, int v,
                    ResumePoint& p)
{
    const std::vector<PacketInfo>& video = packets[v];
    if (video.size() < 2)
        return false;
    // pictures in presentation order must all lie before the cut, and all
    // after it in the part that is converted again
    std::vector<int64_t> minAfter(video.size() + 1, INT64_MAX);
    for (size_t i = video.size(); i-- > 0;)
        minAfter[i] = std::min(minAfter[i + 1], video[i].tsUs);
    std::vector<int64_t> maxBefore(video.size() + 1, INT64_MIN);
    for (size_t i = 0; i < video.size(); ++i)
        maxBefore[i + 1] = std::max(maxBefore[i], video[i].tsUs);
    const int64_t firstUs = minAfter[0];
    for (size_t k = video.size(); k-- > 1;) {
        if (!video[k].key || maxBefore[k] >= minAfter[k])
            continue;
        const int64_t cut = minAfter[k];
        std::vector<int64_t> kept(ic->nb_streams, -1), audioEnd(ic->nb_streams, 0);
        bool ok = true;
        for (unsigned s = 0; s < ic->nb_streams && ok; ++s) {
            if (ic->streams[s]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
                continue;
            const int64_t frame = FrameDurationUs(ic->streams[s], packets[s]);
            const int64_t n = AudioKeep(packets[s], cut, kAudioPreroll * frame);
            ok = n > 0;
            if (ok) {
                kept[s] = n;
                audioEnd[s] = packets[s][n].tsUs;
            }
        }
        if (!ok)
            continue;
        kept[v] = int64_t(k);
        p.anchor = v;
        p.pictures = true;
        p.anchorNormUs = firstUs;
        p.cutNormUs = cut;
        p.resumeUs = cut - firstUs;
        // on the output's frame grid, which a time base in milliseconds blurs
        const AVRational rate = ic->streams[v]->avg_frame_rate;
        if (rate.num > 0 && rate.den > 0) {
            const int64_t frames = av_rescale_q_rnd(p.resumeUs, av::kMicroseconds, av_inv_q(rate),
                                                    AV_ROUND_NEAR_INF);
            p.resumeUs = av_rescale_q(frames, av_inv_q(rate), av::kMicroseconds);
            p.cutNormUs = firstUs + p.resumeUs;
        }
        p.keptPackets = kept;
        p.audioEndNormUs = audioEnd;
        p.audioFirstJobUs.clear();
        p.audioTickUs.clear();
        for (unsigned s = 0; s < ic->nb_streams; ++s) {
            if (ic->streams[s]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
                continue;
            // (every sound stream has kept packets: the cut needs them)
            p.audioFirstJobUs.push_back(packets[s].front().tsUs - firstUs);
            // both times are rounded to their streams' time bases
            p.audioTickUs.push_back(TickUs(ic->streams[s]) + TickUs(ic->streams[v]));
        }
        return true;
    }
    return false;
}

bool ChooseAudioCut(AVFormatContext* ic, const std::vector<std::vector<PacketInfo>>& packets, int a,
                    ResumePoint& p)
{
    const std::vector<PacketInfo>& audio = packets[a];
    const int64_t frame = FrameDurationUs(ic->streams[a], audio);
    const int64_t n = int64_t(audio.size()) - kAudioPreroll; // whole packets before the end's flush
    if (frame <= 0 || n <= kAudioPreroll)
        return false;
    const PacketInfo& last = audio[size_t(n - 1)];
    const int64_t endUs = last.tsUs + (last.durUs > 0 ? last.durUs : frame);
    p.anchor = a;
    p.anchorNormUs = audio.front().tsUs;
    p.cutNormUs = endUs;
    // the new part starts kAudioPreroll packets early: its packet
    // kAudioPreroll continues the kept sound
    p.resumeUs = endUs - audio.front().tsUs - kAudioPreroll * frame;
    p.keptPackets.assign(ic->nb_streams, -1);
    p.audioEndNormUs.assign(ic->nb_streams, 0);
    for (unsigned s = 0; s < ic->nb_streams; ++s) {
        if (ic->streams[s]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        const std::vector<PacketInfo>& list = packets[s];
        int64_t kept = 0;
        while (kept < int64_t(list.size()) && list[kept].tsUs < endUs)
            ++kept;
        p.keptPackets[s] = kept;
        p.audioEndNormUs[s] = s == unsigned(a) ? endUs : (kept > 0 ? list[kept - 1].tsUs + list[kept - 1].durUs : 0);
    }
    return p.resumeUs > 0;
}

} // namespace

namespace {

// The byte after the first start code (00 00 01) at or after from whose
// next byte satisfies match; -1 when none.
int FindStartCode(const AVPacket* pkt, int from, const std::function<bool(uint8_t)>& match)
{
    for (int i = from; i + 3 < pkt->size; ++i)
        if (pkt->data[i] == 0 && pkt->data[i + 1] == 0 && pkt->data[i + 2] == 1 && match(pkt->data[i + 3]))
            return i + 3;
    return -1;
}

// Reads one unsigned Exp-Golomb number at *bit of data (size bytes); -1
// when it runs off the end.
int64_t ReadUe(const uint8_t* data, int size, int* bit)
{
    int zeros = 0;
    const auto next = [&]() -> int {
        if (*bit >= size * 8)
            return -1;
        const int b = (data[*bit / 8] >> (7 - *bit % 8)) & 1;
        ++*bit;
        return b;
    };
    int b;
    while ((b = next()) == 0)
        ++zeros;
    if (b < 0 || zeros > 31)
        return -1;
    int64_t value = 1;
    for (int i = 0; i < zeros; ++i) {
        if ((b = next()) < 0)
            return -1;
        value = value * 2 + b;
    }
    return value - 1;
}

// A slice header (after its NAL header) of an I or SI slice.
bool H264IntraSlice(const uint8_t* data, int size)
{
    int bit = 0;
    if (ReadUe(data, size, &bit) < 0) // first_mb_in_slice
        return false;
    const int64_t type = ReadUe(data, size, &bit);
    return type >= 0 && (type % 5 == 2 || type % 5 == 4);
}

} // namespace

bool IsKeyPicture(const AVCodecParameters* par, const AVPacket* pkt)
{
    const bool flagged = pkt->flags & AV_PKT_FLAG_KEY;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO || !flagged || !pkt->data || pkt->size < 5)
        return flagged;
    // an AVI without its index marks every packet as key: the picture
    // header says what it is
    switch (par->codec_id) {
    case AV_CODEC_ID_MPEG4: {
        // vop_coding_type 0 is an intra picture
        const int at = FindStartCode(pkt, 0, [](uint8_t b) { return b == 0xB6; });
        return at >= 0 && at + 1 < pkt->size && (pkt->data[at + 1] >> 6) == 0;
    }
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO: {
        // picture_coding_type 1 is an intra picture
        const int at = FindStartCode(pkt, 0, [](uint8_t b) { return b == 0x00; });
        return at >= 0 && at + 2 < pkt->size && ((pkt->data[at + 2] >> 3) & 7) == 1;
    }
    case AV_CODEC_ID_H264: {
        // a stream of start codes (not length-prefixed): an IDR slice, or
        // an intra slice (the key pictures of open GOPs)
        if (!(pkt->data[0] == 0 && pkt->data[1] == 0 && (pkt->data[2] == 1 || (pkt->data[2] == 0 && pkt->data[3] == 1))))
            return flagged;
        const int at = FindStartCode(pkt, 0, [](uint8_t b) { return (b & 0x1F) == 5 || (b & 0x1F) == 1; });
        if (at < 0)
            return false;
        return (pkt->data[at] & 0x1F) == 5 || H264IntraSlice(pkt->data + at + 1, pkt->size - at - 1);
    }
    default:
        return flagged;
    }
}

ResumePoint ScanForResume(const QString& output)
{
    ResumePoint p;
    QString error;
    Input ic = OpenMedia(output, &error);
    if (!ic) {
        const QString suffix = QFileInfo(output).suffix().toLower();
        p.reason = suffix == "mp4" || suffix == "mov" || suffix == "m4v" || suffix == "3gp" || suffix == "3g2"
                       ? QStringLiteral("its index (moov) was never written, and without it the file cannot be read")
                       : QStringLiteral("it cannot be read: ") + error;
        return p;
    }
    const auto packets = ReadPackets(ic.get());
    int video = -1, audio = -1;
    for (unsigned s = 0; s < ic->nb_streams; ++s) {
        if (video < 0 && IsVideo(ic->streams[s]))
            video = int(s);
        if (audio < 0 && ic->streams[s]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            audio = int(s);
    }
    const bool found = video >= 0 ? ChooseVideoCut(ic.get(), packets, video, p)
                                  : audio >= 0 && ChooseAudioCut(ic.get(), packets, audio, p);
    if (!found) {
        p.reason = QStringLiteral("too little of it is complete to be kept");
        return p;
    }
    // the kept packets' share of all packets, of the file's bytes: the
    // container's own bytes spread as the packets' are
    int64_t keptPayload = 0, payload = 0;
    for (unsigned s = 0; s < ic->nb_streams; ++s) {
        const std::vector<PacketInfo>& list = packets[s];
        for (size_t i = 0; i < list.size(); ++i) {
            payload += list[i].bytes;
            const bool kept = p.keptPackets[s] >= 0 ? int64_t(i) < p.keptPackets[s] : list[i].tsUs < p.cutNormUs;
            keptPayload += kept ? list[i].bytes : 0;
        }
    }
    const int64_t fileBytes = QFileInfo(output).size();
    p.keptBytes = payload > 0 ? int64_t(double(fileBytes) * double(keptPayload) / double(payload)) : 0;
    return p;
}

namespace {

// The new part's time line: the first timestamp of its anchor stream (the
// smallest of its first pictures, which may come out of order).
// Also keeps what the rest's first packets say about the priming to skip
// (a killed run never wrote it into its header, and its demuxer guesses).
bool PartAnchorUs(const QString& part, int anchor, int64_t* anchorUs, std::vector<QByteArray>* skips,
                  QString* error)
{
    Input ic = OpenMedia(part, error);
    if (!ic)
        return false;
    av::PacketPtr pkt = av::NewPacket();
    int seen = 0;
    *anchorUs = INT64_MAX;
    skips->assign(ic->nb_streams, QByteArray());
    std::vector<bool> first(ic->nb_streams, true);
    while (seen < 16 && av_read_frame(ic.get(), pkt.get()) >= 0) {
        if (first[pkt->stream_index]) {
            first[pkt->stream_index] = false;
            size_t size = 0;
            if (const uint8_t* skip = av_packet_get_side_data(pkt.get(), AV_PKT_DATA_SKIP_SAMPLES, &size))
                (*skips)[pkt->stream_index] = QByteArray(reinterpret_cast<const char*>(skip), int(size));
        }
        if (pkt->stream_index == anchor && PacketTs(pkt.get()) != AV_NOPTS_VALUE) {
            *anchorUs = std::min(*anchorUs, NormUs(ic.get(), ic->streams[anchor], PacketTs(pkt.get())));
            ++seen;
        }
        av_packet_unref(pkt.get());
    }
    if (seen == 0)
        *error = QStringLiteral("the converted rest holds nothing");
    return seen > 0;
}

QString SameStreams(const AVFormatContext* a, const AVFormatContext* b)
{
    if (a->nb_streams != b->nb_streams)
        return QStringLiteral("the converted rest has other streams");
    for (unsigned s = 0; s < a->nb_streams; ++s) {
        const AVCodecParameters* x = a->streams[s]->codecpar;
        const AVCodecParameters* y = b->streams[s]->codecpar;
        if (x->codec_type != y->codec_type || x->codec_id != y->codec_id || x->width != y->width ||
            x->height != y->height || x->sample_rate != y->sample_rate ||
            x->ch_layout.nb_channels != y->ch_layout.nb_channels)
            return QStringLiteral("stream %1 of the converted rest differs from the kept part").arg(s);
    }
    return {};
}

// Writes one packet with its times given in norm microseconds.
int WriteAt(AVFormatContext* oc, AVPacket* pkt, const AVStream* in, int64_t ptsUs, int64_t dtsUs)
{
    const AVStream* out = oc->streams[pkt->stream_index];
    const auto toOut = [&](int64_t us) {
        return us == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                    : av_rescale_q_rnd(us, av::kMicroseconds, out->time_base,
                                                       AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    };
    pkt->pts = toOut(ptsUs);
    pkt->dts = toOut(dtsUs);
    pkt->duration = av_rescale_q(pkt->duration, in->time_base, out->time_base);
    pkt->pos = -1;
    return av_interleaved_write_frame(oc, pkt);
}

struct Joiner
{
    Joiner(const ResumePoint& p, AVFormatContext* out, std::vector<QByteArray> firstSkips)
        : point(p), oc(out), skips(std::move(firstSkips))
    {
    }
    const ResumePoint& point;
    AVFormatContext* oc = nullptr;

    // Pictures whose decoding time the demuxer could not tell yet (the first
    // ones of a stream with reordering) wait for the next known one and get
    // times one picture apart before it.
    struct Waiting
    {
        av::PacketPtr pkt;
        const AVStream* in = nullptr;
        int64_t ptsUs = 0;
    };
    std::vector<QByteArray> skips; // per stream: the rest's first skip-samples data
    std::vector<std::vector<Waiting>> waiting;
    std::vector<int64_t> lastDtsUs;

    int Emit(AVPacket* pkt, const AVStream* in, int64_t ptsUs, int64_t dtsUs)
    {
        const int s = pkt->stream_index;
        if (waiting.empty()) {
            waiting.resize(oc->nb_streams);
            lastDtsUs.assign(oc->nb_streams, INT64_MIN);
        }
        if (dtsUs == AV_NOPTS_VALUE && ptsUs != AV_NOPTS_VALUE && in->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            Waiting w{av::NewPacket(), in, ptsUs};
            av_packet_move_ref(w.pkt.get(), pkt);
            waiting[s].push_back(std::move(w));
            return 0;
        }
        const int ret = Release(s, dtsUs);
        if (ret < 0)
            return ret;
        if (dtsUs != AV_NOPTS_VALUE)
            lastDtsUs[s] = dtsUs;
        return WriteAt(oc, pkt, in, ptsUs, dtsUs);
    }

    // Writes the pictures waiting on stream s, before a known time nextUs
    // (none: at the end, where their presentation times are all there is).
    int Release(int s, int64_t nextUs)
    {
        std::vector<Waiting>& list = waiting[s];
        const int64_t n = int64_t(list.size());
        for (int64_t i = 0; i < n; ++i) {
            Waiting& w = list[i];
            const AVRational rate = w.in->avg_frame_rate;
            const int64_t frameUs = rate.num > 0 && rate.den > 0 ? av_rescale_q(1, av_inv_q(rate), av::kMicroseconds) : 1;
            int64_t dts = nextUs == AV_NOPTS_VALUE ? w.ptsUs : nextUs - (n - i) * frameUs;
            if (lastDtsUs[s] != INT64_MIN && dts <= lastDtsUs[s])
                dts = lastDtsUs[s] + 1;
            lastDtsUs[s] = dts;
            const int ret = WriteAt(oc, w.pkt.get(), w.in, w.ptsUs, dts);
            if (ret < 0)
                return ret;
        }
        list.clear();
        return 0;
    }

    int Flush()
    {
        for (size_t s = 0; s < waiting.size(); ++s)
            if (const int ret = Release(int(s), AV_NOPTS_VALUE); ret < 0)
                return ret;
        return 0;
    }

    // Writes pkt at its own times (norm) moved by shiftUs.
    int EmitShifted(AVFormatContext* ic, AVPacket* pkt, int64_t shiftUs)
    {
        const AVStream* st = ic->streams[pkt->stream_index];
        const int64_t pts = pkt->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : NormUs(ic, st, pkt->pts) + shiftUs;
        const int64_t dts = pkt->dts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : NormUs(ic, st, pkt->dts) + shiftUs;
        return Emit(pkt, st, pts, dts);
    }

    // The kept part, packets as counted by the scan.
    int CopyKept(AVFormatContext* ic)
    {
        std::vector<int64_t> count(ic->nb_streams, 0);
        av::PacketPtr pkt = av::NewPacket();
        int ret = 0;
        while (ret >= 0 && av_read_frame(ic, pkt.get()) >= 0) {
            const int s = pkt->stream_index;
            const AVStream* st = ic->streams[s];
            const int64_t ts = PacketTs(pkt.get());
            const bool keep = point.keptPackets[s] >= 0
                                  ? count[s] < point.keptPackets[s]
                                  : ts != AV_NOPTS_VALUE && NormUs(ic, st, ts) < point.cutNormUs;
            ++count[s];
            if (keep && count[s] == 1 && !skips[s].isEmpty()) {
                size_t size = 0;
                uint8_t* skip = av_packet_get_side_data(pkt.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
                if (skip && size == size_t(skips[s].size()))
                    memcpy(skip, skips[s].constData(), size);
            }
            if (keep) {
                const bool key = IsKeyPicture(st->codecpar, pkt.get());
                pkt->flags = key ? (pkt->flags | AV_PKT_FLAG_KEY) : (pkt->flags & ~AV_PKT_FLAG_KEY);
                ret = EmitShifted(ic, pkt.get(), 0);
            }
            av_packet_unref(pkt.get());
        }
        return ret;
    }

    // The rest, moved onto the kept part's time line; its sound continues
    // the kept sound packet by packet, its priming left out.
    int CopyRest(AVFormatContext* ic, int64_t shiftUs)
    {
        std::vector<int64_t> nextAudioUs(ic->nb_streams, AV_NOPTS_VALUE);
        av::PacketPtr pkt = av::NewPacket();
        int ret = 0;
        while (ret >= 0 && av_read_frame(ic, pkt.get()) >= 0) {
            const int s = pkt->stream_index;
            const AVStream* st = ic->streams[s];
            const int64_t ts = PacketTs(pkt.get());
            const AVMediaType type = st->codecpar->codec_type;
            if (ts == AV_NOPTS_VALUE) {
                av_packet_unref(pkt.get());
                continue;
            }
            const int64_t at = NormUs(ic, st, ts) + shiftUs;
            if (type == AVMEDIA_TYPE_AUDIO) {
                const int64_t durUs = av_rescale_q(pkt->duration, st->time_base, av::kMicroseconds);
                if (nextAudioUs[s] == AV_NOPTS_VALUE && at >= point.audioEndNormUs[s] - durUs / 2)
                    nextAudioUs[s] = point.audioEndNormUs[s];
                if (nextAudioUs[s] != AV_NOPTS_VALUE) {
                    ret = Emit(pkt.get(), st, nextAudioUs[s], nextAudioUs[s]);
                    nextAudioUs[s] += durUs;
                }
            } else if (type == AVMEDIA_TYPE_VIDEO || at >= point.cutNormUs) {
                ret = EmitShifted(ic, pkt.get(), shiftUs);
            }
            av_packet_unref(pkt.get());
        }
        return ret;
    }
};

QString Failed(const char* step, int ret)
{
    return QStringLiteral("%1 failed: %2").arg(QLatin1String(step), QString::fromStdString(av::ErrorText(ret)));
}

} // namespace

QString JoinResumed(const QString& output, const QString& part, const QString& joined, const ResumePoint& point,
                    const AVOutputFormat* format, AVDictionary* muxerOptions,
                    void (*prepare)(AVFormatContext*, void*), void* prepareData)
{
    QString error;
    Input kept = OpenMedia(output, &error);
    if (!kept)
        return output + ": " + error;
    Input rest = OpenMedia(part, &error);
    if (!rest)
        return QStringLiteral("the converted rest cannot be read: ") + error;
    error = SameStreams(kept.get(), rest.get());
    if (!error.isEmpty())
        return error;
    if (point.keptPackets.size() != kept->nb_streams)
        return output + QStringLiteral(" changed since it was read");
    int64_t anchorUs = 0;
    std::vector<QByteArray> skips;
    if (!PartAnchorUs(part, point.anchor, &anchorUs, &skips, &error))
        return error;

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, format, nullptr, LibraryUrl(joined).constData()) < 0 || !raw)
        return QStringLiteral("Out of memory");
    av::OutputContextPtr oc(raw);
    for (unsigned s = 0; s < kept->nb_streams; ++s) {
        const AVStream* in = kept->streams[s];
        AVStream* out = avformat_new_stream(oc.get(), nullptr);
        // the rest was finished properly: its parameters are whole where a
        // killed run's header still holds the placeholders (priming, counts)
        if (!out || avcodec_parameters_copy(out->codecpar, rest->streams[s]->codecpar) < 0)
            return QStringLiteral("Out of memory");
        out->time_base = in->time_base;
        out->avg_frame_rate = in->avg_frame_rate;
        out->r_frame_rate = in->r_frame_rate;
        out->sample_aspect_ratio = in->sample_aspect_ratio;
        out->disposition = in->disposition;
        av_dict_copy(&out->metadata, in->metadata, 0);
    }
    av_dict_copy(&oc->metadata, kept->metadata, 0);
    int ret = 0;
    if (!(oc->oformat->flags & AVFMT_NOFILE) &&
        (ret = avio_open2(&oc->pb, LibraryUrl(joined).constData(), AVIO_FLAG_WRITE, nullptr, nullptr)) < 0)
        return Failed("Creating the joined file", ret);
    if (prepare)
        prepare(oc.get(), prepareData);
    av::Dict options;
    av_dict_copy(&options.p, muxerOptions, 0);
    if ((ret = avformat_write_header(oc.get(), &options.p)) < 0)
        return Failed("Writing the joined file's header", ret);
    Joiner joiner(point, oc.get(), std::move(skips));
    if ((ret = joiner.CopyKept(kept.get())) < 0)
        return Failed("Copying the kept part", ret);
    if ((ret = joiner.CopyRest(rest.get(), point.anchorNormUs + point.resumeUs - anchorUs)) < 0)
        return Failed("Copying the converted rest", ret);
    if ((ret = joiner.Flush()) < 0)
        return Failed("Copying the converted rest", ret);
    if ((ret = av_write_trailer(oc.get())) < 0)
        return Failed("Finishing the joined file", ret);
    if (oc->pb && (ret = oc->pb->error) < 0)
        return Failed("Writing the joined file", ret);
    return {};
}

} // namespace korvane
