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
#include <functional>
#include <memory>

class QAudioFormat;
class QColor;
class QIcon;
class QPainter;
class QAudioSink;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
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
    void SetDeinterlace(bool deinterlace) override;
    int64_t StartPosition() const override { return m_startMark; }
    // The marked range ends where the end picture ends: its time plus its
    // duration (no later than the next picture), so that picture is the
    // last one converted.
    int64_t EndPosition() const override { return m_endMark > 0 ? m_endWindowUs : 0; }
    // The time of the picture the end was marked on; 0 when none was.
    int64_t EndMark() const { return m_endMark; }

    // Plays when paused, pauses when playing.
    void Play();
    bool Playing() const { return m_playing; }
    void SeekTo(int64_t us);
    // By deltaUs from the shown picture, within the playing time.
    void SeekBy(int64_t deltaUs);
    // The last picture.
    void SeekToEnd();
    void StepForward();
    void StepBack();
    void SetStart();
    void SetEnd();
    // To the picture a mark was set on (nothing when it is not set).
    void JumpToStart();
    void JumpToEnd();
    // The shown picture's time (the clock for sound alone).
    int64_t PositionUs() const;
    // True until the picture asked for by an open or a seek is shown.
    bool WaitingForPicture() const { return m_waitingFirst; }
    // Whether an audio device may be used; without one the pane plays on its
    // steady clock. Applies from the next OpenSource.
    void SetAudioDeviceAllowed(bool allowed) { m_audioAllowed = allowed; }
    bool UsingAudioDevice() const { return m_sink != nullptr; }
    // The format the device plays; invalid without a device.
    QAudioFormat SoundFormat() const;
    // The device's volume, 0 to 1 (0 without a device).
    double DeviceVolume() const;

    // Volume in percent, and muting; kept across sources.
    void SetVolume(int percent);
    int Volume() const { return m_volume; }
    void SetMuted(bool muted);
    bool Muted() const { return m_muted; }
    // The sound track played (an index into the source's sound tracks).
    void SetAudioTrack(int index);

    TAVPlayer& Player() { return m_player; }
    TVideoView* View() const { return m_view; }
    TTimeBar* TimeBar() const { return m_bar; }
    QToolButton* PlayButton() const { return m_play; }
    QLabel* StartLabel() const { return m_startLabel; }
    QLabel* EndLabel() const { return m_endLabel; }
    QLabel* SelectionLabel() const { return m_selectionLabel; }
    QLabel* PositionLabel() const { return m_positionLabel; }
    QLabel* StatusLabel() const { return m_status; }
    QComboBox* AudioTrackBox() const { return m_audioTrack; }
    QToolButton* MuteButton() const { return m_mute; }
    QSlider* VolumeSlider() const { return m_volumeSlider; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildControls();
    void Tick();
    void Show(TFFSamplePtr picture);
    void Pause();
    void Resume();
    int64_t ClockUs();
    void StartSound();
    void StopSound();
    void OpenSound();
    void ApplyVolume();
    // where the shown picture ends for a conversion: its time plus its
    // duration, and no later than the next picture
    int64_t ShownPictureEndUs() const;
    void MarkDragged(int mark, int64_t us);
    void UpdatePlayButton();
    void UpdatePositionText();
    void UpdateMarks();
    void UpdateSoundControls();
    void ShowStatus(const QString& text);
    QString TimeAndFrame(int64_t us) const;

    TAVPlayer m_player;
    TVideoView* m_view;
    TTimeBar* m_bar;
    QToolButton* m_play;
    QPushButton* m_setStart;
    QPushButton* m_setEnd;
    QLabel* m_startLabel;
    QLabel* m_endLabel;
    QLabel* m_selectionLabel;
    QLabel* m_positionLabel;
    QLabel* m_status;
    QComboBox* m_audioTrack;
    QToolButton* m_mute;
    QSlider* m_volumeSlider;
    QTimer m_tick;       // pictures due
    QTimer m_textTimer;  // the position text

    bool m_playing = false;
    bool m_waitingFirst = false;
    int64_t m_shownUs = 0;
    int64_t m_startMark = 0, m_endMark = 0;
    int64_t m_endWindowUs = 0; // where the end picture ends
    // a mark being dragged on the time bar follows the pictures the drag
    // shows; after the release, until the last one asked for is shown
    int m_followMark = -1;
    bool m_followReleased = false;

    // the clock: m_clockBaseUs when m_steady was started, and the sound's
    // position last seen
    QElapsedTimer m_steady;
    int64_t m_clockBaseUs = 0;
    int64_t m_lastSoundUs = -1;

    bool m_audioAllowed = true;
    int m_volume = 100;
    bool m_muted = false;
    std::unique_ptr<QAudioSink> m_sink;
    TAudioFeed m_feed;
};

// "hh:mm:ss.mmm" of a time in microseconds.
QString PreviewTimeText(int64_t us);

// A 32x32 icon drawn by paint on a transparent ground; the painter comes
// antialiased, without pen, with colour as its brush.
QIcon PaintedIcon(const QColor& colour, const std::function<void(QPainter&)>& paint);

} // namespace korvane
