#include "Configuration.h"
#include "MediaFixtures.h"
#include "options/Messages.h"
#include "PropertyDocument.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <gtest/gtest.h>

#include <atomic>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace korvane;

// readable QString values in failure messages
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// The element names under TAVConfiguration (and under PerformanceOptions).
QStringList ConfigElements(const QString& path, bool performance = false)
{
    QDomDocument doc;
    EXPECT_TRUE(doc.setContent(ReadAll(path)));
    QDomElement e = doc.documentElement().firstChildElement(QStringLiteral("TAVConfiguration"));
    if (performance)
        e = e.firstChildElement(QStringLiteral("PerformanceOptions"));
    QStringList names;
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        names << c.tagName() + QLatin1Char('=') + (c.firstChildElement().isNull() ? c.text() : QString());
    return names;
}

// Each test gets its own configuration home, records the boxes it shows and
// the priorities it applies, and never renices the test run.
class Configuration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oldXdg = qgetenv("XDG_CONFIG_HOME");
        m_hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        m_home = test::TempDir();
        qputenv("XDG_CONFIG_HOME", m_home.toUtf8());
        m_oldHandler = MessageService::Install([this](MessageKind kind, const QString&, const QString& text) {
            m_boxes.push_back({kind, text});
            return true;
        });
    }
    void TearDown() override
    {
        MessageService::Install(m_oldHandler);
        if (m_hadXdg)
            qputenv("XDG_CONFIG_HOME", m_oldXdg);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    void Recording(TAVConfiguration& config)
    {
        config.ApplyPriority = [this](int index) { m_priorities.push_back(index); };
    }
    QString ConfigFile() const { return m_home + QStringLiteral("/KorvaneSoft/VelquistConfig.Xml"); }

    QString m_home;
    std::vector<std::pair<MessageKind, QString>> m_boxes;
    std::vector<int> m_priorities;

private:
    QByteArray m_oldXdg;
    bool m_hadXdg = false;
    MessageService::Handler m_oldHandler;
};

} // namespace

// ---- folders and names

TEST_F(Configuration, FoldersFollowXdgConfigHome)
{
    EXPECT_EQ(TAVConfiguration::GetAppDataFolder(), m_home + QStringLiteral("/KorvaneSoft/Velquist"));
    EXPECT_EQ(TAVConfiguration::GetConfigFile(), ConfigFile());
    qputenv("XDG_CONFIG_HOME", "relative/dir"); // not absolute: ignored
    EXPECT_EQ(TAVConfiguration::GetAppDataFolder(), QDir::homePath() + QStringLiteral("/.config/KorvaneSoft/Velquist"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(TAVConfiguration::GetConfigFile(), QDir::homePath() + QStringLiteral("/.config/KorvaneSoft/VelquistConfig.Xml"));
}

TEST_F(Configuration, OutputFolderIsTheUsersVideosFolder)
{
    WriteAll(m_home + QStringLiteral("/user-dirs.dirs"), "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
    EXPECT_EQ(TAVConfiguration().OutputFolder(), QDir::homePath() + QStringLiteral("/Filme/Conversion"));
}

// ---- save and load

TEST_F(Configuration, FirstStartWritesConstructorValues)
{
    TAVConfiguration config;
    Recording(config);
    EXPECT_EQ(config.Load(), QString());
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(m_priorities, std::vector<int>{2});
    EXPECT_EQ(ConfigElements(ConfigFile()),
              (QStringList{"PerformanceOptions=", "OutputFolder=" + TAVConfiguration::DefaultOutputFolder()}));
    EXPECT_EQ(ConfigElements(ConfigFile(), true), (QStringList{"ThreadCount=0", "ThreadPrority=2"}));
    EXPECT_TRUE(ReadAll(ConfigFile()).startsWith("<data PropFormat=\"node\">\n  <TAVConfiguration>"));
}

TEST_F(Configuration, BooleansAreWrittenOnlyAwayFromTheirDefaults)
{
    TAVConfiguration config;
    Recording(config);
    config.SetShowAlert(false);
    config.SetShutdownWhenDone(true);
    config.Save();
    EXPECT_TRUE(ConfigElements(ConfigFile()).contains(QStringLiteral("ShowAlert=0")));
    EXPECT_TRUE(ConfigElements(ConfigFile()).contains(QStringLiteral("ShutdownWhenDone=1")));

    TAVConfiguration back;
    Recording(back);
    EXPECT_EQ(back.Load(), QString());
    EXPECT_FALSE(back.ShowAlert());
    EXPECT_TRUE(back.ShutdownWhenDone());

    config.SetShowAlert(true);
    config.SetShutdownWhenDone(false);
    config.Save();
    for (const QString& name : ConfigElements(ConfigFile())) {
        EXPECT_FALSE(name.startsWith(QStringLiteral("ShowAlert")));
        EXPECT_FALSE(name.startsWith(QStringLiteral("ShutdownWhenDone")));
    }
    back.Load();
    EXPECT_TRUE(back.ShowAlert());
    EXPECT_FALSE(back.ShutdownWhenDone());
}

TEST_F(Configuration, LoadReadsTheFileWithoutApplyingPriority)
{
    WriteAll(ConfigFile(), "<data PropFormat=\"node\"><TAVConfiguration><PerformanceOptions><ThreadCount>8"
                           "</ThreadCount><ThreadPrority>0</ThreadPrority></PerformanceOptions><OutputFolder>"
                           "/srv/out</OutputFolder></TAVConfiguration></data>");
    TAVConfiguration config;
    Recording(config);
    EXPECT_EQ(config.Load(), QString());
    EXPECT_EQ(config.PerformanceOptions()->ThreadCount(), 8);
    EXPECT_EQ(config.PerformanceOptions()->ThreadPrority(), 0);
    EXPECT_EQ(config.OutputFolder(), QStringLiteral("/srv/out"));
    EXPECT_TRUE(m_priorities.empty()); // only Save applies the priority
    config.Save();
    EXPECT_EQ(m_priorities, std::vector<int>{0});
}

TEST_F(Configuration, OutOfRangeValuesAreClamped)
{
    WriteAll(ConfigFile(), "<data><TAVConfiguration><PerformanceOptions><ThreadCount>99</ThreadCount>"
                           "<ThreadPrority>-4</ThreadPrority></PerformanceOptions></TAVConfiguration></data>");
    TAVConfiguration config;
    Recording(config);
    EXPECT_EQ(config.Load(), QString());
    EXPECT_EQ(config.PerformanceOptions()->ThreadCount(), 32);
    EXPECT_EQ(config.PerformanceOptions()->ThreadPrority(), 0);
    config.PerformanceOptions()->SetThreadPrority(9);
    EXPECT_EQ(config.PerformanceOptions()->ThreadPrority(), 5);
}

TEST_F(Configuration, DamagedFileIsSetAsideAndDefaultsUsed)
{
    // ThreadCount is read before the bad value: the partial read must not survive
    const QByteArray damaged = "<data><TAVConfiguration><PerformanceOptions><ThreadCount>8</ThreadCount>"
                               "<ThreadPrority>high</ThreadPrority></PerformanceOptions></TAVConfiguration></data>";
    WriteAll(ConfigFile(), damaged);
    TAVConfiguration config;
    Recording(config);
    const QString message = config.Load();

    EXPECT_TRUE(message.contains(ConfigFile())) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("Invalid integer value (high)."))) << message.toStdString();
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].first, MessageKind::Info);
    EXPECT_EQ(m_boxes[0].second, message);
    EXPECT_EQ(ReadAll(ConfigFile() + QStringLiteral(".damaged")), damaged);
    EXPECT_EQ(config.PerformanceOptions()->ThreadCount(), 0);
    EXPECT_EQ(config.PerformanceOptions()->ThreadPrority(), 2);
    // a fresh file replaces it, so the next start is clean
    TAVConfiguration next;
    Recording(next);
    EXPECT_EQ(next.Load(), QString());

    // a second incident keeps the first copy
    WriteAll(ConfigFile(), "not xml");
    TAVConfiguration third;
    Recording(third);
    EXPECT_FALSE(third.Load().isEmpty());
    EXPECT_EQ(ReadAll(ConfigFile() + QStringLiteral(".damaged")), damaged);
    EXPECT_EQ(ReadAll(ConfigFile() + QStringLiteral(".damaged.2")), "not xml");
}

TEST_F(Configuration, UnwritableLocationStillStartsWithDefaults)
{
    // the configuration home is a plain file: no folder can be made under it
    const QString blocker = m_home + QStringLiteral("/blocker");
    WriteAll(blocker, "x");
    qputenv("XDG_CONFIG_HOME", blocker.toUtf8());
    TAVConfiguration config;
    Recording(config);
    const QString message = config.Load();
    EXPECT_TRUE(message.contains(blocker + QStringLiteral("/KorvaneSoft/VelquistConfig.Xml"))) << message.toStdString();
    EXPECT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(config.PerformanceOptions()->ThreadPrority(), 2);
    EXPECT_THROW(config.Save(), EEngineError); // an explicit save reports the failure
}

TEST_F(Configuration, PerformanceOptionsAssign)
{
    TPerformanceOptions a, b;
    a.SetThreadCount(4);
    a.SetThreadPrority(1);
    b.Assign(&a);
    EXPECT_EQ(b.ThreadCount(), 4);
    EXPECT_EQ(b.ThreadPrority(), 1);
    TAVConfiguration other;
    EXPECT_THROW(b.Assign(&other), EEngineError);
    other.SetPerformanceOptions(&a); // copies, never takes over
    EXPECT_NE(other.PerformanceOptions(), &a);
    EXPECT_EQ(other.PerformanceOptions()->ThreadCount(), 4);
}

// ---- process priority

TEST(ProcessPriority, NiceValues)
{
    const std::vector<int> expected{19, 10, 0, -5, -10, -20};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(NiceValueForPriority(i), expected[i]) << i;
}

TEST(ProcessPriority, AppliesToEveryThreadOfTheProcess)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "restoring the nice value afterwards needs privilege";
    const int before = getpriority(PRIO_PROCESS, 0);
    std::atomic<pid_t> tid{0};
    std::atomic<bool> done{false};
    std::thread other([&] {
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        while (!done)
            std::this_thread::yield();
    });
    while (tid == 0)
        std::this_thread::yield();
    QString error;
    EXPECT_TRUE(ApplyProcessPriority(1, &error)) << error.toStdString();
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(tid.load())), 10);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), 10);
    done = true;
    other.join();
    // back to where the test run was, for every thread
    for (const QString& t : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        setpriority(PRIO_PROCESS, t.toUInt(), before);
}
