// The INI file behind the profile store and the comma text of option lists.
#include "profiles/IniFile.h"
#include "MediaFixtures.h"
#include "options/Persistent.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace korvane;

namespace {

QString ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

void WriteAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace

TEST(CommaText, PlainLinesJoinWithCommas)
{
    const QStringList lines = {"maxrate=1000000", "qmin=3", "qmax=5", "bufsize=4096k", "g=300"};
    EXPECT_EQ(ToCommaText(lines), "maxrate=1000000,qmin=3,qmax=5,bufsize=4096k,g=300");
    EXPECT_EQ(FromCommaText("maxrate=1000000,qmin=3,qmax=5,bufsize=4096k,g=300"), lines);
    EXPECT_EQ(ToCommaText({}), "");
    EXPECT_TRUE(FromCommaText("").isEmpty());
}

TEST(CommaText, BlanksCommasAndQuotesAreQuoted)
{
    const QStringList lines = {"title=a b", "vf=scale=1,2", "text=say \"hi\"", "plain", "", "tab=\there"};
    const QString text = ToCommaText(lines);
    EXPECT_EQ(text, "\"title=a b\",\"vf=scale=1,2\",\"text=say \"\"hi\"\"\",plain,\"\",\"tab=\there\"");
    EXPECT_EQ(FromCommaText(text), lines);
    EXPECT_EQ(ToCommaText({""}), "\"\"");
    EXPECT_EQ(FromCommaText("\"\""), QStringList{""});
}

TEST(CommaText, ReadingSplitsAtUnquotedBlanks)
{
    EXPECT_EQ(FromCommaText("a b,c"), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(FromCommaText("  a ,  b  "), (QStringList{"a", "b"}));
    EXPECT_EQ(FromCommaText("a,,b"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(FromCommaText("a,"), (QStringList{"a", ""}));
    EXPECT_EQ(FromCommaText("\"a\"b"), (QStringList{"a", "b"}));
    EXPECT_EQ(FromCommaText("\"unclosed, text"), QStringList{"unclosed, text"});
}

TEST(CommaText, ControlCharactersDoNotStallTheReader)
{
    const QString text = QString(QChar(0)) + "a" + QChar(0) + "," + QChar(1) + "b";
    EXPECT_EQ(FromCommaText(text), (QStringList{"a", "b"}));
}

TEST(IniFile, MissingFileReadsAsEmpty)
{
    TIniFile ini(QDir(test::TempDir()).filePath("none.ini"));
    EXPECT_FALSE(ini.SectionExists("Profile"));
    EXPECT_EQ(ini.ReadInteger("Profile", "ProfileCount", 7), 7);
    EXPECT_EQ(ini.ReadString("Profile", "x", "d"), "d");
}

TEST(IniFile, WritesClassicSyntaxAndReadsItBack)
{
    const QString path = QDir(test::TempDir()).filePath("sub/folder/a.ini");
    {
        TIniFile ini(path);
        ini.WriteString("Profile", "Options0", "maxrate=1000000,qmin=3");
        ini.WriteFloat("Profile", "AudioBitrate0", 12.2);
        ini.WriteFloat("Profile", "AudioBitrate1", 128.0);
        ini.WriteBool("Profile", "IsVideo0", false);
        ini.WriteInteger("Other", "Value", -4);
        ini.WriteBool("Profile", "IsVideo0", true); // keeps its place
        ini.UpdateFile();
    }
    EXPECT_EQ(ReadAll(path), "[Profile]\nOptions0=maxrate=1000000,qmin=3\nAudioBitrate0=12.2\n"
                             "AudioBitrate1=128\nIsVideo0=1\n\n[Other]\nValue=-4\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("profile", "OPTIONS0", ""), "maxrate=1000000,qmin=3");
    EXPECT_DOUBLE_EQ(ini.ReadFloat("Profile", "AudioBitrate0", 0), 12.2);
    EXPECT_TRUE(ini.ReadBool("Profile", "IsVideo0", false));
    EXPECT_EQ(ini.ReadInteger("Other", "Value", 0), -4);
    EXPECT_EQ(ini.ReadSection("Profile"),
              (QStringList{"Options0", "AudioBitrate0", "AudioBitrate1", "IsVideo0"}));
}

TEST(IniFile, ValuesThatAreNotNumbersKeepTheDefault)
{
    const QString path = QDir(test::TempDir()).filePath("b.ini");
    WriteAll(path, "[Profile]\r\nA=abc\r\nB= 42 \r\nC=nan\r\nD=12x\r\nE=7\r\nE=8\r\nF=99999999999\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Profile", "A", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Profile", "B", 5), 42);
    EXPECT_EQ(ini.ReadFloat("Profile", "C", 1.5), 1.5);
    EXPECT_EQ(ini.ReadInteger("Profile", "D", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Profile", "E", 0), 7); // the first of two wins
    EXPECT_FALSE(ini.ReadBool("Profile", "A", false));
    EXPECT_EQ(ini.ReadInteger("Profile", "F", 3), 3); // beyond 32 bits
}

TEST(IniFile, CommentsAndForeignSectionsSurviveAnUpdate)
{
    const QString path = QDir(test::TempDir()).filePath("c.ini");
    WriteAll(path, "; kept\n[Profile]\n; note\nFoo=bar\n[Else]\nX=1\n");
    TIniFile ini(path);
    ini.WriteString("Profile", "New", "v");
    ini.UpdateFile();
    EXPECT_EQ(ReadAll(path), "; kept\n\n[Profile]\n; note\nFoo=bar\nNew=v\n\n[Else]\nX=1\n");
}

TEST(IniFile, LineBreaksInValuesCannotSplitTheLine)
{
    const QString path = QDir(test::TempDir()).filePath("d.ini");
    TIniFile ini(path);
    ini.WriteString("Profile", "Description0", "two\nlines\r\nProfileCount=999");
    ini.WriteInteger("Profile", "ProfileCount", 1);
    ini.UpdateFile();
    TIniFile back(path);
    EXPECT_EQ(back.ReadInteger("Profile", "ProfileCount", 0), 1);
    EXPECT_EQ(back.ReadString("Profile", "Description0", ""), "two lines  ProfileCount=999");
}

TEST(IniFile, UnwritablePathRaisesNamingTheFile)
{
    const QString blocker = QDir(test::TempDir()).filePath("file");
    WriteAll(blocker, "x");
    const QString path = blocker + "/Profiles.ini"; // parent is a file
    TIniFile ini(path);
    ini.WriteInteger("Profile", "ProfileCount", 0);
    try {
        ini.UpdateFile();
        FAIL() << "no error";
    } catch (const EEngineError& e) {
        EXPECT_TRUE(QString::fromStdString(e.what()).contains(path)) << e.what();
    }
}

TEST(IniFile, UnreadableFileRaisesNamingTheFile)
{
    const QString path = QDir(test::TempDir()).filePath("dir.ini");
    ASSERT_TRUE(QDir().mkpath(path)); // exists but cannot be read as a file
    EXPECT_THROW(TIniFile ini(path), EEngineError);
}

TEST(IniFile, UpdateLeavesNoTemporaryFiles)
{
    const QString dir = test::TempDir();
    const QString path = QDir(dir).filePath("e.ini");
    WriteAll(path, "[Profile]\nA=1\n");
    TIniFile ini(path);
    ini.WriteInteger("Profile", "A", 2);
    ini.UpdateFile();
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"e.ini"});
    EXPECT_EQ(TIniFile(path).ReadInteger("Profile", "A", 0), 2);
}
