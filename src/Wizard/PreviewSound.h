#pragma once

#include "preview/PreviewSample.h"

#include <QIODevice>

namespace korvane {

class TFFPushSource;

// The sound the audio sink pulls, taken block by block from the source.
class TAudioFeed : public QIODevice
{
public:
    void SetSource(TFFPushSource* source);
    // Forgets the block being read (after a seek).
    void Reset();
    // The time of the first byte handed out since the last reset; -1 before.
    int64_t FirstStartUs() const { return m_firstStartUs; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    TFFPushSource* m_source = nullptr;
    TFFSamplePtr m_pending;
    int m_offset = 0;
    int64_t m_firstStartUs = -1;
};

} // namespace korvane
