// The preview pane of the new conversion dialog: the source played with the
// job's filters, a time bar with the marked range, and the start and end
// marks.
//
// Time: pictures come from the player's decoding source with exact times.
// While playing, a steady clock runs from the shown picture; when the source
// has sound and an audio device takes it, the sound's position corrects that
// clock (the audio leads). Without a device the pane plays on the steady
// clock alone and drops the sound.
//
// Marks are the shown picture's time in microseconds, so a conversion of the
// marked range starts on exactly that picture.
#pragma once

#include "PreviewPane.h"
#include "PreviewSound.h"
#include "PreviewTimeBar.h"
#include "PreviewVideoView.h"
#include "preview/AVPlayer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>

class QAudioSink;
class QLabel;
class QPushButton;
class QToolButton;

namespace korvane {

class TFramePreview : public QWidget, public IPreviewPane
{
    Q_OBJECT
public:
    explicit TFramePreview(QWidget* parent = nullptr);
    ~TFramePreview() override;

    // IPreviewPane
    QWidget* Widget() override { return this; }
    void OpenSource(const QString& inputName) override;
    void StopPreview() override;
    void SetVideoFilters(const QString& description) override;
    int64_t StartPosition() const override { return m_startMark; }
    int64_t EndPosition() const override { return m_endMark; }

    // Plays when paused, pauses when playing.
    void Play();
    bool Playing() const { return m_playing; }
    void SeekTo(int64_t us);
    void StepForward();
    void StepBack();
    void SetStart();
    void SetEnd();
    // The shown picture's time (the clock for sound alone).
    int64_t PositionUs() const;
    // True until the picture asked for by an open or a seek is shown.
    bool WaitingForPicture() const { return m_waitingFirst; }
    // Whether an audio device may be used; without one the pane plays on its
    // steady clock. Applies from the next OpenSource.
    void SetAudioDeviceAllowed(bool allowed) { m_audioAllowed = allowed; }
    bool UsingAudioDevice() const { return m_sink != nullptr; }

    TAVPlayer& Player() { return m_player; }
    TVideoView* View() const { return m_view; }
    TTimeBar* TimeBar() const { return m_bar; }
    QToolButton* PlayButton() const { return m_play; }
    QLabel* StartLabel() const { return m_startLabel; }
    QLabel* EndLabel() const { return m_endLabel; }
    QLabel* PositionLabel() const { return m_positionLabel; }
    QLabel* StatusLabel() const { return m_status; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Tick();
    void Show(TFFSamplePtr picture);
    void Pause();
    void Resume();
    int64_t ClockUs();
    void StartSound();
    void StopSound();
    void OpenSound();
    void UpdatePlayButton();
    void UpdatePositionText();
    void UpdateMarks();
    void ShowStatus(const QString& text);

    TAVPlayer m_player;
    TVideoView* m_view;
    TTimeBar* m_bar;
    QToolButton* m_play;
    QPushButton* m_setStart;
    QPushButton* m_setEnd;
    QLabel* m_startLabel;
    QLabel* m_endLabel;
    QLabel* m_positionLabel;
    QLabel* m_status;
    QTimer m_tick;       // pictures due
    QTimer m_textTimer;  // the position text

    bool m_playing = false;
    bool m_waitingFirst = false;
    int64_t m_shownUs = 0;
    int64_t m_startMark = 0, m_endMark = 0;

    // the clock: m_clockBaseUs when m_steady was started, and the sound's
    // position last seen
    QElapsedTimer m_steady;
    int64_t m_clockBaseUs = 0;
    int64_t m_lastSoundUs = -1;

    bool m_audioAllowed = true;
    std::unique_ptr<QAudioSink> m_sink;
    TAudioFeed m_feed;
};

// "hh:mm:ss" of a time in microseconds.
QString PreviewTimeText(int64_t us);

} // namespace korvane
