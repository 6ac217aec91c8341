// Reading one title of a video DVD block by block, over libdvdnav.
//
// Positions are counted in 2048-byte blocks from the start of the title's
// program chain (all its cells, as libdvdnav counts them with PGC-based
// positioning). A started title delivers its blocks in playback order,
// navigation packs included, so block positions and stream bytes agree.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

struct dvdnav_s;

namespace korvane::dvd {

constexpr int kBlockSize = 2048;

enum class TBlockResult {
    brBlock,   // a block was delivered
    brChanged, // no block: the position moved (new cell, chapter or title); look again
    brEnd,     // the title is over (playback left it or stopped)
    brError,   // the disc could not be read
};

struct TBlockPosition
{
    uint32_t Block = 0;  // position of the block read last
    uint32_t Length = 0; // the title's length in blocks
};

class TDvdReader
{
public:
    // Opens a disc: a device, a folder holding VIDEO_TS (or VIDEO_TS itself)
    // or an image file. Nothing when it cannot be opened.
    static std::unique_ptr<TDvdReader> Open(const QString& path);
    ~TDvdReader();
    TDvdReader(const TDvdReader&) = delete;
    TDvdReader& operator=(const TDvdReader&) = delete;

    int TitleCount() const;
    int ChapterCount(int title) const;
    int AngleCount(int title) const;

    // Starts playback of title (from 1) at chapter (from 1).
    bool StartChapter(int title, int chapter);
    // Chooses the angle (from 1) of the started title.
    bool SetAngle(int angle);
    void Stop();

    // Reads the next block of the started title into block (kBlockSize bytes).
    TBlockResult ReadBlock(uint8_t* block);
    // Chapter of the started title at the read position; -1 when playback is
    // not inside that title.
    int Chapter() const;
    // Moves the read position near block: libdvdnav goes to a navigation
    // unit at or before it (sometimes the start of the cell), so the caller
    // reads forward to the exact block.
    bool SeekBlock(uint32_t block);
    std::optional<TBlockPosition> Position() const;

    int Title() const { return m_title; }

private:
    explicit TDvdReader(dvdnav_s* nav) : m_nav(nav) {}

    dvdnav_s* m_nav;
    int m_title = 0; // started title, 0 when none
    // consecutive events without data; a disc that never delivers ends
    int m_idleEvents = 0;
    bool m_ranOff = false; // playback left the title: the next start resets the reader
};

} // namespace korvane::dvd
