#include "FramePreview.h"

#include "av/AVLib.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaDevices>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstring>

namespace korvane {

QString PreviewTimeText(int64_t us)
{
    const int64_t seconds = std::max<int64_t>(0, us) / 1000000;
    return QString::asprintf("%02d:%02d:%02d", int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
}

// ---- TVideoView ----------------------------------------------------------

TVideoView::TVideoView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TVideoView::SetPicture(TFFSamplePtr picture)
{
    m_picture = std::move(picture);
    if (m_picture)
        m_image = QImage(m_picture->data.get(), m_picture->width, m_picture->height, m_picture->width * 4,
                         QImage::Format_RGB32);
    else
        m_image = QImage();
    update();
}

QRect TVideoView::PictureRect() const
{
    if (m_image.isNull())
        return {};
    double aspect = double(m_image.width()) / double(m_image.height());
    if (m_picture->pixelAspect.num > 0 && m_picture->pixelAspect.den > 0)
        aspect *= av_q2d(m_picture->pixelAspect);
    int w = width(), h = int(double(w) / aspect + 0.5);
    if (h > height()) {
        h = height();
        w = int(double(h) * aspect + 0.5);
    }
    return {(width() - w) / 2, (height() - h) / 2, w, h};
}

void TVideoView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(PictureRect(), m_image);
}

void TVideoView::mousePressEvent(QMouseEvent* event)
{
    emit Clicked();
    QWidget::mousePressEvent(event);
}

// ---- TTimeBar ------------------------------------------------------------

TTimeBar::TTimeBar(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void TTimeBar::SetDuration(int64_t us)
{
    m_duration = std::max<int64_t>(0, us);
    update();
}

void TTimeBar::SetPosition(int64_t us)
{
    if (us == m_position)
        return;
    m_position = us;
    update();
}

void TTimeBar::SetSelection(int64_t startUs, int64_t endUs)
{
    m_selStart = startUs;
    m_selEnd = endUs;
    update();
}

QRect TTimeBar::Groove() const
{
    return {6, height() / 2 - 3, std::max(1, width() - 12), 6};
}

int64_t TTimeBar::TimeAt(int x) const
{
    const QRect g = Groove();
    if (m_duration <= 0)
        return 0;
    const double f = std::clamp(double(x - g.left()) / double(g.width()), 0.0, 1.0);
    return int64_t(f * double(m_duration));
}

int TTimeBar::XAt(int64_t us) const
{
    const QRect g = Groove();
    if (m_duration <= 0)
        return g.left();
    const double f = std::clamp(double(us) / double(m_duration), 0.0, 1.0);
    return g.left() + int(f * g.width() + 0.5);
}

void TTimeBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect g = Groove();
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Mid));
    p.drawRoundedRect(g, 3, 3);
    if (m_selStart > 0 || m_selEnd > 0) {
        const int from = XAt(m_selStart);
        const int to = XAt(m_selEnd > 0 ? m_selEnd : m_duration);
        p.setBrush(palette().color(QPalette::Highlight));
        p.drawRect(QRect(QPoint(from, g.top() - 2), QPoint(std::max(from + 1, to), g.bottom() + 2)));
    }
    const int x = XAt(m_position);
    p.setBrush(palette().color(QPalette::Button));
    p.setPen(palette().color(QPalette::ButtonText));
    p.drawRoundedRect(QRectF(x - 4.5, 1.5, 9, height() - 3), 2, 2);
}

void TTimeBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_duration > 0)
        emit SeekRequested(TimeAt(event->position().toPoint().x()));
}

void TTimeBar::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && m_duration > 0)
        emit SeekRequested(TimeAt(event->position().toPoint().x()));
}

// ---- TAudioFeed ----------------------------------------------------------

void TAudioFeed::SetSource(TFFPushSource* source)
{
    m_source = source;
    Reset();
}

void TAudioFeed::Reset()
{
    m_pending.reset();
    m_offset = 0;
    m_firstStartUs = -1;
}

qint64 TAudioFeed::readData(char* data, qint64 maxSize)
{
    qint64 written = 0;
    while (m_source && written < maxSize) {
        if (!m_pending || m_offset >= m_pending->size) {
            m_pending = m_source->TakeAudio();
            m_offset = 0;
            if (!m_pending)
                break; // nothing decoded yet: the sink asks again
            if (m_firstStartUs < 0)
                m_firstStartUs = m_pending->startUs;
        }
        const qint64 n = std::min<qint64>(maxSize - written, m_pending->size - m_offset);
        std::memcpy(data + written, m_pending->data.get() + m_offset, size_t(n));
        m_offset += int(n);
        written += n;
    }
    return written;
}

// ---- TFramePreview -------------------------------------------------------

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

void TFramePreview::OpenSound()
{
    m_sink.reset();
    TFFPushSource* source = m_player.Source();
    if (!m_audioAllowed || !source || source->AudioIndex() < 0 || source->SampleRate() <= 0)
        return;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return;
    QAudioFormat format;
    format.setSampleRate(source->SampleRate());
    format.setChannelCount(source->Channels());
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        return;
    m_sink = std::make_unique<QAudioSink>(device, format);
    if (!m_feed.isOpen())
        m_feed.open(QIODevice::ReadOnly);
    connect(m_sink.get(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && m_sink && m_sink->error() != QAudio::NoError &&
            m_sink->error() != QAudio::UnderrunError) {
            // the device went away: go on with the steady clock
            QMetaObject::invokeMethod(this, [this] { m_sink.reset(); }, Qt::QueuedConnection);
        }
    });
}

void TFramePreview::StartSound()
{
    if (!m_sink)
        return;
    m_lastSoundUs = -1;
    if (m_sink->state() == QAudio::SuspendedState)
        m_sink->resume();
    else
        m_sink->start(&m_feed);
}

void TFramePreview::StopSound()
{
    if (m_sink)
        m_sink->stop();
    m_feed.Reset();
    m_lastSoundUs = -1;
}

int64_t TFramePreview::ClockUs()
{
    if (!m_playing)
        return m_clockBaseUs;
    int64_t now = m_clockBaseUs + m_steady.nsecsElapsed() / 1000;
    if (m_sink && m_feed.FirstStartUs() >= 0) {
        // the sound's position moves in steps of the device's period; when
        // it moves, it corrects the steady clock
        const int64_t sound = m_feed.FirstStartUs() + m_sink->processedUSecs();
        if (sound != m_lastSoundUs) {
            m_lastSoundUs = sound;
            if (std::llabs(sound - now) > 60000) {
                m_clockBaseUs = now = sound;
                m_steady.restart();
            }
        }
    }
    return now;
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

void TFramePreview::Play()
{
    if (!m_player.Source())
        return;
    if (m_playing) {
        Pause();
        return;
    }
    if (m_player.Source()->EndOfStream())
        SeekTo(0); // from the start again
    Resume();
}

void TFramePreview::Pause()
{
    if (!m_playing)
        return;
    m_clockBaseUs = m_player.HasVideo() ? m_shownUs : ClockUs();
    m_playing = false;
    if (m_sink && m_sink->state() != QAudio::StoppedState)
        m_sink->suspend();
    UpdatePlayButton();
}

void TFramePreview::Resume()
{
    m_playing = true;
    m_steady.restart();
    if (!m_waitingFirst)
        StartSound();
    UpdatePlayButton();
}

void TFramePreview::SeekTo(int64_t us)
{
    if (!m_player.Source())
        return;
    StopSound();
    m_player.Seek(us);
    m_waitingFirst = m_player.HasVideo();
    m_clockBaseUs = us;
    m_steady.restart();
    m_bar->SetPosition(us);
    if (!m_waitingFirst && m_playing)
        StartSound();
}

void TFramePreview::StepForward()
{
    TFFPushSource* source = m_player.Source();
    if (!source || !m_player.HasVideo() || m_waitingFirst)
        return;
    Pause();
    StopSound();
    if (TFFSamplePtr next = source->TakeVideo())
        Show(next);
    else if (!source->EndOfStream())
        SeekTo(m_shownUs + 1); // the first picture after the shown one
    m_clockBaseUs = m_shownUs;
}

void TFramePreview::StepBack()
{
    if (!m_player.Source() || !m_player.HasVideo() || m_waitingFirst || m_shownUs <= 0)
        return;
    Pause();
    StopSound();
    m_player.Seek(m_shownUs, TSeekMode::smBefore);
    m_waitingFirst = true;
}

void TFramePreview::SetStart()
{
    if (!m_player.Source())
        return;
    m_startMark = PositionUs();
    if (m_endMark > 0 && m_endMark <= m_startMark)
        m_endMark = 0; // an end before the start marks nothing
    UpdateMarks();
}

void TFramePreview::SetEnd()
{
    if (!m_player.Source())
        return;
    m_endMark = PositionUs();
    if (m_endMark <= m_startMark)
        m_startMark = 0; // a start after the end marks nothing
    UpdateMarks();
}

void TFramePreview::UpdateMarks()
{
    auto mark = [](int64_t us) {
        return us > 0 ? TimeText(us / 1000000) : QStringLiteral("00:00:00");
    };
    m_startLabel->setText(QStringLiteral("Start[%1]").arg(mark(m_startMark)));
    m_endLabel->setText(QStringLiteral("End[%1]").arg(mark(m_endMark)));
    m_startLabel->setToolTip(QString::number(double(m_startMark) / 1e6, 'f', 3) + QStringLiteral(" s"));
    m_endLabel->setToolTip(QString::number(double(m_endMark) / 1e6, 'f', 3) + QStringLiteral(" s"));
    m_bar->SetSelection(m_startMark, m_endMark);
}

namespace {

// A play triangle or pause bars in the button text's colour, so the sign
// reads on light and dark palettes alike.
QIcon MediaIcon(bool pause, const QColor& colour)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    if (pause) {
        p.drawRect(QRectF(8, 6, 6, 20));
        p.drawRect(QRectF(18, 6, 6, 20));
    } else {
        const QPointF triangle[] = {{9, 5}, {27, 16}, {9, 27}};
        p.drawPolygon(triangle, 3);
    }
    return QIcon(pixmap);
}

} // namespace

void TFramePreview::UpdatePlayButton()
{
    m_play->setIcon(MediaIcon(m_playing, palette().color(QPalette::ButtonText)));
    m_play->setToolTip(m_playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    m_play->setEnabled(m_player.Source() != nullptr || m_playing);
}

void TFramePreview::UpdatePositionText()
{
    m_positionLabel->setText(QStringLiteral("Position: %1 Duration: %2")
                                 .arg(PreviewTimeText(PositionUs()), PreviewTimeText(m_player.DurationUs())));
    m_play->setEnabled(m_player.Source() != nullptr);
    m_setStart->setEnabled(m_player.Source() != nullptr);
    m_setEnd->setEnabled(m_player.Source() != nullptr);
}

void TFramePreview::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        UpdatePlayButton();
    QWidget::changeEvent(event);
}

void TFramePreview::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space: Play(); break;
    case Qt::Key_Left: StepBack(); break;
    case Qt::Key_Right: StepForward(); break;
    case Qt::Key_I: SetStart(); break;
    case Qt::Key_O: SetEnd(); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

} // namespace korvane
