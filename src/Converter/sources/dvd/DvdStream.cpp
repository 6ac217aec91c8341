#include "sources/dvd/DvdStream.h"

#include "options/Persistent.h"

#include <algorithm>
#include <cstring>

namespace korvane::dvd {

TDvdStream::TDvdStream(std::unique_ptr<TDvdReader> reader, const TDvdTitle& title, int first, int last, int angle)
    : m_reader(std::move(reader)), m_title(title.Number), m_chapterCount(static_cast<int>(title.Chapters.size())),
      m_firstChapter(first), m_lastChapter(last), m_angle(angle)
{
}

TDvdStream::~TDvdStream() { m_reader->Stop(); }

std::unique_ptr<TDvdStream> TDvdStream::Create(const TDvdTitle& title, int firstChapter, int lastChapter, int angle)
{
    std::unique_ptr<TDvdReader> reader = TDvdReader::Open(title.Path);
    if (!reader || angle < 1 || angle > title.AngleCount)
        throw EEngineError("Can not open title");
    const int chapters = static_cast<int>(title.Chapters.size());
    if (firstChapter < 1 || lastChapter < firstChapter || lastChapter > chapters)
        throw EEngineError("Can not start chapter");
    // the chapter numbers are those of the records at these positions
    const int first = title.Chapters[firstChapter - 1].Number;
    const int last = title.Chapters[lastChapter - 1].Number;
    std::unique_ptr<TDvdStream> stream(new TDvdStream(std::move(reader), title, first, last, angle));

    uint8_t block[kBlockSize];
    uint32_t index = 0;
    if (last < chapters) {
        // the range ends where the next chapter begins
        if (!stream->StartAt(last + 1, block, &index))
            throw EEngineError("Can not start chapter");
        stream->m_endBlock = index;
    }
    if (!stream->StartAt(first, block, &index))
        throw EEngineError("Can not start chapter");
    stream->m_startBlock = index;
    if (last == chapters) {
        const std::optional<TBlockPosition> position = stream->m_reader->Position();
        if (!position)
            throw EEngineError("Can not start chapter");
        stream->m_endBlock = position->Length;
    }
    if (stream->m_endBlock <= stream->m_startBlock)
        throw EEngineError("Can not start chapter");
    // the first block is the stream's first data, kept for the first read
    stream->m_ring.Write(block, kBlockSize);
    return stream;
}

bool TDvdStream::StartAt(int chapter, uint8_t* block, uint32_t* index)
{
    if (!m_reader->StartChapter(m_title, chapter))
        return false;
    if (m_angle > 1 && !m_reader->SetAngle(m_angle))
        return false;
    m_currentChapter = chapter;
    for (;;) {
        switch (m_reader->ReadBlock(block)) {
        case TBlockResult::brBlock: {
            const std::optional<TBlockPosition> position = m_reader->Position();
            if (!position || m_reader->Chapter() != chapter)
                return false;
            *index = m_lastBlock = position->Block;
            return true;
        }
        case TBlockResult::brChanged: continue;
        default: return false;
        }
    }
}

TDvdStream::TNext TDvdStream::NextBlock(uint8_t* block, uint32_t* index)
{
    for (;;) {
        const int chapter = m_reader->Chapter();
        if (chapter < m_currentChapter) // playback went back, or left the title
            return TNext::nEnd;
        m_currentChapter = chapter;
        if (chapter < m_firstChapter || chapter > m_lastChapter)
            return TNext::nEnd;
        switch (m_reader->ReadBlock(block)) {
        case TBlockResult::brBlock: {
            const std::optional<TBlockPosition> position = m_reader->Position();
            if (!position)
                return TNext::nError;
            if (position->Block < m_startBlock || position->Block >= m_endBlock)
                return TNext::nEnd;
            *index = m_lastBlock = position->Block;
            return TNext::nBlock;
        }
        case TBlockResult::brChanged: continue;
        case TBlockResult::brEnd: return TNext::nEnd;
        case TBlockResult::brError: return TNext::nError;
        }
    }
}

int64_t TDvdStream::Read(void* buffer, int64_t count)
{
    if (count <= 0)
        return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    // the ring holds what is left of the last block; it is emptied first and
    // then refilled with at most one block's remainder, so nothing is ever
    // dropped for want of room
    const int64_t held = std::min<int64_t>(count, static_cast<int64_t>(m_ring.DataSize()));
    m_ring.Read(out, static_cast<size_t>(held));
    int64_t delivered = held;
    uint8_t block[kBlockSize];
    while (delivered < count && !m_ended) {
        uint32_t index = 0;
        const TNext next = NextBlock(block, &index);
        if (next != TNext::nBlock) {
            m_ended = true;
            m_failed = next == TNext::nError;
            break;
        }
        const int64_t n = std::min<int64_t>(kBlockSize, count - delivered);
        std::memcpy(out + delivered, block, static_cast<size_t>(n));
        delivered += n;
        if (n < kBlockSize)
            m_ring.Write(block + n, static_cast<size_t>(kBlockSize - n));
    }
    m_position += delivered;
    if (delivered == 0 && m_failed)
        return -1;
    return delivered;
}

int64_t TDvdStream::Size() { return (static_cast<int64_t>(m_endBlock) - m_startBlock) * kBlockSize; }

TDvdStream::TForward TDvdStream::ReadForward(uint32_t target, uint8_t* block)
{
    for (;;) {
        uint32_t index = 0;
        if (NextBlock(block, &index) != TNext::nBlock)
            return TForward::fFailed;
        if (index == target)
            return TForward::fReached;
        if (index > target)
            return TForward::fOvershot;
    }
}

// Positions the reader so that the next block it delivers follows target,
// and puts target's block into block.
bool TDvdStream::SeekToBlock(uint32_t target, uint8_t* block)
{
    uint32_t index = 0;
    if (target == m_startBlock)
        return StartAt(m_firstChapter, block, &index) && index == target;
    // a short way ahead is read rather than sought: cheaper, and libdvdnav
    // ignores a jump into the navigation unit it is reading
    if (!m_ended && m_lastBlock < target && target - m_lastBlock <= kReadAheadBlocks)
        return ReadForward(target, block) == TForward::fReached;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // a reader that has run off the title, or that missed the target,
        // starts the range again and jumps from there
        if (attempt > 0 || m_ended || m_reader->Chapter() < 0) {
            if (!StartAt(m_firstChapter, block, &index))
                return false;
        }
        if (!m_reader->SeekBlock(target))
            return false;
        // the reader lands at or before the target: read forward to it, with
        // the chapter it landed in as the current one
        m_currentChapter = std::max(m_reader->Chapter(), m_firstChapter);
        const TForward result = ReadForward(target, block);
        if (result == TForward::fReached)
            return true;
        if (result == TForward::fFailed)
            return false;
    }
    // the jump keeps missing: read the range from its start
    return StartAt(m_firstChapter, block, &index) && ReadForward(target, block) == TForward::fReached;
}

int64_t TDvdStream::Seek(int64_t offset, TSeekOrigin origin)
{
    m_ring.Reset();
    if (origin != TSeekOrigin::soBeginning || offset < 0)
        return -1;
    m_failed = false;
    const int64_t size = Size();
    if (offset >= size) {
        // nothing to read there: the next read reports the end
        m_ended = true;
        m_position = size;
        return size;
    }
    uint8_t block[kBlockSize];
    const auto target = static_cast<uint32_t>(m_startBlock + offset / kBlockSize);
    if (!SeekToBlock(target, block)) {
        m_ended = true;
        m_failed = true;
        return -1;
    }
    const auto skip = static_cast<size_t>(offset % kBlockSize);
    m_ring.Write(block + skip, kBlockSize - skip);
    m_ended = false;
    m_position = offset;
    return offset;
}

} // namespace korvane::dvd
