#include "FramePreview.h"

#include <QAudioSink>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

namespace korvane {

QString PreviewTimeText(int64_t us)
{
    const int64_t ms = std::max<int64_t>(0, us) / 1000;
    const int64_t seconds = ms / 1000;
    return QString::asprintf("%02d:%02d:%02d.%03d", int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60),
                             int(ms % 1000));
}

TFramePreview::TFramePreview(QWidget* parent)
    : QWidget(parent), m_view(new TVideoView(this)), m_bar(new TTimeBar(this)), m_play(new QToolButton(this)),
      m_setStart(new QPushButton(QStringLiteral("Set Start"), this)),
      m_setEnd(new QPushButton(QStringLiteral("Set End"), this)), m_startLabel(new QLabel(this)),
      m_endLabel(new QLabel(this)), m_selectionLabel(new QLabel(this)), m_positionLabel(new QLabel(this)),
      m_status(new QLabel(this)), m_audioTrack(new QComboBox(this)), m_mute(new QToolButton(this)),
      m_volumeSlider(new QSlider(Qt::Horizontal, this))
{
    setFocusPolicy(Qt::StrongFocus);
    BuildControls();
    connect(m_play, &QToolButton::clicked, this, [this] { Play(); });
    connect(m_setStart, &QPushButton::clicked, this, [this] { SetStart(); });
    connect(m_setEnd, &QPushButton::clicked, this, [this] { SetEnd(); });
    connect(m_bar, &TTimeBar::SeekRequested, this, [this](int64_t us) { SeekTo(us); });
    connect(m_bar, &TTimeBar::MarkDragged, this, [this](int mark, int64_t us) { MarkDragged(mark, us); });
    connect(m_bar, &TTimeBar::MarkReleased, this, [this](int) { m_followReleased = true; });
    connect(m_view, &TVideoView::Clicked, this, [this] { setFocus(); });
    connect(m_audioTrack, &QComboBox::activated, this, [this](int index) { SetAudioTrack(index); });
    connect(m_mute, &QToolButton::clicked, this, [this] { SetMuted(!m_muted); });
    connect(m_volumeSlider, &QSlider::valueChanged, this, [this](int value) { SetVolume(value); });
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(5);
    connect(&m_tick, &QTimer::timeout, this, [this] { Tick(); });
    m_textTimer.setInterval(200);
    connect(&m_textTimer, &QTimer::timeout, this, [this] { UpdatePositionText(); });

    m_player.OnError = [this](TAVPlayer*, const QString& message) {
        // the streaming thread reports here too: show it on this thread
        QMetaObject::invokeMethod(this, [this, message] { ShowStatus(message); }, Qt::QueuedConnection);
    };
    UpdatePlayButton();
    UpdateMarks();
    UpdatePositionText();
    UpdateSoundControls();
}

void TFramePreview::BuildControls()
{
    for (QWidget* w : std::initializer_list<QWidget*>{m_play, m_setStart, m_setEnd, m_audioTrack, m_mute,
                                                     m_volumeSlider})
        w->setFocusPolicy(Qt::NoFocus); // the pane keeps the keys
    m_play->setAutoRaise(false);
    m_play->setIconSize(QSize(16, 16));
    m_mute->setIconSize(QSize(16, 16));
    m_mute->setAutoRaise(true);
    m_volumeSlider->setRange(0, 100);
    m_volumeSlider->setValue(m_volume);
    m_volumeSlider->setFixedWidth(80);
    m_volumeSlider->setToolTip(QStringLiteral("Volume"));
    m_audioTrack->setToolTip(QStringLiteral("Sound track"));
    m_audioTrack->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_audioTrack->setMaximumWidth(220);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setStyleSheet(QStringLiteral("color: #c0392b"));
    m_status->hide();
    m_setStart->setToolTip(QStringLiteral("Mark the shown picture as the start (I); [ goes back to it"));
    m_setEnd->setToolTip(QStringLiteral("Mark the shown picture as the last one converted (O); ] goes back to it"));

    auto* marks = new QHBoxLayout;
    marks->addWidget(m_play);
    marks->addSpacing(6);
    marks->addWidget(m_setStart);
    marks->addWidget(m_startLabel);
    marks->addSpacing(6);
    marks->addWidget(m_setEnd);
    marks->addWidget(m_endLabel);
    marks->addStretch(1);
    auto* info = new QHBoxLayout;
    info->addWidget(m_positionLabel);
    info->addSpacing(12);
    info->addWidget(m_selectionLabel);
    info->addStretch(1);
    info->addWidget(m_audioTrack);
    info->addWidget(m_mute);
    info->addWidget(m_volumeSlider);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_bar);
    layout->addLayout(marks);
    layout->addLayout(info);
    layout->addWidget(m_status);
}

TFramePreview::~TFramePreview()
{
    StopSound();
    m_sink.reset();
    m_player.Close();
}

void TFramePreview::ShowStatus(const QString& text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

void TFramePreview::OpenSource(const QString& inputName)
{
    StopPreview();
    ShowStatus(QString());
    if (!m_player.OpenFile(inputName)) {
        // the library's reason under the message
        QString text = QStringLiteral("can not open the file %1!").arg(inputName);
        if (!m_player.LastError().isEmpty())
            text += QLatin1Char('\n') + m_player.LastError();
        ShowStatus(text);
        UpdateSoundControls();
        return;
    }
    m_startMark = m_endMark = m_endWindowUs = 0;
    m_followMark = -1;
    m_shownUs = 0;
    m_bar->SetDuration(m_player.DurationUs());
    m_bar->SetPosition(0);
    UpdateMarks();
    m_feed.SetSource(m_player.Source());
    OpenSound();
    m_waitingFirst = m_player.HasVideo();
    m_clockBaseUs = 0;
    m_tick.start();
    m_textTimer.start();
    UpdatePositionText();
    UpdateSoundControls();
}

void TFramePreview::StopPreview()
{
    Pause();
    m_tick.stop();
    m_textTimer.stop();
    StopSound();
    m_sink.reset();
    m_feed.SetSource(nullptr);
    m_player.Close();
    m_view->SetPicture(nullptr);
    m_waitingFirst = false;
    m_bar->SetDuration(0);
    m_bar->SetPosition(0);
    // the marks stay: the dialog reads them after stopping the preview
    m_followMark = -1;
    UpdatePositionText();
    UpdateSoundControls();
}

void TFramePreview::SetVideoFilters(const QString& description)
{
    const QString before = m_player.VideoFilters();
    ShowStatus(QString());
    m_player.SetVideoFilters(description);
    if (m_player.Source() && m_player.VideoFilters() != before && m_player.HasVideo()) {
        // the same picture again, through the new filters
        SeekTo(m_shownUs);
    }
}


void TFramePreview::SetDeinterlace(bool deinterlace)
{
    if (deinterlace == m_player.Deinterlace())
        return;
    m_player.SetDeinterlace(deinterlace);
    if (m_player.Source() && m_player.HasVideo())
        SeekTo(m_shownUs); // the same picture, deinterlaced or not
}

void TFramePreview::Tick()
{
    TFFPushSource* source = m_player.Source();
    if (!source)
        return;
    if (m_waitingFirst) {
        if (TFFSamplePtr picture = source->TakeVideo()) {
            m_waitingFirst = false;
            Show(picture);
            UpdatePositionText();
            m_clockBaseUs = picture->startUs;
            m_steady.restart();
            if (m_playing)
                StartSound();
        } else if (source->EndOfStream()) {
            m_waitingFirst = false;
        }
        return;
    }
    if (!m_playing)
        return;
    const int64_t now = ClockUs();
    // late ones are passed over
    if (TFFSamplePtr due = source->TakeDueVideo(now))
        Show(due);
    if (!m_sink) {
        // no device takes the sound: drop it as its time passes
        while (TFFSamplePtr block = source->PeekAudio()) {
            if (block->stopUs > now)
                break;
            source->TakeAudio();
        }
    }
    if (!m_player.HasVideo())
        m_bar->SetPosition(now);
    if (source->EndOfStream())
        Pause();
}

void TFramePreview::Show(TFFSamplePtr picture)
{
    m_shownUs = picture->startUs;
    m_view->SetPicture(std::move(picture));
    m_bar->SetPosition(m_shownUs);
    if (m_followMark >= 0) {
        // a mark dragged on the bar lands on the picture the drag shows
        if (m_followMark == TTimeBar::mkStart)
            SetStart();
        else
            SetEnd();
        if (m_followReleased && !m_waitingFirst)
            m_followMark = -1;
    }
}

int64_t TFramePreview::PositionUs() const
{
    if (m_player.HasVideo())
        return m_shownUs;
    return m_playing ? m_bar->Position() : m_clockBaseUs; // sound alone: the clock
}

} // namespace korvane
