// The user's application settings: one global TAVConfiguration, stored as a
// property document in "<settings folder>Config.Xml". The same class names
// the per-user settings folder that the history database and the custom
// profile store use.
#pragma once

#include "options/Persistent.h"

#include <QString>
#include <functional>

namespace korvane {

class TPerformanceOptions : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(int ThreadCount READ ThreadCount WRITE SetThreadCount)
    Q_PROPERTY(int ThreadPrority READ ThreadPrority WRITE SetThreadPrority)
public:
    static constexpr int kMaxThreadCount = 32;
    static constexpr int kMaxThreadPriority = 5;
    static constexpr int kNormalPriority = 2;

    explicit TPerformanceOptions(QObject* parent = nullptr) : TPersistent(parent) {}
    void Assign(const TPersistent* source) override;

    // Decoder threads per conversion; 0 means one per processor.
    int ThreadCount() const { return m_threadCount; }
    // Index of the process priority class: 0 idle ... 2 normal ... 5 real time.
    int ThreadPrority() const { return m_threadPriority; }
    // Both are clamped to their range, so a hand-edited file cannot give the
    // options dialog or the priority mapping a value they do not know.
    void SetThreadCount(int v);
    void SetThreadPrority(int v);

private:
    int m_threadCount = 0;
    int m_threadPriority = kNormalPriority;
};

class TAVConfiguration : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(korvane::TPerformanceOptions* PerformanceOptions READ PerformanceOptions WRITE SetPerformanceOptions)
    Q_PROPERTY(bool ShutdownWhenDone READ ShutdownWhenDone WRITE SetShutdownWhenDone)
    Q_PROPERTY(QString OutputFolder READ OutputFolder WRITE SetOutputFolder)
    Q_PROPERTY(bool ShowAlert READ ShowAlert WRITE SetShowAlert)
public:
    explicit TAVConfiguration(QObject* parent = nullptr);
    void Assign(const TPersistent* source) override;
    bool DeclaredDefault(const char* property, QVariant* value) const override;

    // Owned; never null. Setting it copies.
    korvane::TPerformanceOptions* PerformanceOptions() const { return m_performance; }
    void SetPerformanceOptions(korvane::TPerformanceOptions* v) { m_performance->Assign(v); }
    bool ShutdownWhenDone() const { return m_shutdownWhenDone; }
    void SetShutdownWhenDone(bool v) { m_shutdownWhenDone = v; }
    QString OutputFolder() const { return m_outputFolder; }
    void SetOutputFolder(const QString& v) { m_outputFolder = v; }
    bool ShowAlert() const { return m_showAlert; }
    void SetShowAlert(bool v) { m_showAlert = v; }

    // $XDG_CONFIG_HOME (or ~/.config) + "/KorvaneSoft/Velquist", without a
    // trailing separator. The history database lies inside it.
    static QString GetAppDataFolder();
    // The settings folder text immediately followed by "Config.Xml".
    static QString GetConfigFile();
    // The user's videos folder + "/Conversion".
    static QString DefaultOutputFolder();

    // Throw EEngineError (EPropertyDocumentError) on failure.
    void SaveToFile(const QString& file) const;
    void LoadFromFile(const QString& file);

    // Creates the folder of the configuration file, applies the process
    // priority from ThreadPrority and writes the file (atomically: the old
    // file stays intact when writing fails). Throws EEngineError on failure.
    void Save();
    // Writes the constructor values first when there is no file yet, then
    // reads the file. Never throws: a damaged file is renamed aside (to
    // "<file>.damaged"), the constructor values are used and a fresh file is
    // written; a file that cannot be written leaves the constructor values.
    // Either problem is shown with InfoBox and its text returned; the result
    // is empty when everything went well.
    QString Load();

    // Applies a priority index to the process; ApplyProcessPriority unless
    // replaced (tests record the call instead of renicing the test run).
    std::function<void(int index)> ApplyPriority;
    // Applies a priority index now and says whether the system took it (the
    // reason in error when not). TryApplyPriority replaces the system call
    // in tests; ApplyPriority, when set, always succeeds.
    bool ApplyPriorityNow(int index, QString* error);
    std::function<bool(int index, QString* error)> TryApplyPriority;
    // The priority index in effect for this process: the highest index whose
    // nice value is not below the process's.
    static int EffectivePriority();
    // "Idle", "Below Normal", "Normal", "Above Normal", "High", "Real Time".
    static QString PriorityName(int index);

private:
    QString SetDamagedFileAside(const QString& file, const QString& reason);

    TPerformanceOptions* m_performance; // owned (child object)
    bool m_shutdownWhenDone = false;
    QString m_outputFolder;
    bool m_showAlert = true;
    int m_appliedPriority = -1; // the index last applied to the process
};

// The nice value of a priority index: 19, 10, 0, -5, -10, -20 for idle,
// below normal, normal, above normal, high and real time.
int NiceValueForPriority(int index);

// Sets the nice value of every thread of the process (on Linux a nice value
// belongs to a thread; threads created later inherit it from their creator).
// A refused change (raising needs privilege) is logged and returns false with
// the reason in error; it is never fatal.
bool ApplyProcessPriority(int index, QString* error = nullptr);

} // namespace korvane
