// The preview's queues: pictures and sound waiting for the player, the seek
// request, and the BGRA conversion of a picture as it is taken.
#include "preview/PushSource.h"

#include <cstring>

namespace korvane {

namespace {

// the scaler's vector code may write this far past the end of the last row
constexpr size_t kScalerSlack = 256;

} // namespace

void TFFPushSource::Seek(int64_t timeUs, TSeekMode mode)
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        const int64_t total = TotalDurationUs();
        m_seekTargetUs = std::max<int64_t>(0, total > 0 ? std::min(timeUs, total) : timeUs);
        m_seekMode = mode;
        ++m_seekGeneration;
        m_videoQueue.clear();
        m_videoQueueBytes = 0;
        ClearAudioQueue();
        m_subtitles.Clear();
        m_endOfStream = false;
    }
    {
        std::lock_guard<std::mutex> guard(m_interruptLock);
        m_seekWaiting = true;
        UpdateInterrupt();
    }
    m_wake.notify_all();
}

bool TFFPushSource::Throttled() const
{
    if (m_endOfStream)
        return true;
    // Each queue is bounded on its own: when the pictures stop (a still
    // image, filters that give none) or the sound has ended, the other kind
    // must not pile up. The sound is bounded by its length, so that sound
    // stored well ahead of its pictures still lets them be read.
    const bool videoFull = m_hasVideoDecoder && (int(m_videoQueue.size()) >= kQueueDepth ||
                                                 m_videoQueueBytes >= kVideoQueueBytes);
    const bool audioFull = m_hasAudioDecoder && m_audioQueueUs >= kAudioQueueUs;
    if (audioFull && VideoHeldBack())
        return false; // the thread takes out what the decoder holds
    return videoFull || audioFull;
}

bool TFFPushSource::VideoHeldBack() const
{
    // thread's own state: Throttled is asked on the streaming thread
    return m_hasVideoDecoder && m_videoQueue.empty() && m_videoPending > 0 && !m_dropping;
}

void TFFPushSource::ClearAudioQueue()
{
    m_audioQueue.clear();
    m_audioQueueUs = 0;
}

void TFFPushSource::PushVideo(TFFSamplePtr sample)
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_seekGeneration != m_doneGeneration)
            return; // from before a seek that is still to be carried out
        // a picture lasts until the next one: stored durations may be
        // missing or wrong (a variable frame rate)
        if (!m_videoQueue.empty() && sample->startUs > m_videoQueue.back()->startUs)
            m_videoQueue.back()->stopUs = sample->startUs;
        m_videoQueueBytes += sample->size;
        m_videoQueue.push_back(std::move(sample));
    }
    m_queued.notify_all();
}

void TFFPushSource::PushAudio(TFFSamplePtr sample)
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_seekGeneration != m_doneGeneration)
            return;
        m_audioQueueUs += sample->stopUs - sample->startUs;
        m_audioQueue.push_back(std::move(sample));
    }
    m_queued.notify_all();
}

TFFSamplePtr TFFPushSource::TakeVideo()
{
    return TakeVideoUntil(INT64_MAX, false);
}

TFFSamplePtr TFFPushSource::TakeDueVideo(int64_t nowUs)
{
    return TakeVideoUntil(nowUs, true);
}

TFFSamplePtr TFFPushSource::TakeVideoUntil(int64_t nowUs, bool newestDue)
{
    TFFSamplePtr sample;
    {
        std::lock_guard<std::mutex> convert(m_convertLock);
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            while (!m_videoQueue.empty() && m_videoQueue.front()->startUs <= nowUs) {
                sample = std::move(m_videoQueue.front());
                m_videoQueue.pop_front();
                m_videoQueueBytes -= sample->size;
                if (!newestDue)
                    break;
            }
            if (!sample)
                return nullptr;
        }
        m_wake.notify_all();
        // outside the queue lock: the streaming thread goes on meanwhile
        if (sample->picture && !ToBgra(*sample))
            return nullptr;
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_subtitles.Apply(*sample);
    }
    // no lock held: the callback may call back into the source
    if (m_onBuffer)
        m_onBuffer(this, sample->data.get(), sample->width, sample->height);
    return sample;
}

bool TFFPushSource::ToBgra(TFFSample& sample)
{
    const AVFrame* frame = sample.picture.get();
    const int w = sample.width, h = sample.height;
    m_toBgra.reset(sws_getCachedContext(m_toBgra.release(), w, h, AVPixelFormat(frame->format), w, h,
                                        AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!m_toBgra)
        return false;
    const int packed = w * 4;
    if (w != m_bgraWidth || h != m_bgraHeight || frame->format != m_bgraFormat) {
        m_bgraWidth = w;
        m_bgraHeight = h;
        m_bgraFormat = frame->format;
        m_bgraPacked = packed % 64 == 0 ? TPackedRows::prWhole : TPackedRows::prUnknown;
    }
    sample.data.reset(new uint8_t[size_t(sample.size) + kScalerSlack]);
    auto convert = [&](uint8_t* to, int stride) {
        uint8_t* planes[4] = {to, nullptr, nullptr, nullptr};
        const int lines[4] = {stride, 0, 0, 0};
        sws_scale(m_toBgra.get(), frame->data, frame->linesize, 0, h, planes, lines);
    };
    if (m_bgraPacked == TPackedRows::prWhole) {
        convert(sample.data.get(), packed);
    } else {
        // For some widths (and formats) the scaler's vector code leaves the
        // last pixels of rows that do not start on 64-byte boundaries
        // unwritten: convert into aligned rows and pack them.
        const int aligned = FFALIGN(packed, 64);
        const size_t need = size_t(aligned) * h + kScalerSlack;
        if (m_bgraScratch.size() < need)
            m_bgraScratch.resize(need);
        convert(m_bgraScratch.data(), aligned);
        av_image_copy_plane(sample.data.get(), packed, m_bgraScratch.data(), aligned, packed, h);
        if (m_bgraPacked == TPackedRows::prUnknown) {
            // Whether it does for this size is tried once: a conversion
            // straight into packed rows that start out zero (an unwritten
            // pixel keeps alpha 0, a written one never does) must give the
            // same bytes. Then the copy is spared for the pictures to come.
            std::vector<uint8_t> trial(size_t(sample.size) + kScalerSlack, 0);
            convert(trial.data(), packed);
            m_bgraPacked = std::memcmp(trial.data(), sample.data.get(), size_t(sample.size)) == 0
                               ? TPackedRows::prWhole
                               : TPackedRows::prCopied;
        }
    }
    sample.picture.reset(); // the filters' buffer goes back to them
    return true;
}

TFFSamplePtr TFFPushSource::PeekVideo() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_videoQueue.empty() ? nullptr : m_videoQueue.front();
}

TFFSamplePtr TFFPushSource::WaitVideo(int timeoutMs)
{
    {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_queued.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
            return !m_videoQueue.empty() || (m_endOfStream && m_seekGeneration == m_doneGeneration) ||
                   !m_error.isEmpty();
        });
    }
    return TakeVideo();
}

TFFSamplePtr TFFPushSource::TakeAudio()
{
    TFFSamplePtr sample;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_audioQueue.empty())
            return nullptr;
        sample = std::move(m_audioQueue.front());
        m_audioQueue.pop_front();
        m_audioQueueUs -= sample->stopUs - sample->startUs;
    }
    m_wake.notify_all();
    if (m_onAudioBuffer)
        m_onAudioBuffer(this, sample->data.get(), sample->size);
    return sample;
}

TFFSamplePtr TFFPushSource::PeekAudio() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_audioQueue.empty() ? nullptr : m_audioQueue.front();
}

TFFSamplePtr TFFPushSource::WaitAudio(int timeoutMs)
{
    {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_queued.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
            return !m_audioQueue.empty() || (m_endOfStream && m_seekGeneration == m_doneGeneration) ||
                   !m_error.isEmpty();
        });
    }
    return TakeAudio();
}

int64_t TFFPushSource::NextVideoUs() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_videoQueue.empty() ? -1 : m_videoQueue.front()->startUs;
}

int TFFPushSource::QueuedVideo() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return int(m_videoQueue.size());
}

int TFFPushSource::QueuedAudio() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return int(m_audioQueue.size());
}

int64_t TFFPushSource::QueuedAudioUs() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_audioQueueUs;
}

bool TFFPushSource::EndOfStream() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    if (!m_error.isEmpty())
        return true;
    return m_endOfStream && m_seekGeneration == m_doneGeneration && m_videoQueue.empty() &&
           m_audioQueue.empty();
}

QString TFFPushSource::ErrorText() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_error;
}

void TFFPushSource::Fail(const QString& message)
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_error = message;
        m_endOfStream = true;
    }
    m_queued.notify_all();
    if (m_onError)
        m_onError(this, message);
}

} // namespace korvane
