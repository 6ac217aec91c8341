#include "DesktopAlert.h"
#include "FakeDesktopShell.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace korvane;

namespace {

struct AlertFixture : ::testing::Test
{
    QTemporaryDir dir;
    QString file = dir.filePath("clip.mp4");
    test::FakeDesktopShell shell;
    QStringList errors;
    QPointer<TAVDesktopAlert> alert = new TAVDesktopAlert;

    void SetUp() override
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("data");
        f.close();
        alert->SetHeader("Task Completed");
        alert->SetMessage(QString("%1 was generated.").arg(file));
        alert->SetFile(file);
        alert->OnError = [this](const QString& text) { errors << text; };
        alert->Execute();
        // let the fade-in end so the display time is counting
        QTest::qWait(TAVDesktopAlert::kFadeInMs + 150);
    }
    void TearDown() override { delete alert.data(); }

    QPushButton* Button(const char* name) { return alert->findChild<QPushButton*>(name); }
};

} // namespace

TEST_F(AlertFixture, SitsAtTheBottomRightWithItsSizeAndCountsDown)
{
    EXPECT_EQ(alert->size(), QSize(270, 150));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(alert->geometry().right(), area.right());
    EXPECT_LE(alert->geometry().bottom(), area.bottom());
    EXPECT_GT(alert->geometry().left(), area.center().x());
    EXPECT_GT(alert->geometry().top(), area.center().y());
    EXPECT_DOUBLE_EQ(alert->windowOpacity(), 1.0);
    EXPECT_TRUE(alert->IsCounting());
    EXPECT_EQ(alert->findChild<QLabel*>("AlertHeader")->text(), "Task Completed");
}

TEST_F(AlertFixture, FolderAndAClickOnTheMessageShowTheFile)
{
    QTest::mouseClick(Button("AlertFolder"), Qt::LeftButton);
    auto* message = alert->findChild<QLabel*>("AlertMessage");
    QTest::mouseClick(message, Qt::LeftButton);
    EXPECT_EQ(shell.shown, QStringList({file, file}));
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(alert->isVisible());
    EXPECT_TRUE(alert->IsCounting());
}

TEST_F(AlertFixture, AMovedFileIsReportedAndTheAlertStays)
{
    const QString moved = dir.filePath("elsewhere.mp4");
    ASSERT_TRUE(QFile::rename(file, moved));
    bool countingDuringError = true;
    alert->OnError = [&](const QString& text) {
        errors << text;
        countingDuringError = alert->IsCounting();
    };
    QTest::mouseClick(Button("AlertFolder"), Qt::LeftButton);
    ASSERT_EQ(errors, QStringList(file + " does not exists."));
    EXPECT_TRUE(shell.shown.isEmpty());
    // the fade timer is held while the error is on screen, then resumed
    EXPECT_FALSE(countingDuringError);
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_TRUE(alert->IsCounting());
}

TEST_F(AlertFixture, ClosedWhileFolderRunsIsNotResumed)
{
    QFile::remove(file);
    alert->OnError = [this](const QString&) { alert->close(); };
    QTest::mouseClick(Button("AlertFolder"), Qt::LeftButton);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alert.isNull());
}

TEST_F(AlertFixture, CloseEndsTheAlertAndADragMovesIt)
{
    const QPoint before = alert->pos();
    QTest::mousePress(alert, Qt::LeftButton, {}, QPoint(5, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(alert->mapToGlobal(QPoint(5, 5)) - QPoint(40, 30)),
                     Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(alert, &move);
    QTest::mouseRelease(alert, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(alert->pos(), before - QPoint(40, 30));

    QTest::mouseClick(Button("AlertClose"), Qt::LeftButton);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alert.isNull());
    EXPECT_TRUE(shell.shown.isEmpty());
}

TEST(DesktopAlert, FadesOutAtTheEndOfItsDisplayTimeAndDeletesItself)
{
    QPointer<TAVDesktopAlert> alert = new TAVDesktopAlert;
    alert->Execute();
    QTest::qWait(TAVDesktopAlert::kFadeInMs + 100);
    ASSERT_TRUE(alert);
    // run the display time out at once instead of waiting 40 seconds
    auto* timer = alert->findChild<QTimer*>("DisplayTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 40000);
    timer->setInterval(1);
    timer->start();
    for (int i = 0; i < 100 && alert; ++i) {
        QTest::qWait(50);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(alert.isNull());
}

TEST(DesktopAlert, AlertsThatComeTogetherDoNotCoverEachOther)
{
    QList<QPointer<TAVDesktopAlert>> alerts;
    for (int i = 0; i < 3; ++i) {
        auto* a = new TAVDesktopAlert;
        a->SetHeader("Task Completed");
        a->SetMessage(QStringLiteral("/tmp/clip%1.avi was generated.").arg(i));
        a->Execute();
        alerts << a;
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(alerts[i]->Slot(), i);
        for (int j = i + 1; j < 3; ++j)
            EXPECT_FALSE(alerts[i]->geometry().intersects(alerts[j]->geometry()));
    }
    // a place that is free again is taken by the next alert
    alerts[0]->close();
    QTest::qWait(10);
    auto* next = new TAVDesktopAlert;
    next->Execute();
    EXPECT_EQ(next->Slot(), 0);
    next->close();
    for (auto& a : alerts)
        if (a)
            a->close();
}

TEST(DesktopAlert, ANotificationBodyKeepsMarkupCharactersAsText)
{
    EXPECT_EQ(NotificationBody("/v/Tom & Jerry <cut>.mkv was generated."),
              "/v/Tom &amp; Jerry &lt;cut&gt;.mkv was generated.");
}
