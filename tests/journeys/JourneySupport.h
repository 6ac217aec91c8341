// The real korvane program on an X server of its own (Xvfb), driven with
// xdotool as a person would: keys into its windows, a second start from the
// command line, signals. Each journey gets a fresh home, settings and runtime
// folder, and no desktop bus or sound server is reachable from it.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace korvane::test {

class Journey : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts korvane with args; the process runs until it ends or the test does.
    QProcess* Start(const QStringList& args = {});
    // Runs korvane to its end (a second start); its exit code, -1 on a hang.
    int RunToEnd(const QStringList& args, int timeoutMs = 15000);
    // xdotool with the journey's display; its standard output.
    QString Xdo(const QStringList& args);
    // The id of the visible window whose title is exactly title; waits for it.
    QString WaitWindow(const QString& title, int timeoutMs = 20000);
    // Gives the window the keyboard and types the keys (xdotool key names).
    void Keys(const QString& window, const QStringList& keys);
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 60000);

    // The settings folder files of the program.
    QString ConfigFolder() const;
    QString HistoryFile() const;
    QString OutputFolder() const;
    // Rows of the history: "converting" or "finished", in ID order.
    QStringList HistoryRows();
    QString IntegrityCheck();
    // The stored logs of every row, one after the other.
    QString HistoryLogs();

    // Runs the program as an unprivileged user where this test is root
    // (file permissions do not hold root back).
    bool RunAsNobody();

    QTemporaryDir dir;
    QString display;
    QProcess xvfb;
    std::vector<std::unique_ptr<QProcess>> programs;
    bool asNobody = false;
};

} // namespace korvane::test
