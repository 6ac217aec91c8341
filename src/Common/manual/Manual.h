// The manuals of korvane and korvane-cli, kept in one place: the same text
// gives the programs' --help and the manual pages (korvane(1),
// korvane-cli(1)), so the two cannot drift apart.
//
// A page is a list of sections; a section has paragraphs, definition items
// (a term such as "-o, --output PATH" and its text) and example lines. The
// sections marked for help make up --help; the manual page has them all.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace korvane::manual {

struct Item
{
    QString Term; // words starting with '-' and command names in bold, UPPER-CASE words in italics
    QString Text; // one paragraph
};

struct Section
{
    QString Title;          // "OPTIONS OF CONVERT"; --help shows it as "Options of convert:"
    bool InHelp = false;    // part of --help
    QStringList Paragraphs; // before the items
    QList<Item> Items;
    QStringList Example;   // lines shown as they are, after the items
    QStringList After;     // paragraphs after the example
    bool HelpOnly = false; // --help only, not in the manual page
};

struct Page
{
    QString Name;         // "korvane-cli"
    QString Summary;      // the NAME line's text after the dash
    QStringList Synopsis; // one usage form per line, without the program's name
    QList<Section> Sections;
};

Page CliPage();
Page DesktopPage();

// --help: "Usage:" with the synopsis, then the sections marked for help,
// wrapped to width columns.
QString HelpText(const Page& page, int width = 80);
// The manual page in roff (man macros); version is the program's.
QString RoffPage(const Page& page, const QString& version);

} // namespace korvane::manual
