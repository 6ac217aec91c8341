#include "sources/dvd/DvdReader.h"

#include "av/FFmpeg.h"

#include <dvdnav/dvdnav.h>

#include <QFile>
#include <QFileInfo>

namespace korvane::dvd {

namespace {

// A disc that keeps sending events without data (a menu loop, a damaged
// program chain) ends the title instead of spinning forever.
constexpr int kMaxIdleEvents = 100000;

void NavLog(void*, dvdnav_logger_level_t, const char* format, va_list args)
{
    // libdvdnav and libdvdread complain about ordinary folder copies and
    // images ("Can't read name block"); this layer reports real failures
    // itself, so their lines are details for a verbose log only.
    if (av_log_get_level() < AV_LOG_VERBOSE)
        return;
    char line[1024];
    vsnprintf(line, sizeof line, format, args);
    av_log(nullptr, AV_LOG_VERBOSE, "dvd: %s\n", line);
}

const dvdnav_logger_cb kNavLogger{&NavLog};

} // namespace

std::unique_ptr<TDvdReader> TDvdReader::Open(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || !QFileInfo::exists(path))
        return nullptr;
    dvdnav_t* nav = nullptr;
    if (dvdnav_open2(&nav, nullptr, &kNavLogger, native.constData()) != DVDNAV_STATUS_OK) {
        if (nav)
            dvdnav_close(nav);
        return nullptr;
    }
    // positions count from the start of the title, not of the cell
    if (dvdnav_set_PGC_positioning_flag(nav, 1) != DVDNAV_STATUS_OK) {
        dvdnav_close(nav);
        return nullptr;
    }
    dvdnav_set_readahead_flag(nav, 1);
    return std::unique_ptr<TDvdReader>(new TDvdReader(nav));
}

TDvdReader::~TDvdReader() { dvdnav_close(m_nav); }

int TDvdReader::TitleCount() const
{
    int32_t titles = 0;
    return dvdnav_get_number_of_titles(m_nav, &titles) == DVDNAV_STATUS_OK ? titles : 0;
}

int TDvdReader::ChapterCount(int title) const
{
    int32_t parts = 0;
    return dvdnav_get_number_of_parts(m_nav, title, &parts) == DVDNAV_STATUS_OK ? parts : 0;
}

int TDvdReader::AngleCount(int title) const
{
    int32_t angles = 0;
    return dvdnav_get_number_of_angles(m_nav, title, &angles) == DVDNAV_STATUS_OK ? angles : 0;
}

bool TDvdReader::StartChapter(int title, int chapter)
{
    if (title < 1 || title > TitleCount() || chapter < 1 || chapter > ChapterCount(title))
        return false;
    m_idleEvents = 0;
    // once playback has run off the end of the title the virtual machine has
    // stopped (or gone on to a menu): it plays again only after a reset
    if (m_ranOff) {
        if (dvdnav_reset(m_nav) != DVDNAV_STATUS_OK) {
            m_title = 0;
            return false;
        }
        m_ranOff = false;
    }
    if (dvdnav_part_play(m_nav, title, chapter) != DVDNAV_STATUS_OK) {
        m_title = 0;
        return false;
    }
    m_title = title;
    return true;
}

bool TDvdReader::SetAngle(int angle)
{
    return m_title != 0 && dvdnav_angle_change(m_nav, angle) == DVDNAV_STATUS_OK;
}

void TDvdReader::Stop()
{
    if (m_title != 0)
        dvdnav_stop(m_nav);
    m_title = 0;
}

TBlockResult TDvdReader::ReadBlock(uint8_t* block)
{
    if (m_title == 0)
        return TBlockResult::brEnd;
    int32_t event = 0;
    int32_t length = 0;
    if (dvdnav_get_next_block(m_nav, block, &event, &length) != DVDNAV_STATUS_OK)
        return TBlockResult::brError;
    switch (event) {
    case DVDNAV_BLOCK_OK:
    case DVDNAV_NAV_PACKET:
        m_idleEvents = 0;
        if (length != kBlockSize)
            return TBlockResult::brError;
        return TBlockResult::brBlock;
    case DVDNAV_STOP:
        m_title = 0;
        m_ranOff = true;
        return TBlockResult::brEnd;
    case DVDNAV_STILL_FRAME:
        dvdnav_still_skip(m_nav);
        break;
    case DVDNAV_WAIT:
        dvdnav_wait_skip(m_nav);
        break;
    default:
        break;
    }
    if (++m_idleEvents > kMaxIdleEvents || Chapter() < 0) {
        m_ranOff = true;
        return TBlockResult::brEnd;
    }
    return TBlockResult::brChanged;
}

int TDvdReader::Chapter() const
{
    if (m_title == 0 || !dvdnav_is_domain_vts(m_nav))
        return -1;
    int32_t title = 0;
    int32_t part = 0;
    if (dvdnav_current_title_info(m_nav, &title, &part) != DVDNAV_STATUS_OK || title != m_title || part < 1)
        return -1;
    return part;
}

bool TDvdReader::SeekBlock(uint32_t block)
{
    if (m_title == 0)
        return false;
    m_idleEvents = 0;
    return dvdnav_sector_search(m_nav, block, SEEK_SET) == DVDNAV_STATUS_OK;
}

std::optional<TBlockPosition> TDvdReader::Position() const
{
    uint32_t pos = 0;
    uint32_t len = 0;
    if (m_title == 0 || dvdnav_get_position(m_nav, &pos, &len) != DVDNAV_STATUS_OK)
        return std::nullopt;
    return TBlockPosition{pos, len};
}

} // namespace korvane::dvd
