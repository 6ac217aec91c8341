// Lists a history category of N finished tasks the way the main window does
// (explorer loaded, category selected, task list shown in a tree view) and
// prints how long each step took. Also measures how often eight running
// tasks repaint their rows.
//
//   korvane_bench_history [N] [runs] [media file for the eight-task run]
#include "AVNodes.h"
#include "Configuration.h"
#include "ConversionSettings.h"
#include "ExplorerModel.h"
#include "PersistentManager.h"
#include "PropertyDocument.h"
#include "SettingsSummary.h"
#include "TaskListModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>
#include <map>
#include <ctime>

using namespace korvane;

namespace {

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// A settings document as the dialog writes it: a catalog profile applied.
QString RealisticDocument(int i)
{
    TConversionSettings s;
    s.SetSourceFile(QStringLiteral("/home/user/Videos/holiday %1.mkv").arg(i));
    s.SetTargetFile(QStringLiteral("/home/user/Videos/Conversion/holiday %1.mp4").arg(i));
    s.SetProfile(QStringLiteral("iPad H.264 Video"));
    s.SetCategoryId(1);
    s.SetDuration(93.5 + i % 50);
    s.SetSourceFileSize(150000000LL + i);
    auto* video = s.ConvertOptions()->VideoOptions();
    video->setProperty("EncoderVideoCodecName", "libx264");
    video->setProperty("FrameWidth", 1024);
    video->setProperty("FrameHeight", 768);
    video->setProperty("Bitrate", 1500000);
    s.ConvertOptions()->AudioOptions()->setProperty("EncoderAudioCodecName", "aac");
    s.ConvertOptions()->AudioOptions()->setProperty("Bitrate", 128000);
    s.ConvertOptions()->SetCodecOption("coder", "1");
    s.ConvertOptions()->SetCodecOption("flags", "+loop");
    s.ConvertOptions()->SetCodecOption("me_method", "umh");
    s.ConvertOptions()->SetCodecOption("subq", "7");
    return WritePropertyDocument(&s);
}

void Seed(const QString& file, int count)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
    db.setDatabaseName(file);
    db.open();
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("insert into Conversions(Converting, ConvertSettings, ConvertedDate, CategoryId, Log) "
                             "values(0, ?, ?, 1, ?)"));
    const QDateTime start = QDateTime::currentDateTime().addDays(-400);
    const QString log = QStringLiteral("Output #0, mp4, to 'x.mp4':\r\n  Stream #0:0: Video: h264\r\n").repeated(10);
    for (int i = 0; i < count; ++i) {
        q.bindValue(0, RealisticDocument(i));
        q.bindValue(1, TPersistentManager::DateText(start.addSecs(i * 60)));
        q.bindValue(2, log);
        q.exec();
    }
    db.commit();
    db.close();
    db = {};
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
}

// Eight conversions at once under the Converting node, shown in a tree
// view: row updates per task and second, and the main thread's CPU time.
void RunEightTasks(const QString& media, const QString& folder)
{
    TPersistentManager db;
    db.Open(folder + "/rate", folder + "/rate/out");
    TAVConfiguration config;
    TTaskEnvironment env{&db, &config, nullptr, nullptr};
    TTaskListModel list;
    TExplorerModel explorer(&env);
    QItemSelectionModel selection(&explorer);
    explorer.SetSelectionModel(&selection);
    explorer.SetTaskList(&list);
    explorer.Load();
    explorer.Select(explorer.ConvertingNode());
    QTreeView view;
    view.setModel(&list);
    view.resize(1000, 400);
    view.show();
    std::map<const TAVTask*, int> updates;
    QObject::connect(&list, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from) {
        ++updates[list.TaskAt(from.row())];
    });
    QElapsedTimer t;
    t.start();
    const double cpu0 = ThreadCpuSeconds();
    for (int i = 0; i < 8; ++i) {
        auto s = std::make_unique<TConversionSettings>();
        s->SetSourceFile(media);
        s->SetTargetFile(QStringLiteral("%1/rate/out/task%2.mp4").arg(folder).arg(i));
        s->SetCategoryId(1);
        s->ConvertOptions()->VideoOptions()->setProperty("EncoderVideoCodecName", "mpeg4");
        explorer.ConvertingNode()->NewConversion(std::move(s));
    }
    while (!explorer.ConvertingNode()->Tasks().isEmpty() && t.elapsed() < 600000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    const double seconds = t.elapsed() / 1000.0;
    const double cpu = ThreadCpuSeconds() - cpu0;
    int most = 0;
    for (const auto& [task, n] : updates)
        most = std::max(most, n);
    std::printf("RESULT eight tasks: %.1f s, at most %d row updates for one task (%.1f a second), "
                "main thread CPU %.2f s (%.1f %% of a core)\n",
                seconds, most, most / seconds, cpu, 100 * cpu / seconds);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString(argv[1]).toInt() : 10000;
    const int runs = argc > 2 ? QString(argv[2]).toInt() : 3;
    QTemporaryDir dir;

    TPersistentManager db;
    db.Open(dir.path(), dir.path() + "/out");
    db.Close();
    QElapsedTimer t;
    t.start();
    Seed(TPersistentManager::DatabaseFile(dir.path()), count);
    std::printf("seeded %d finished tasks in %.2f s\n", count, t.elapsed() / 1000.0);

    {
        db.Open(dir.path(), dir.path() + "/out");
        t.restart();
        auto rows = db.LoadConvertedTasks(1);
        std::printf("breakdown: query %.3f s\n", t.nsecsElapsed() / 1e9);
        t.restart();
        for (const auto& r : rows)
            (void)TPersistentManager::ParseDate(TPersistentManager::DateText(r.ConvertedDate));
        std::printf("dates written and read back %.3f s\n", t.nsecsElapsed() / 1e9);
        t.restart();
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
            raw.setDatabaseName(TPersistentManager::DatabaseFile(dir.path()));
            raw.open();
            QSqlQuery q(raw);
            q.setForwardOnly(true);
            q.exec("select * from Conversions where Converting=0 and CategoryId=1 order by ConvertedDate desc");
            int n = 0;
            while (q.next()) {
                for (int c = 0; c < 6; ++c)
                    (void)q.value(c);
                ++n;
            }
            std::printf("raw select %.3f s (%d)\n", t.nsecsElapsed() / 1e9, n);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
        t.restart();
        std::vector<std::unique_ptr<TConversionSettings>> objs;
        for (size_t i = 0; i < rows.size(); ++i)
            objs.push_back(std::make_unique<TConversionSettings>());
        std::printf("settings objects made %.3f s\n", t.nsecsElapsed() / 1e9);
        t.restart();
        for (size_t i = 0; i < rows.size(); ++i)
            ReadSettingsSummary(rows[i].ConvertSettings, objs[i].get());
        std::printf("summary read of every document %.3f s\n", t.nsecsElapsed() / 1e9);
        t.restart();
        {
            TTaskEnvironment env{};
            std::vector<std::unique_ptr<TConvertingTask>> tasks;
            for (size_t i = 0; i < rows.size(); ++i)
                tasks.push_back(std::make_unique<TConvertingTask>(nullptr, &env));
            std::printf("task objects made %.3f s\n", t.nsecsElapsed() / 1e9);
            t.restart();
        }
        std::printf("tasks freed %.3f s\n", t.nsecsElapsed() / 1e9);
        t.restart();
        for (size_t i = 0; i < 300 && i < rows.size(); ++i)
            ReadPropertyDocument(rows[i].ConvertSettings, objs[i].get());
        std::printf("full read of 300 documents %.3f s (document of %d characters)\n", t.nsecsElapsed() / 1e9, int(rows[0].ConvertSettings.size()));
        db.Close();
    }
    double best = 1e9, bestCpu = 1e9;
    for (int run = 0; run < runs; ++run) {
        TAVConfiguration config;
        TTaskEnvironment env{&db, &config, nullptr, nullptr};
        TTaskListModel list;
        TExplorerModel explorer(&env);
        QItemSelectionModel selection(&explorer);
        explorer.SetSelectionModel(&selection);
        explorer.SetTaskList(&list);
        QTreeView view;
        view.setUniformRowHeights(true);
        view.setRootIsDecorated(false);
        view.setModel(&list);
        view.resize(1000, 600);
        view.show();
        QApplication::processEvents();

        t.restart();
        const double cpu0 = ThreadCpuSeconds();
        db.Open(dir.path(), dir.path() + "/out");
        explorer.Load();
        const qint64 opened = t.nsecsElapsed();
        explorer.Select(explorer.RootCategory());
        const qint64 loaded = t.nsecsElapsed();
        view.viewport()->repaint(); // the first screen of rows, painted
        QApplication::processEvents();
        const qint64 shown = t.nsecsElapsed();
        const double cpu = ThreadCpuSeconds() - cpu0;
        const double seconds = shown / 1e9;
        best = std::min(best, seconds);
        bestCpu = std::min(bestCpu, cpu);
        std::printf("run %d: %d rows; open %.3f s, select %.3f s, first paint %.3f s, total %.3f s (main thread CPU %.3f s)\n",
                    run + 1, list.Count(), opened / 1e9, (loaded - opened) / 1e9, (shown - loaded) / 1e9, seconds, cpu);
        // leaving the category frees its tasks
        t.restart();
        explorer.Select(explorer.ConvertingNode());
        std::printf("        switching away %.3f s\n", t.nsecsElapsed() / 1e9);
        view.setModel(nullptr);
        explorer.SetTaskList(nullptr);
        db.Close();
    }
    std::printf("RESULT history listing of %d finished tasks: best %.3f s wall, %.3f s CPU\n", count, best, bestCpu);
    if (argc > 3)
        RunEightTasks(QString::fromLocal8Bit(argv[3]), dir.path());
    return best < 1.0 ? 0 : 1;
}
