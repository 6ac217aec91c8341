// Running korvane-cli in tests: every run sees a settings folder of its own
// (XDG_CONFIG_HOME in a temporary folder), never the user's.
#pragma once

#include "MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <gtest/gtest.h>

namespace korvane::test {

// Points XDG_CONFIG_HOME at a fresh folder; returns the settings folder text
// ("<config>/KorvaneSoft/Velquist") that the configuration and the profile
// store names start with.
inline QString IsolateSettings()
{
    const QString home = TempDir();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
    QDir().mkpath(home + "/KorvaneSoft");
    return home + "/KorvaneSoft/Velquist";
}

inline ProcessResult Cli(const QStringList& args) { return RunProcess(QStringLiteral(KORVANE_CLI), args); }

// Every test starts with settings of its own: no configuration file, no store.
class CliTestBase : public ::testing::Test
{
protected:
    void SetUp() override { m_settings = IsolateSettings(); }
    QString m_settings; // settings folder text
};

inline void WriteText(const QString& file, const QByteArray& text)
{
    QFile f(file);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
}

inline QByteArray ReadText(const QString& file)
{
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// The --json lines of a run.
inline QList<QJsonObject> JsonLines(const QString& out)
{
    QList<QJsonObject> objects;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts))
        objects << QJsonDocument::fromJson(line.toUtf8()).object();
    return objects;
}

inline QStringList Lines(const QString& text) { return text.split('\n', Qt::SkipEmptyParts); }

} // namespace korvane::test
