#include "Configuration.h"

#include "options/Messages.h"
#include "PropertyDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/resource.h>

namespace korvane {

Q_LOGGING_CATEGORY(lcConfig, "korvane.config")

// ---- TPerformanceOptions

void TPerformanceOptions::Assign(const TPersistent* source)
{
    const auto* other = qobject_cast<const TPerformanceOptions*>(source);
    if (!other) {
        TPersistent::Assign(source);
        return;
    }
    SetThreadCount(other->m_threadCount);
    SetThreadPrority(other->m_threadPriority);
}

void TPerformanceOptions::SetThreadCount(int v)
{
    m_threadCount = std::clamp(v, 0, kMaxThreadCount);
}

void TPerformanceOptions::SetThreadPrority(int v)
{
    m_threadPriority = std::clamp(v, 0, kMaxThreadPriority);
}

// ---- priority

int NiceValueForPriority(int index)
{
    static constexpr int kNice[] = {19, 10, 0, -5, -10, -20};
    return kNice[std::clamp(index, 0, TPerformanceOptions::kMaxThreadPriority)];
}

bool ApplyProcessPriority(int index, QString* error)
{
    const int nice = NiceValueForPriority(index);
    QStringList tids = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (tids.isEmpty())
        tids << QStringLiteral("0"); // no /proc: at least the calling thread
    QString failure;
    for (const QString& tid : tids) {
        // a thread may end between the listing and the call: ESRCH is no failure
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid.toUInt()), nice) != 0 && errno != ESRCH)
            failure = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (failure.isEmpty())
        return true;
    qCWarning(lcConfig, "Cannot set the process priority to nice %d: %s", nice, qPrintable(failure));
    if (error)
        *error = failure;
    return false;
}

int TAVConfiguration::EffectivePriority()
{
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    if (nice == -1 && errno != 0)
        return TPerformanceOptions::kNormalPriority;
    for (int index = TPerformanceOptions::kMaxThreadPriority; index > 0; --index)
        if (NiceValueForPriority(index) >= nice)
            return index;
    return 0;
}

QString TAVConfiguration::PriorityName(int index)
{
    static const char* const kNames[] = {"Idle", "Below Normal", "Normal", "Above Normal", "High", "Real Time"};
    return QString::fromLatin1(kNames[std::clamp(index, 0, TPerformanceOptions::kMaxThreadPriority)]);
}

bool TAVConfiguration::ApplyPriorityNow(int index, QString* error)
{
    bool applied = true;
    if (TryApplyPriority)
        applied = TryApplyPriority(index, error);
    else if (ApplyPriority)
        ApplyPriority(index);
    else
        applied = ApplyProcessPriority(index, error);
    if (applied)
        m_appliedPriority = index;
    return applied;
}

// ---- TAVConfiguration

TAVConfiguration::TAVConfiguration(QObject* parent)
    : TPersistent(parent), m_performance(new TPerformanceOptions(this)), m_outputFolder(DefaultOutputFolder())
{
}

void TAVConfiguration::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source);
}

bool TAVConfiguration::DeclaredDefault(const char* property, QVariant* value) const
{
    if (qstrcmp(property, "ShutdownWhenDone") == 0) {
        *value = false;
        return true;
    }
    if (qstrcmp(property, "ShowAlert") == 0) {
        *value = true;
        return true;
    }
    return false;
}

QString TAVConfiguration::GetAppDataFolder()
{
    // only an absolute XDG_CONFIG_HOME counts; otherwise ~/.config
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base) + QStringLiteral("/KorvaneSoft/Velquist");
}

QString TAVConfiguration::GetConfigFile()
{
    return GetAppDataFolder() + QStringLiteral("Config.Xml");
}

QString TAVConfiguration::DefaultOutputFolder()
{
    QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (videos.isEmpty())
        videos = QDir::homePath() + QStringLiteral("/Videos");
    return videos + QStringLiteral("/Conversion");
}

void TAVConfiguration::SaveToFile(const QString& file) const
{
    SavePropertyDocumentFile(this, file);
}

void TAVConfiguration::LoadFromFile(const QString& file)
{
    LoadPropertyDocumentFile(file, this);
}

void TAVConfiguration::Save()
{
    const QString file = GetConfigFile();
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder))
        throw EEngineError(QStringLiteral("Cannot create folder \"%1\".").arg(folder).toStdString());
    // applied when it changed since the last time (the Options dialog
    // applies it first, to report a refusal)
    if (m_performance->ThreadPrority() != m_appliedPriority)
        ApplyPriorityNow(m_performance->ThreadPrority(), nullptr);
    SaveToFile(file);
}

QString TAVConfiguration::Load()
{
    const QString file = GetConfigFile();
    if (!QFileInfo::exists(file)) {
        try {
            Save();
        } catch (const EEngineError& e) {
            const QString message = QStringLiteral("The configuration file \"%1\" could not be written: %2\n"
                                                   "The default settings are used.")
                                        .arg(file, QString::fromUtf8(e.what()));
            InfoBox(message);
            return message;
        }
    }
    // a file that cannot be read (permissions, I/O) is not damaged: it stays
    // where it is and the defaults are used this time
    if (QFile probe(file); !probe.open(QIODevice::ReadOnly)) {
        const TAVConfiguration defaults;
        Assign(&defaults);
        const QString message = QStringLiteral("The configuration file \"%1\" could not be read: %2\n"
                                               "The default settings are used.")
                                    .arg(file, probe.errorString());
        InfoBox(message);
        return message;
    }
    try {
        LoadFromFile(file);
        return {};
    } catch (const EEngineError& e) {
        return SetDamagedFileAside(file, QString::fromUtf8(e.what()));
    }
}

QString TAVConfiguration::SetDamagedFileAside(const QString& file, const QString& reason)
{
    // a partial read may have set some values: start again from the constructor's
    const TAVConfiguration defaults;
    Assign(&defaults);

    // never overwrite the copy of an earlier incident
    QString aside = file + QStringLiteral(".damaged");
    for (int n = 2; QFileInfo::exists(aside) && n < 1000; ++n)
        aside = file + QStringLiteral(".damaged.%1").arg(n);
    QString message;
    if (QFile::rename(file, aside)) {
        message = QStringLiteral("The configuration file \"%1\" is damaged: %2\n"
                                 "It was renamed to \"%3\" and the default settings are used.")
                      .arg(file, reason, aside);
        try {
            Save();
        } catch (const EEngineError& e) {
            qCWarning(lcConfig, "%s", e.what()); // the next save reports it again
        }
    } else {
        message = QStringLiteral("The configuration file \"%1\" is damaged: %2\n"
                                 "It could not be renamed; the default settings are used.")
                      .arg(file, reason);
    }
    InfoBox(message);
    return message;
}

} // namespace korvane
