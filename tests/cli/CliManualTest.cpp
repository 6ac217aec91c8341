// The manual text: --help is made from it, every option it documents is one
// the program takes, and its manual pages render without warnings.
#include "CliSupport.h"
#include "manual/Manual.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace korvane::test;
namespace manual = korvane::manual;

namespace {

class CliManual : public CliTestBase
{
};

const manual::Section* SectionNamed(const manual::Page& page, const QString& title)
{
    for (const manual::Section& s : page.Sections)
        if (s.Title == title) return &s;
    return nullptr;
}

// "-p, --profile NAME" -> {"-p", "--profile"}; with takesValue when a
// placeholder follows.
QStringList OptionsOf(const QString& term, bool* takesValue)
{
    QStringList options;
    *takesValue = false;
    for (const QString& word : term.split(' ', Qt::SkipEmptyParts)) {
        if (word.startsWith('-'))
            options << QString(word).remove(',');
        else
            *takesValue = true;
    }
    return options;
}

// Runs the command with the option and a value where it takes one; true when
// the option was not refused as unknown.
bool Accepted(const QStringList& head, const QString& option, bool takesValue)
{
    QStringList args = head;
    args << option;
    if (takesValue) args << (option.contains("set") || option.contains("option") ? "A=1" : "1");
    const ProcessResult r = Cli(args);
    return !r.err.contains("unknown option");
}

} // namespace

TEST_F(CliManual, HelpIsTheManualsText)
{
    const ProcessResult r = Cli({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, manual::HelpText(manual::CliPage()));
    for (const QString& line : Lines(r.out))
        EXPECT_LE(line.size(), 100) << line.toStdString();
}

TEST_F(CliManual, EveryDocumentedOptionIsTakenByItsCommand)
{
    const manual::Page page = manual::CliPage();
    const QString missing = TempDir() + "/missing.mp4";
    struct Case
    {
        const char* section;
        QStringList head;
    };
    const QList<Case> cases = {
        {"OPTIONS OF CONVERT", {"convert", missing, "-o", TempDir() + "/x.mkv"}},
        {"WATCH FOLDERS", {"watch", TempDir() + "/none", "-p", "no such", "-o", TempDir()}}};
    for (const Case& c : cases) {
        const manual::Section* s = SectionNamed(page, c.section);
        ASSERT_NE(s, nullptr) << c.section;
        for (const manual::Item& item : s->Items) {
            bool takesValue = false;
            for (const QString& option : OptionsOf(item.Term, &takesValue))
                EXPECT_TRUE(Accepted(c.head, option, takesValue))
                    << c.section << ": " << option.toStdString();
        }
    }
    // and a made-up option is refused, so the check above can fail
    EXPECT_FALSE(Accepted(cases[0].head, "--no-such-option", false));
}

TEST_F(CliManual, ManualPagesRenderWithoutWarnings)
{
    const QString man = QStandardPaths::findExecutable("man");
    if (man.isEmpty()) GTEST_SKIP() << "man is not installed";
    for (const manual::Page& page : {manual::CliPage(), manual::DesktopPage()}) {
        const QString file = TempDir() + "/" + page.Name + ".1";
        WriteText(file, manual::RoffPage(page, "1.0").toUtf8());
        qputenv("MANWIDTH", "80");
        const ProcessResult r = RunProcess(man, {"--warnings", "-l", file});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.err.isEmpty()) << page.Name.toStdString() << ": " << r.err.toStdString();
        // every command and every section shows up in the rendered page
        // (with the words man broke at a hyphen joined again)
        const QString text = QString(r.out).remove(QRegularExpression(QStringLiteral("\u2010\\s*")));
        for (const manual::Section& s : page.Sections) {
            if (s.HelpOnly) continue;
            EXPECT_TRUE(text.contains(s.Title)) << s.Title.toStdString();
            for (const manual::Item& item : s.Items)
                EXPECT_TRUE(text.contains(item.Term.section(' ', 0, 0).remove(',')))
                    << item.Term.toStdString();
        }
    }
}

TEST_F(CliManual, RoffEscapesWhatWouldBeMarkup)
{
    manual::Page page;
    page.Name = "x";
    page.Summary = "s";
    page.Synopsis = {"--a"};
    manual::Section s;
    s.Title = "T";
    s.Paragraphs = {".starts with a dot", "a \\ backslash and --dashes"};
    s.Example = {"'quoted start", "x --y"};
    page.Sections = {s};
    const QString roff = manual::RoffPage(page, "1");
    EXPECT_TRUE(roff.contains("\n\\&.starts with a dot\n"));
    EXPECT_TRUE(roff.contains("a \\e backslash and \\-\\-dashes"));
    EXPECT_TRUE(roff.contains("\n\\&'quoted start\n"));
    EXPECT_TRUE(roff.contains("x \\-\\-y"));
}
