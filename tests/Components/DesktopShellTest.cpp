#include "DesktopShell.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace korvane;

// The companion player found on the PATH gets the converted file as one
// argument, whatever characters its name holds. The player here is a script
// that writes down what it was given.
TEST(DesktopShell, ThePlayerOnThePathGetsThePathAsOneArgument)
{
    QTemporaryDir dir;
    const QString record = dir.filePath("args.txt");
    const QString script = dir.filePath("TrevinPlayer");
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '%1.tmp' && mv '%1.tmp' '%1'\n")
                    .arg(record)
                    .toUtf8());
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8() + ":" + oldPath);
    const QString target = dir.filePath("my \"best\" clip; $(echo no).avi");
    DesktopShell().PlayFile(target);
    qputenv("PATH", oldPath);

    for (int i = 0; i < 250 && !QFile::exists(record); ++i)
        QTest::qWait(20);
    QFile f(record);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], target);
}
