// A private sound server with one null sink, which takes sound at the pace of
// a real device; its monitor is a capture device that records what the sink
// plays (silence when nothing plays). Suspending the sink makes that capture
// device deliver nothing at all, as a muted or stalled microphone does.
#pragma once

#include "MediaFixtures.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

namespace korvane::test {

class NullSoundServer
{
public:
    NullSoundServer() : m_dir(TempDir())
    {
        if (QStandardPaths::findExecutable("pulseaudio").isEmpty()) {
            m_problem = "pulseaudio is not installed (scripts/install-deps.sh installs it)";
            return;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH"})
            env.insert(name, m_dir);
        m_daemon.setProcessEnvironment(env);
        m_daemon.setProcessChannelMode(QProcess::MergedChannels);
        m_daemon.start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                      "--load=module-native-protocol-unix socket=" + Socket() + " auth-anonymous=1",
                                      "--load=module-null-sink sink_name=" + Sink()});
        if (!m_daemon.waitForStarted(5000)) {
            m_problem = "pulseaudio did not start";
            return;
        }
        const QDeadlineTimer deadline(10000);
        while (!Ctl({"info"}).contains(Sink())) {
            if (deadline.hasExpired()) {
                m_problem = "pulseaudio did not come up: " + QString::fromLocal8Bit(m_daemon.readAll());
                return;
            }
            QThread::msleep(50);
        }
    }
    ~NullSoundServer()
    {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
    NullSoundServer(const NullSoundServer&) = delete;
    NullSoundServer& operator=(const NullSoundServer&) = delete;

    static QString Sink() { return QStringLiteral("korvane_null"); }
    QString Socket() const { return m_dir + "/native"; }
    QString Problem() const { return m_problem; }
    // pactl's answer, empty when it fails
    QString Ctl(const QStringList& args) const
    {
        QProcess ctl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PULSE_SERVER", "unix:" + Socket());
        ctl.setProcessEnvironment(env);
        ctl.start("pactl", args);
        if (!ctl.waitForFinished(5000) || ctl.exitCode() != 0)
            return {};
        return QString::fromLocal8Bit(ctl.readAllStandardOutput());
    }
    // An ALSA PCM definition named name that records the sink's monitor
    // through ALSA's pulse plugin.
    QString AlsaCaptureDevice(const QString& name) const
    {
        return QStringLiteral("pcm.%1 { type pulse server \"unix:%2\" device \"%3.monitor\" }\n")
            .arg(name, Socket(), Sink());
    }
    // Suspended, the sink and its monitor stop: its capture delivers nothing.
    bool Suspend(bool on) const
    {
        QProcess ctl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PULSE_SERVER", "unix:" + Socket());
        ctl.setProcessEnvironment(env);
        ctl.start("pactl", {"suspend-sink", Sink(), on ? "1" : "0"});
        return ctl.waitForFinished(5000) && ctl.exitCode() == 0;
    }

private:
    QString m_dir;
    QProcess m_daemon;
    QString m_problem;
};

} // namespace korvane::test
