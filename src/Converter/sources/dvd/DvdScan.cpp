#include "sources/dvd/DvdScan.h"

#include "av/FFmpeg.h"
#include "options/Persistent.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>

namespace korvane::dvd {

namespace {

// See the reader: library complaints are verbose details only.
void ReadLog(void*, dvd_logger_level_t, const char* format, va_list args)
{
    if (av_log_get_level() < AV_LOG_VERBOSE)
        return;
    char line[1024];
    vsnprintf(line, sizeof line, format, args);
    av_log(nullptr, AV_LOG_VERBOSE, "dvd: %s\n", line);
}

const dvd_logger_cb kReadLogger{&ReadLog};

struct ReaderDeleter { void operator()(dvd_reader_t* p) const { DVDClose(p); } };
struct IfoDeleter { void operator()(ifo_handle_t* p) const { ifoClose(p); } };
using ReaderPtr = std::unique_ptr<dvd_reader_t, ReaderDeleter>;
using IfoPtr = std::unique_ptr<ifo_handle_t, IfoDeleter>;

ReaderPtr OpenDisc(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || !QFileInfo::exists(path))
        return nullptr;
    return ReaderPtr(DVDOpen2(nullptr, &kReadLogger, native.constData()));
}

int FromBcd(uint8_t value) { return (value >> 4) * 10 + (value & 0x0f); }

// Playback time of a cell or chain; the two high bits of frame_u give the
// frame rate (1: 25 fps, 3: 29.97 fps).
int64_t TimeUs(const dvd_time_t& time)
{
    const int64_t seconds = FromBcd(time.hour) * 3600LL + FromBcd(time.minute) * 60LL + FromBcd(time.second);
    const int frames = FromBcd(time.frame_u & 0x3f);
    const int rate = time.frame_u >> 6;
    int64_t frameUs = 0;
    if (rate == 1)
        frameUs = frames * 1000000LL / 25;
    else if (rate == 3)
        frameUs = frames * 1001000LL / 30;
    return seconds * 1000000 + frameUs;
}

const pgc_t* ProgramChain(const ifo_handle_t* vts, int pgcn)
{
    const pgcit_t* table = vts->vts_pgcit;
    if (!table || !table->pgci_srp || pgcn < 1 || pgcn > table->nr_of_pgci_srp)
        return nullptr;
    const pgc_t* pgc = table->pgci_srp[pgcn - 1].pgc;
    if (!pgc || !pgc->program_map || !pgc->cell_playback)
        return nullptr;
    return pgc;
}

// Playback time of program pgn of pgc: its cells, counting one cell of each
// angle block.
int64_t ProgramTimeUs(const pgc_t* pgc, int pgn)
{
    if (pgn < 1 || pgn > pgc->nr_of_programs)
        return 0;
    const int first = pgc->program_map[pgn - 1];
    const int last = pgn < pgc->nr_of_programs ? pgc->program_map[pgn] - 1 : pgc->nr_of_cells;
    int64_t total = 0;
    for (int cell = first; cell >= 1 && cell <= last && cell <= pgc->nr_of_cells; ++cell) {
        const cell_playback_t& playback = pgc->cell_playback[cell - 1];
        if (playback.block_type == BLOCK_TYPE_ANGLE_BLOCK && playback.block_mode != BLOCK_MODE_FIRST_CELL)
            continue;
        total += TimeUs(playback.playback_time);
    }
    return total;
}

// Reads one title's chapters from its title set. False when its tables are
// missing or inconsistent.
bool ScanTitle(dvd_reader_t* disc, const title_info_t& info, TDvdTitle* title)
{
    IfoPtr vts(ifoOpen(disc, info.title_set_nr));
    if (!vts || !vts->vts_ptt_srpt || !vts->vts_pgcit)
        return false;
    const vts_ptt_srpt_t* parts = vts->vts_ptt_srpt;
    if (info.vts_ttn < 1 || info.vts_ttn > parts->nr_of_srpts || !parts->title)
        return false;
    const ttu_t& unit = parts->title[info.vts_ttn - 1];
    const int chapters = std::min<int>(unit.nr_of_ptts, info.nr_of_ptts);
    if (chapters < 1 || !unit.ptt)
        return false;
    for (int c = 0; c < chapters; ++c) {
        const pgc_t* pgc = ProgramChain(vts.get(), unit.ptt[c].pgcn);
        if (!pgc)
            return false;
        TDvdChapter chapter;
        chapter.Number = c + 1;
        chapter.DurationUs = ProgramTimeUs(pgc, unit.ptt[c].pgn);
        title->Chapters.push_back(chapter);
        title->DurationUs += chapter.DurationUs;
    }
    title->AngleCount = std::max<int>(1, info.nr_of_angles);
    const int64_t seconds = title->DurationUs / 1000000;
    title->Hours = static_cast<int>(seconds / 3600);
    title->Minutes = static_cast<int>(seconds / 60 % 60);
    title->Seconds = static_cast<int>(seconds % 60);
    return true;
}

QString LabelFromDisc(dvd_reader_t* disc)
{
    char volume[33] = {0};
    unsigned char set[128] = {0};
    if (DVDUDFVolumeInfo(disc, volume, sizeof volume, set, sizeof set) == 0 && volume[0])
        return QString::fromLatin1(volume).trimmed();
    char isoVolume[33] = {0};
    if (DVDISOVolumeInfo(disc, isoVolume, sizeof isoVolume, set, sizeof set) == 0 && isoVolume[0])
        return QString::fromLatin1(isoVolume).trimmed();
    return {};
}

// A folder copy has no volume: name it after the folder holding VIDEO_TS,
// an image after its file.
QString LabelFromPath(const QString& path)
{
    const QFileInfo info(QDir::cleanPath(path));
    if (!info.isDir())
        return info.completeBaseName();
    if (info.fileName().compare(QLatin1String("VIDEO_TS"), Qt::CaseInsensitive) == 0)
        return QFileInfo(info.absolutePath()).fileName();
    return info.fileName();
}

} // namespace

QByteArray DvdDiscId(const QString& path)
{
    ReaderPtr disc = OpenDisc(path);
    unsigned char id[16] = {};
    if (!disc || DVDDiscID(disc.get(), id) != 0)
        return {};
    return QByteArray(reinterpret_cast<const char*>(id), sizeof id);
}

QString DvdVolumeLabel(const QString& path)
{
    ReaderPtr disc = OpenDisc(path);
    return disc ? LabelFromDisc(disc.get()) : QString();
}

TDvdDisc ScanDvd(const QString& path)
{
    ReaderPtr disc = OpenDisc(path);
    if (!disc)
        throw EEngineError("Can not open DVD");
    IfoPtr vmg(ifoOpen(disc.get(), 0));
    if (!vmg || !vmg->tt_srpt || !vmg->tt_srpt->title)
        throw EEngineError("Can not open DVD");
    TDvdDisc result;
    result.Path = path;
    unsigned char id[16] = {};
    if (DVDDiscID(disc.get(), id) == 0)
        result.Id = QByteArray(reinterpret_cast<const char*>(id), sizeof id);
    result.VolumeLabel = LabelFromDisc(disc.get());
    if (result.VolumeLabel.isEmpty())
        result.VolumeLabel = LabelFromPath(path);
    if (result.VolumeLabel.isEmpty())
        result.VolumeLabel = QStringLiteral("DVD");
    const tt_srpt_t* titles = vmg->tt_srpt;
    for (int t = 1; t <= titles->nr_of_srpts; ++t) {
        TDvdTitle title;
        title.Path = path;
        title.Number = t;
        if (ScanTitle(disc.get(), titles->title[t - 1], &title))
            result.Titles.push_back(std::move(title));
    }
    return result;
}

QString DvdTitleCaption(const TDvdTitle& title)
{
    return QString::asprintf("%d(%.2d:%.2d:%.2d)", title.Number, title.Hours, title.Minutes, title.Seconds);
}

QString DvdSourceCaption(const QString& volumeLabel, int title)
{
    return QString::asprintf("dvd[%s:title%d]", volumeLabel.toUtf8().constData(), title);
}

QString DvdDefaultOutputName(const QString& volumeLabel, int title)
{
    QString label = volumeLabel;
    for (QChar& c : label)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c == QLatin1Char(':'))
            c = QLatin1Char('_');
    if (label == QLatin1String(".") || label == QLatin1String(".."))
        label = QStringLiteral("_");
    return QString::asprintf("%s_%d", label.toUtf8().constData(), title);
}

} // namespace korvane::dvd
