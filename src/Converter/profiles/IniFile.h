// A small INI file in the classic "[Section]" / "Key=Value" syntax, read and
// written byte for byte the way the profile store expects: no escaping, no
// quoting of values, keys and sections matched without regard to case.
// QSettings cannot be used here: it escapes and quotes values and would turn
// "maxrate=1000000,qmin=3" into a list.
//
// The whole file is held in memory; UpdateFile writes it through a temporary
// file that is renamed over the original, so a crash mid-write never leaves a
// half-written store behind.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace korvane {

class TIniFile
{
public:
    // Reads fileName when it exists; a missing file reads as empty. An
    // existing file that cannot be read raises EEngineError naming it.
    explicit TIniFile(const QString& fileName);

    const QString& FileName() const { return m_fileName; }

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    // Key names of a section in file order.
    QStringList ReadSection(const QString& section) const;

    // Each Read returns defaultValue when the key is missing or its text does
    // not parse as the asked type. Values are trimmed of surrounding blanks.
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    // Accepts a "." decimal point, or the user's locale separator as a
    // fallback; infinities and NaN are refused.
    double ReadFloat(const QString& section, const QString& key, double defaultValue) const;
    // Any non-zero integer is true.
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // An existing key keeps its place in the file; a new one goes to the end
    // of its section (created at the end of the file when missing). Line
    // breaks inside a value are replaced by blanks: they would split the line.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    // The shortest text that reads back as the same value, with "." ("128", "12.2").
    void WriteFloat(const QString& section, const QString& key, double value);
    void WriteBool(const QString& section, const QString& key, bool value);
    void DeleteKey(const QString& section, const QString& key);

    // Writes the file atomically (folder created when missing). Raises
    // EEngineError naming the file when it cannot be written; the previous
    // file then stays as it was.
    void UpdateFile() const;
    // The file's text as UpdateFile writes it.
    QString ToText() const;

private:
    struct Entry
    {
        QString key;  // empty for comment and blank lines
        QString value;
        QString raw;  // the line as read, for comment and blank lines
    };
    struct Section
    {
        QString name;
        QList<Entry> entries;
        QHash<QString, int> index;  // lower-cased key -> first entry with that key
    };

    void Parse(const QString& text);
    const Section* FindSection(const QString& name) const;
    Section* FindSection(const QString& name);
    const Entry* FindEntry(const QString& section, const QString& key) const;
    void Reindex(Section& section);

    QString m_fileName;
    QStringList m_preamble;  // lines before the first section
    QList<Section> m_sections;
};

// A list as one comma-separated text: a line holding a blank or control
// character, a comma or a double quote, and an empty line, is enclosed in
// double quotes with inner double quotes doubled ("a b" -> "\"a b\"").
QString ToCommaText(const QStringList& lines);
// The reverse: splits at commas and blanks outside double quotes; a quoted
// part is unquoted ("" inside it is one quote). An empty text is no line.
QStringList FromCommaText(const QString& text);

} // namespace korvane
