#include "DesktopAlert.h"

#include "DesktopShell.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <map>

namespace korvane {

namespace {

// Long paths have no blanks to wrap at: allow a break after each separator.
QString Breakable(const QString& text)
{
    QString out = text.toHtmlEscaped();
    out.replace('/', QStringLiteral("/&#8203;"));
    return out;
}

} // namespace

QString NotificationBody(const QString& message)
{
    return message.toHtmlEscaped();
}

void ShowFileOrReport(const QString& file, const std::function<void(const QString&)>& onError)
{
    if (QFileInfo::exists(file)) {
        DesktopShell().ShowInFileBrowser(file);
        return;
    }
    const QString text = QStringLiteral("%1 does not exists.").arg(file);
    if (onError)
        onError(text);
    else
        QMessageBox::critical(nullptr, QStringLiteral("Error"), text);
}

TAVDesktopAlert::TAVDesktopAlert()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setObjectName("DesktopAlert");
    setFixedSize(kWidth, kHeight);

    auto* icon = new QLabel(this);
    const QIcon appIcon = QApplication::windowIcon().isNull()
                              ? style()->standardIcon(QStyle::SP_MessageBoxInformation)
                              : QApplication::windowIcon();
    icon->setPixmap(appIcon.pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);

    m_header = new QLabel(this);
    m_header->setObjectName("AlertHeader");
    QFont bold = m_header->font();
    bold.setBold(true);
    m_header->setFont(bold);

    m_message = new QLabel(this);
    m_message->setObjectName("AlertMessage");
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::RichText);
    m_message->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_message->setCursor(Qt::PointingHandCursor);
    m_message->installEventFilter(this);

    m_folder = new QPushButton(QStringLiteral("Folder"), this);
    m_folder->setObjectName("AlertFolder");
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName("AlertClose");
    connect(m_folder, &QPushButton::clicked, this, &TAVDesktopAlert::OpenFolder);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);

    auto* text = new QVBoxLayout;
    text->addWidget(m_header);
    text->addWidget(m_message, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_folder);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 8);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);

    m_displayTimer = new QTimer(this);
    m_displayTimer->setObjectName("DisplayTimer");
    m_displayTimer->setSingleShot(true);
    m_displayTimer->setInterval(kDisplayTimeMs);
    connect(m_displayTimer, &QTimer::timeout, this, &TAVDesktopAlert::StartFadeOut);

    m_fade = new QPropertyAnimation(this, "windowOpacity", this);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (m_fadingOut)
            close();
        else
            m_displayTimer->start();
    });
}

void TAVDesktopAlert::SetHeader(const QString& text)
{
    m_header->setText(text);
}

void TAVDesktopAlert::SetMessage(const QString& text)
{
    m_message->setText(Breakable(text));
    m_message->setToolTip(text);
}

void TAVDesktopAlert::Execute()
{
    // the lowest place no shown alert holds
    static QList<QPointer<TAVDesktopAlert>> shown;
    shown.removeAll(nullptr);
    shown.removeAll(this);
    m_slot = 0;
    for (bool taken = true; taken; ) {
        taken = false;
        for (const QPointer<TAVDesktopAlert>& other : std::as_const(shown))
            if (other->isVisible() && other->m_slot == m_slot) {
                taken = true;
                ++m_slot;
                break;
            }
    }
    shown << this;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        // as many rows as fit; beyond them the alerts start again at the bottom
        const int rows = std::max(1, area.height() / (kHeight + 8));
        move(area.right() - kWidth - 8, area.bottom() - (kHeight + 8) * (m_slot % rows + 1));
    }
    m_fadingOut = false;
    setWindowOpacity(0.0);
    show();
    m_fade->stop();
    m_fade->setDuration(kFadeInMs);
    m_fade->setStartValue(0.0);
    m_fade->setEndValue(1.0);
    m_fade->start();
}

void TAVDesktopAlert::StartFadeOut()
{
    m_fadingOut = true;
    m_fade->stop();
    m_fade->setDuration(kFadeOutMs);
    m_fade->setStartValue(windowOpacity());
    m_fade->setEndValue(0.0);
    m_fade->start();
}

void TAVDesktopAlert::HoldTimers()
{
    m_displayTimer->stop();
    m_fade->stop();
    m_fadingOut = false;
    setWindowOpacity(1.0);
}

void TAVDesktopAlert::ResumeTimers()
{
    m_displayTimer->start();
}

bool TAVDesktopAlert::IsCounting() const
{
    return m_displayTimer->isActive() || m_fade->state() == QAbstractAnimation::Running;
}

void TAVDesktopAlert::OpenFolder()
{
    // the error box is modal and may be answered long after the display time
    // would have run out; the alert may also be closed meanwhile
    QPointer<TAVDesktopAlert> self(this);
    HoldTimers();
    ShowFileOrReport(m_file, OnError);
    if (self && self->isVisible())
        self->ResumeTimers();
}

void TAVDesktopAlert::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    QWidget::mousePressEvent(event);
}

void TAVDesktopAlert::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        move(event->globalPosition().toPoint() - m_dragOffset);
    QWidget::mouseMoveEvent(event);
}

void TAVDesktopAlert::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

bool TAVDesktopAlert::eventFilter(QObject* watched, QEvent* event)
{
    // a click on the message is the "Folder" command; a drag that starts on
    // it moves the alert like a drag anywhere else
    if (watched == m_message) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(event);
            m_pressedOnMessage = me->button() == Qt::LeftButton;
            m_pressPos = me->globalPosition().toPoint();
            mousePressEvent(me);
            return true;
        }
        if (event->type() == QEvent::MouseMove) {
            mouseMoveEvent(static_cast<QMouseEvent*>(event));
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* me = static_cast<QMouseEvent*>(event);
            const bool click = m_pressedOnMessage &&
                               (me->globalPosition().toPoint() - m_pressPos).manhattanLength() <
                                   QApplication::startDragDistance();
            m_pressedOnMessage = false;
            mouseReleaseEvent(me);
            if (click)
                OpenFolder();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TAVDesktopAlert::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.fillRect(QRect(1, 1, width() - 2, 3), palette().color(QPalette::Highlight));
}

namespace {

// Desktop notifications sent by this process, by id, so their actions find
// the file again. The notification server forgets an id when it closes.
class TNotificationAlerts : public QObject
{
    Q_OBJECT
public:
    static TNotificationAlerts& Instance()
    {
        static auto* instance = new TNotificationAlerts(qApp);
        return *instance;
    }

    // Sends the notification without waiting; when the server refuses or
    // does not answer, onRefused runs (the window alert instead).
    bool Send(const QString& header, const QString& message, const QString& file,
              std::function<void(const QString&)> onError, std::function<void()> onRefused)
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return false;
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications", "Notify");
        // the body may hold markup: a file name's & or < must stay text
        call << QStringLiteral("Korvane Video Converter") << 0u << QStringLiteral("korvane") << header
             << NotificationBody(message) << QStringList{"default", "Folder", "folder", "Folder"} << QVariantMap{}
             << TAVDesktopAlert::kDisplayTimeMs;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, watcher, file, onError = std::move(onError), onRefused = std::move(onRefused)] {
                    watcher->deleteLater();
                    const QDBusMessage reply = watcher->reply();
                    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                        if (onRefused)
                            onRefused();
                        return;
                    }
                    m_pending[reply.arguments().first().toUInt()] = {file, onError};
                });
        return true;
    }

private slots:
    void ActionInvoked(uint id, const QString& key)
    {
        auto it = m_pending.find(id);
        if (it == m_pending.end())
            return;
        const Pending pending = it->second;
        if (key == "folder" || key == "default")
            ShowFileOrReport(pending.file, pending.onError);
    }
    void Closed(uint id, uint) { m_pending.erase(id); }

private:
    explicit TNotificationAlerts(QObject* parent) : QObject(parent)
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.connect("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                    "org.freedesktop.Notifications", "ActionInvoked", this,
                    SLOT(ActionInvoked(uint, QString)));
        bus.connect("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                    "org.freedesktop.Notifications", "NotificationClosed", this, SLOT(Closed(uint, uint)));
    }

    struct Pending
    {
        QString file;
        std::function<void(const QString&)> onError;
    };
    std::map<uint, Pending> m_pending;
};

} // namespace

void ShowDesktopAlert(const QString& header, const QString& message, const QString& file,
                      std::function<void(const QString&)> onError)
{
    auto showWindow = [header, message, file, onError] {
        auto* alert = new TAVDesktopAlert;
        alert->SetHeader(header);
        alert->SetMessage(message);
        alert->SetFile(file);
        alert->OnError = onError;
        alert->Execute();
    };
    if (QGuiApplication::platformName().startsWith("wayland") &&
        TNotificationAlerts::Instance().Send(header, message, file, onError, showWindow))
        return;
    showWindow();
}

} // namespace korvane

#include "DesktopAlert.moc"
