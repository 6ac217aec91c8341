#include "FramePreview.h"

#include <QAudioSink>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace korvane {

QString PreviewTimeText(int64_t us)
{
    const int64_t seconds = std::max<int64_t>(0, us) / 1000000;
    return QString::asprintf("%02d:%02d:%02d", int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
}

TFramePreview::TFramePreview(QWidget* parent)
    : QWidget(parent), m_view(new TVideoView(this)), m_bar(new TTimeBar(this)), m_play(new QToolButton(this)),
      m_setStart(new QPushButton(QStringLiteral("Set Start"), this)),
      m_setEnd(new QPushButton(QStringLiteral("Set End"), this)), m_startLabel(new QLabel(this)),
      m_endLabel(new QLabel(this)), m_positionLabel(new QLabel(this)), m_status(new QLabel(this))
{
    setFocusPolicy(Qt::StrongFocus);
    for (QWidget* w : {static_cast<QWidget*>(m_play), static_cast<QWidget*>(m_setStart),
                       static_cast<QWidget*>(m_setEnd)})
        w->setFocusPolicy(Qt::NoFocus); // the pane keeps the keys
    m_play->setAutoRaise(false);
    m_play->setIconSize(QSize(16, 16));
    m_status->setWordWrap(true);
    m_status->setStyleSheet(QStringLiteral("color: #c0392b"));
    m_status->hide();

    auto* marks = new QHBoxLayout;
    marks->addWidget(m_play);
    marks->addSpacing(6);
    marks->addWidget(m_setStart);
    marks->addWidget(m_startLabel);
    marks->addSpacing(6);
    marks->addWidget(m_setEnd);
    marks->addWidget(m_endLabel);
    marks->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_bar);
    layout->addLayout(marks);
    layout->addWidget(m_positionLabel);
    layout->addWidget(m_status);

    connect(m_play, &QToolButton::clicked, this, [this] { Play(); });
    connect(m_setStart, &QPushButton::clicked, this, [this] { SetStart(); });
    connect(m_setEnd, &QPushButton::clicked, this, [this] { SetEnd(); });
    connect(m_bar, &TTimeBar::SeekRequested, this, [this](int64_t us) { SeekTo(us); });
    connect(m_view, &TVideoView::Clicked, this, [this] { setFocus(); });
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
        ShowStatus(QStringLiteral("can not open the file %1!").arg(inputName));
        return;
    }
    m_startMark = m_endMark = 0;
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
    UpdatePositionText();
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


void TFramePreview::Tick()
{
    TFFPushSource* source = m_player.Source();
    if (!source)
        return;
    if (m_waitingFirst) {
        if (TFFSamplePtr picture = source->TakeVideo()) {
            m_waitingFirst = false;
            Show(picture);
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
}

int64_t TFramePreview::PositionUs() const
{
    if (m_player.HasVideo())
        return m_shownUs;
    return m_playing ? m_bar->Position() : m_clockBaseUs; // sound alone: the clock
}

} // namespace korvane
