#pragma once

#include "preview/PreviewSample.h"

#include <QIODevice>
#include <deque>

namespace korvane {

class TFFPushSource;

// The sound the audio sink pulls, taken block by block from the source.
//
// The feed remembers where in its bytes the sound's time does not run on
// from the block before (a gap in the stored sound, a jump of its
// timestamps), so the time of what the device has played is that of the
// block it came from, not the first block's time plus the bytes since.
class TAudioFeed : public QIODevice
{
public:
    // A block further than this from where the one before ended starts anew.
    static constexpr int64_t kJumpUs = 15000;

    void SetSource(TFFPushSource* source);
    // The sound's rate and channel count (16-bit samples).
    void SetFormat(int sampleRate, int channels);
    // Forgets the block being read and the times (after a seek).
    void Reset();
    // The time of the first byte handed out since the last reset; -1 before.
    int64_t FirstStartUs() const { return m_firstStartUs; }
    // The time of the sound playedUs into what was handed out since the
    // last reset; -1 before the first byte. Times before it are forgotten.
    int64_t SoundTimeUs(int64_t playedUs);
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    TFFPushSource* m_source = nullptr;
    TFFSamplePtr m_pending;
    int m_offset = 0;
    int64_t m_firstStartUs = -1;
    struct Anchor
    {
        int64_t byte; // from the reset
        int64_t us;   // the sound's time there
    };
    std::deque<Anchor> m_anchors;
    int64_t m_bytes = 0;     // handed out since the reset
    int64_t m_expectUs = -1; // where the next block runs on from the last
    int64_t m_bytesPerSecond = 0;
};

} // namespace korvane
