// A range of chapters of one DVD title as a seekable byte stream of
// 2048-byte disc blocks holding the title's MPEG program stream. Registered
// in the stream registry, it is opened by the engine as "stream:<n>" and
// read by the "mpeg" demuxer.
//
// Byte 0 is the first block of the first chapter; the size runs to the first
// block of the chapter after the last one (or to the end of the title).
// Reading stops at the end of the range, or when playback leaves the title or
// goes back. Used by one thread at a time (the worker that opened it).
#pragma once

#include "sources/CircularBuffer.h"
#include "sources/StreamProtocol.h"
#include "sources/dvd/DvdReader.h"
#include "sources/dvd/DvdScan.h"

#include <memory>

namespace korvane::dvd {

class TDvdStream : public TStream
{
public:
    // Opens chapters firstChapter..lastChapter (from 1, inclusive) of title
    // at angle (from 1). Raises EEngineError "Can not open title" when the
    // disc cannot be opened or the angle does not exist, "Can not start
    // chapter" when a chapter is out of range or cannot be started.
    static std::unique_ptr<TDvdStream> Create(const TDvdTitle& title, int firstChapter, int lastChapter, int angle);
    ~TDvdStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    // Only from the beginning; other origins give -1. An offset past the end
    // goes to the end.
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;

    int Title() const { return m_title; }
    int FirstChapter() const { return m_firstChapter; }
    int LastChapter() const { return m_lastChapter; }
    int Angle() const { return m_angle; }
    int64_t Position() const { return m_position; }

    // Holding buffer for the part of a block not yet asked for.
    static constexpr size_t kRingSize = 8100 * kBlockSize;

private:
    enum class TNext { nBlock, nEnd, nError };
    enum class TForward { fReached, fOvershot, fFailed };
    // Forward seeks up to this far are done by reading.
    static constexpr uint32_t kReadAheadBlocks = 256;

    TDvdStream(std::unique_ptr<TDvdReader> reader, const TDvdTitle& title, int first, int last, int angle);
    // Starts chapter and reads its first block; index receives its position.
    bool StartAt(int chapter, uint8_t* block, uint32_t* index);
    // The next block of the range, applying the chapter and position bounds.
    TNext NextBlock(uint8_t* block, uint32_t* index);
    bool SeekToBlock(uint32_t target, uint8_t* block);
    // Reads up to target; block receives target's block when reached.
    TForward ReadForward(uint32_t target, uint8_t* block);

    std::unique_ptr<TDvdReader> m_reader;
    int m_title;
    int m_chapterCount;
    int m_firstChapter, m_lastChapter;
    int m_angle;
    TCircularBuffer m_ring{kRingSize};
    uint32_t m_startBlock = 0; // position of the range's first block
    uint32_t m_endBlock = 0;   // position just past the range
    int m_currentChapter = 0;  // chapter last seen while reading
    uint32_t m_lastBlock = 0;  // position of the block read last
    int64_t m_position = 0;    // bytes from the start of the range
    bool m_ended = false;      // the range has been read to its end
    bool m_failed = false;     // the disc failed; reads report an error until a seek
};

} // namespace korvane::dvd
