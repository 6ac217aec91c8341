#include "JourneySupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <unistd.h>

namespace korvane::test {

namespace {

QProcessEnvironment JourneyEnvironment(const QString& root, const QString& display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("HOME", root + "/home");
    env.insert("XDG_CONFIG_HOME", root + "/home/.config");
    env.insert("XDG_DATA_HOME", root + "/home/.local/share");
    env.insert("XDG_STATE_HOME", root + "/home/.local/state");
    env.insert("XDG_RUNTIME_DIR", root + "/run");
    // nothing of the desktop around the test: no session bus, no sound
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root + "/no-bus");
    env.insert("PULSE_SERVER", "unix:" + root + "/no-pulse");
    env.remove("SESSION_MANAGER");
    env.remove("WAYLAND_DISPLAY");
    return env;
}

} // namespace

void Journey::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    for (const char* sub : {"home/.config", "home/Videos", "run"})
        ASSERT_TRUE(QDir().mkpath(dir.filePath(sub)));
    QFile::setPermissions(dir.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // the server picks a free display and tells it on its standard output
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForStarted(10000)) << "Xvfb is needed (scripts/install-deps.sh installs it)";
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (!out.contains('\n') && xvfb.state() == QProcess::Running && timer.elapsed() < 20000) {
        xvfb.waitForReadyRead(200);
        out += xvfb.readAllStandardOutput();
    }
    const QString number = QString::fromUtf8(out).trimmed();
    ASSERT_FALSE(number.isEmpty()) << xvfb.readAllStandardError().toStdString();
    display = ":" + number;
    // the number comes as the server starts listening: wait until a client
    // really gets through before the program is started on it
    ASSERT_TRUE(WaitFor([&] { return !Xdo({"getdisplaygeometry"}).isEmpty(); }, 20000))
        << "no client reaches the X server on " << display.toStdString();
}

void Journey::TearDown()
{
    for (auto& program : programs) {
        if (program->state() == QProcess::NotRunning)
            continue;
        program->terminate();
        if (!program->waitForFinished(20000)) {
            program->kill();
            program->waitForFinished(5000);
        }
    }
    programs.clear();
    xvfb.terminate();
    if (!xvfb.waitForFinished(5000))
        xvfb.kill();
}

QProcess* Journey::Start(const QStringList& args)
{
    auto program = std::make_unique<QProcess>();
    program->setProcessEnvironment(JourneyEnvironment(dir.path(), display));
    program->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program->setStandardOutputFile(QProcess::nullDevice());
    if (asNobody)
        program->start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                              KORVANE_GUI} + args);
    else
        program->start(KORVANE_GUI, args);
    EXPECT_TRUE(program->waitForStarted(10000));
    programs.push_back(std::move(program));
    return programs.back().get();
}

int Journey::RunToEnd(const QStringList& args, int timeoutMs)
{
    QProcess* program = Start(args);
    if (!program->waitForFinished(timeoutMs))
        return -1;
    return program->exitStatus() == QProcess::NormalExit ? program->exitCode() : -1;
}

QString Journey::Xdo(const QStringList& args)
{
    QProcess xdo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    xdo.setProcessEnvironment(env);
    xdo.start("xdotool", args);
    if (!xdo.waitForFinished(10000)) {
        xdo.kill();
        xdo.waitForFinished();
        return {};
    }
    return QString::fromUtf8(xdo.readAllStandardOutput()).trimmed();
}

QString Journey::WaitWindow(const QString& title, int timeoutMs)
{
    QString id;
    WaitFor(
        [&] {
            id = Xdo({"search", "--onlyvisible", "--name", "^" + QRegularExpression::escape(title) + "$"})
                     .section('\n', 0, 0);
            return !id.isEmpty();
        },
        timeoutMs);
    return id;
}

void Journey::Keys(const QString& window, const QStringList& keys)
{
    // no window manager runs: the focus is given directly
    Xdo({"windowfocus", window});
    QThread::msleep(300);
    for (const QString& key : keys) {
        Xdo({"key", key});
        QThread::msleep(250);
    }
}

bool Journey::WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(100);
    }
    return true;
}

QString Journey::ConfigFolder() const
{
    return dir.filePath("home/.config/KorvaneSoft");
}

QString Journey::HistoryFile() const
{
    return ConfigFolder() + "/Velquist/av.cfg";
}

QString Journey::OutputFolder() const
{
    return dir.filePath("home/Videos/Conversion");
}

namespace {

// Runs use on a read-only connection to the history file.
void ReadHistory(const QString& file, const std::function<void(QSqlDatabase&)>& use)
{
    if (!QFile::exists(file))
        return;
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(file);
        db.setConnectOptions("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000");
        if (db.open())
            use(db);
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

QStringList Journey::HistoryRows()
{
    QStringList rows;
    ReadHistory(HistoryFile(), [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (q.exec("select Converting from Conversions order by ID"))
            while (q.next())
                rows << (q.value(0).toInt() != 0 ? "converting" : "finished");
    });
    return rows;
}

QString Journey::HistoryLogs()
{
    QString logs;
    ReadHistory(HistoryFile(), [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (q.exec("select Log from Conversions order by ID"))
            while (q.next())
                logs += q.value(0).toString();
    });
    return logs;
}

QString Journey::IntegrityCheck()
{
    QString result;
    ReadHistory(HistoryFile(), [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (q.exec("pragma integrity_check") && q.next())
            result = q.value(0).toString();
    });
    return result;
}

bool Journey::RunAsNobody()
{
    if (::geteuid() != 0)
        return true; // file permissions already hold
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther);
    if (QProcess::execute("chown", {"-R", "65534:65534", dir.path()}) != 0)
        return false;
    asNobody = true;
    return true;
}

} // namespace korvane::test
