// The preview of a DVD title is opened off the GUI thread: while the title's
// open blocks, the dialog's event loop keeps running, another title can be
// chosen, and the dialog can be closed.
//
// The slow open is real: title 1's VOB file of a copied disc folder is a
// named pipe, and opening a pipe for reading blocks until someone opens it
// for writing. The disc's tables (the IFO files) read normally, so the scan
// ends; only opening the title waits. Once the pipe is released the open
// fails, since a pipe cannot seek.
#include "DvdSourceTab.h"
#include "FormNewConversion.h"
#include "MediaFixtures.h"
#include "WizardTestSupport.h"
#include "sources/StreamProtocol.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace korvane;
using namespace korvane::test;

namespace {

// A copy of the shared disc folder whose title 1 VOB is a named pipe.
QString DiscWithBlockingTitle(const QString& folder)
{
    const QString from = DvdDiscFolder() + "/VIDEO_TS";
    const QString to = folder + "/VIDEO_TS";
    QDir(folder).removeRecursively();
    QDir().mkpath(to);
    for (const QString& name : QDir(from).entryList(QDir::Files)) {
        if (name != "VTS_01_1.VOB") {
            EXPECT_TRUE(QFile::copy(from + "/" + name, to + "/" + name));
        }
    }
    EXPECT_EQ(::mkfifo(QFile::encodeName(to + "/VTS_01_1.VOB").constData(), 0600), 0);
    return folder;
}

// Releases readers blocked on opening a named pipe, by opening it for
// reading and writing (which never blocks): when asked, or after timeoutMs
// at the latest, so that a blocked GUI thread cannot hang the test.
class PipeRelease
{
public:
    PipeRelease(const QString& pipe, int timeoutMs) : m_pipe(QFile::encodeName(pipe))
    {
        m_timer = std::thread([this, timeoutMs] {
            std::unique_lock lock(m_lock);
            if (!m_wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_done; })) {
                m_byTimeout = true;
                OpenLocked();
            }
        });
    }
    ~PipeRelease()
    {
        Release();
        m_timer.join();
        // gone before it is closed: an open that comes later fails instead
        // of waiting for a writer that never comes
        ::unlink(m_pipe.constData());
        std::lock_guard lock(m_lock);
        if (m_fd >= 0) ::close(m_fd);
    }
    void Release()
    {
        std::lock_guard lock(m_lock);
        OpenLocked();
        m_done = true;
        m_wake.notify_all();
    }
    bool ReleasedByTimeout()
    {
        std::lock_guard lock(m_lock);
        return m_byTimeout;
    }

private:
    void OpenLocked()
    {
        if (m_fd < 0) m_fd = ::open(m_pipe.constData(), O_RDWR | O_NONBLOCK);
    }
    QByteArray m_pipe;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_byTimeout = false;
    int m_fd = -1;
    std::thread m_timer;
};

// The longest time between two ticks of a timer of the GUI thread.
class LoopWatch
{
public:
    LoopWatch()
    {
        m_since.start();
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longestMs = std::max(m_longestMs, m_since.restart());
            ++m_ticks;
        });
        m_timer.start();
    }
    qint64 LongestGapMs() const { return std::max(m_longestMs, m_since.elapsed()); }
    int Ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longestMs = 0;
    int m_ticks = 0;
};

// Threads of this process, from the kernel's count.
int ThreadCount()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Threads:")) return line.mid(8).trimmed().toInt();
    return -1;
}

class DvdPreview : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pane = new FakePreviewPane;
        form = std::make_unique<TFormNewConversion>(
            TWizardEnvironment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}},
            pane);
        tab = form->DvdTab();
        tab->ListDrives = [] { return std::vector<dvd::TDvdDrive>{}; };
        form->SelectSourceTab(TFormNewConversion::tabDvd);
        ASSERT_TRUE(WaitFor([&] { return tab->HasListedDrives(); }));
        disc = DiscWithBlockingTitle(world.folder + "/SLOW_DISC");
        threadsBefore = ThreadCount();
    }
    // The workers still opening end once the pipe is released; none may be
    // left running into the next test.
    void WaitForWorkers() { WaitFor([&] { return ThreadCount() <= threadsBefore; }, 5000); }

    BoxRecorder messages;
    WizardWorld world;
    FakePreviewPane* pane = nullptr; // owned by the form
    std::unique_ptr<TFormNewConversion> form;
    TDvdSourceTab* tab = nullptr;
    QString disc;
    int threadsBefore = 0;
};

} // namespace

TEST_F(DvdPreview, TheTitleOpensOffTheGuiThreadAndAnotherTitleCanBeChosenMeanwhile)
{
    PipeRelease release(disc + "/VIDEO_TS/VTS_01_1.VOB", 3000);
    LoopWatch watch;
    tab->OpenDiscPath(disc);
    // the scan ends and chooses title 1, whose open now waits on the pipe
    ASSERT_TRUE(WaitFor([&] { return !tab->IsScanning() && tab->HasTitle(); }));
    EXPECT_EQ(tab->TitleNumber(), 1);
    WaitFor([] { return false; }, 400);
    EXPECT_FALSE(release.ReleasedByTimeout()) << "the GUI thread waited for the title's open";
    EXPECT_LT(watch.LongestGapMs(), 300);
    EXPECT_GT(watch.Ticks(), 10);
    EXPECT_TRUE(pane->current.isEmpty());
    EXPECT_TRUE(form->IsReady()); // the title is chosen; only its preview waits

    // Title 2 is chosen while title 1 still opens: the preview shows title 2
    // and the open of title 1, when it ends, shows nothing.
    tab->Titles()->setCurrentIndex(1);
    emit tab->Titles()->activated(1);
    ASSERT_TRUE(WaitFor([&] { return IsStreamSource(pane->current); }));
    const QString second = pane->current;
    EXPECT_FALSE(release.ReleasedByTimeout());
    release.Release();
    WaitForWorkers();
    WaitFor([] { return false; }, 200);
    EXPECT_EQ(pane->current, second);
    EXPECT_EQ(pane->opened, QStringList{second});
    EXPECT_TRUE(messages.errors.isEmpty()) << messages.errors.join("|").toStdString();

    // the dialog frees the preview's stream the pane never took
    const auto handle = ParseStreamSource(second);
    ASSERT_TRUE(handle.has_value());
    EXPECT_TRUE(IsStreamRegistered(*handle));
    form.reset();
    EXPECT_FALSE(IsStreamRegistered(*handle));
}

TEST_F(DvdPreview, TheDialogClosesWhileTheTitleStillOpens)
{
    PipeRelease release(disc + "/VIDEO_TS/VTS_01_1.VOB", 3000);
    tab->OpenDiscPath(disc);
    ASSERT_TRUE(WaitFor([&] { return !tab->IsScanning() && tab->HasTitle(); }));
    WaitFor([] { return false; }, 100);
    // closed and gone while the worker still waits on the pipe
    EXPECT_FALSE(release.ReleasedByTimeout()) << "the GUI thread waited for the title's open";
    form->reject();
    form.reset();
    release.Release();
    WaitForWorkers();
    WaitFor([] { return false; }, 200);
    EXPECT_TRUE(messages.errors.isEmpty()) << messages.errors.join("|").toStdString();
}
