// The completion alert: a small borderless notice at the bottom right of the
// screen with a header, a message about one file and the buttons "Folder" and
// "Close". It fades in, stays 40 seconds, fades out and deletes itself. The
// user can move it by dragging; a click on the message, like "Folder", shows
// the file in the file browser.
//
// Where windows cannot place themselves (Wayland), ShowDesktopAlert sends a
// desktop notification with a "Folder" action instead.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QPropertyAnimation;
class QPushButton;
class QTimer;

namespace korvane {

class TAVDesktopAlert : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 270;
    static constexpr int kHeight = 150;
    static constexpr int kDisplayTimeMs = 40000;
    static constexpr int kFadeInMs = 300;
    static constexpr int kFadeOutMs = 1000;

    // Has no owner: the alert deletes itself when it closes.
    TAVDesktopAlert();

    void SetHeader(const QString& text);
    void SetMessage(const QString& text);
    void SetFile(const QString& path) { m_file = path; }
    QString File() const { return m_file; }

    // How a missing file is reported; ErrorBox in the program. Without one
    // the error is shown in a message box of its own.
    std::function<void(const QString&)> OnError;

    // Places the alert at the bottom right of the available screen area,
    // above the alerts still shown (so alerts that come together never cover
    // each other), and shows it with the fade; the display time starts when
    // it is fully shown.
    void Execute();
    // The place taken: 0 at the bottom, 1 above it, ...
    int Slot() const { return m_slot; }

    // The "Folder" command: the file browser with the file selected when the
    // file exists, otherwise "<path> does not exists." through OnError. The
    // display time is held meanwhile and resumed afterwards unless the alert
    // was closed.
    void OpenFolder();

    // For tests: whether the display time or the fade-out is counting.
    bool IsCounting() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void StartFadeOut();
    void HoldTimers();
    void ResumeTimers();

    QString m_file;
    QLabel* m_header;
    QLabel* m_message;
    QPushButton* m_folder;
    QPushButton* m_close;
    QTimer* m_displayTimer;
    QPropertyAnimation* m_fade;
    bool m_fadingOut = false;
    QPoint m_dragOffset;
    bool m_dragging = false;
    bool m_pressedOnMessage = false;
    QPoint m_pressPos;
    int m_slot = 0;
};

// Shows the completion alert for a file: the window above, or on Wayland a
// desktop notification with a "Folder" action (the window when no
// notification service answers).
void ShowDesktopAlert(const QString& header, const QString& message, const QString& file,
                      std::function<void(const QString&)> onError);

// The body of a desktop notification: the message as text (servers read
// markup there, so & < > are escaped).
QString NotificationBody(const QString& message);

// The "Folder" command shared by the window and the notification.
void ShowFileOrReport(const QString& file, const std::function<void(const QString&)>& onError);

} // namespace korvane
