#include "profiles/IniFile.h"

#include "options/Persistent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>
#include <cmath>

namespace korvane {

namespace {

bool IsBlankOrControl(QChar c)
{
    return c.unicode() <= u' ';
}

QString OneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

TIniFile::TIniFile(const QString& fileName) : m_fileName(fileName)
{
    QFile file(fileName);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw EEngineError(QStringLiteral("Cannot read the file \"%1\": %2")
                               .arg(fileName, file.errorString())
                               .toStdString());
    const QByteArray data = file.readAll();
    // UTF-8 normally; a store written by an older 8-bit program reads as Latin-1
    // rather than with replacement characters.
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(data);
    if (decoder.hasError())
        text = QString::fromLatin1(data);
    Parse(text);
}

void TIniFile::Parse(const QString& text)
{
    Section* current = nullptr;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (i == 0 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue; // blank lines are not kept; ToText separates sections itself
        if (trimmed.startsWith(QLatin1Char('[')) && trimmed.contains(QLatin1Char(']'))) {
            Section section;
            section.name = trimmed.mid(1, trimmed.indexOf(QLatin1Char(']')) - 1).trimmed();
            m_sections.append(section);
            current = &m_sections.last();
            continue;
        }
        const int eq = trimmed.indexOf(QLatin1Char('='));
        const bool isComment = trimmed.startsWith(QLatin1Char(';')) || eq <= 0;
        if (!current) {
            m_preamble.append(trimmed);
            continue;
        }
        Entry entry;
        if (isComment) {
            entry.raw = trimmed;
        } else {
            entry.key = trimmed.left(eq).trimmed();
            entry.value = trimmed.mid(eq + 1).trimmed();
        }
        current->entries.append(entry);
        if (!isComment && !current->index.contains(entry.key.toLower()))
            current->index.insert(entry.key.toLower(), current->entries.size() - 1);
    }
}

const TIniFile::Section* TIniFile::FindSection(const QString& name) const
{
    for (const Section& section : m_sections)
        if (section.name.compare(name, Qt::CaseInsensitive) == 0)
            return &section;
    return nullptr;
}

TIniFile::Section* TIniFile::FindSection(const QString& name)
{
    return const_cast<Section*>(std::as_const(*this).FindSection(name));
}

const TIniFile::Entry* TIniFile::FindEntry(const QString& section, const QString& key) const
{
    const Section* s = FindSection(section);
    if (!s)
        return nullptr;
    const auto it = s->index.constFind(key.toLower());
    return it == s->index.constEnd() ? nullptr : &s->entries[it.value()];
}

void TIniFile::Reindex(Section& section)
{
    section.index.clear();
    for (int i = 0; i < section.entries.size(); ++i) {
        const Entry& e = section.entries[i];
        if (!e.key.isEmpty() && !section.index.contains(e.key.toLower()))
            section.index.insert(e.key.toLower(), i);
    }
}

bool TIniFile::SectionExists(const QString& section) const
{
    return FindSection(section) != nullptr;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const
{
    return FindEntry(section, key) != nullptr;
}

QStringList TIniFile::ReadSection(const QString& section) const
{
    QStringList keys;
    if (const Section* s = FindSection(section))
        for (const Entry& e : s->entries)
            if (!e.key.isEmpty())
                keys.append(e.key);
    return keys;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const Entry* e = FindEntry(section, key);
    return e ? e->value : defaultValue;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    const Entry* e = FindEntry(section, key);
    if (!e)
        return defaultValue;
    bool ok = false;
    const int value = e->value.toInt(&ok, 10);
    return ok ? value : defaultValue;
}

double TIniFile::ReadFloat(const QString& section, const QString& key, double defaultValue) const
{
    const Entry* e = FindEntry(section, key);
    if (!e)
        return defaultValue;
    bool ok = false;
    double value = QLocale::c().toDouble(e->value, &ok);
    if (!ok)
        value = QLocale().toDouble(e->value, &ok);
    return ok && std::isfinite(value) ? value : defaultValue;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    Section* s = FindSection(section);
    if (!s) {
        m_sections.append(Section{OneLine(section), {}, {}});
        s = &m_sections.last();
    }
    const auto it = s->index.constFind(key.toLower());
    if (it != s->index.constEnd()) {
        s->entries[it.value()].value = OneLine(value);
        return;
    }
    s->entries.append(Entry{OneLine(key), OneLine(value), {}});
    s->index.insert(key.toLower(), s->entries.size() - 1);
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteFloat(const QString& section, const QString& key, double value)
{
    WriteString(section, key, QString::number(value, 'g', QLocale::FloatingPointShortest));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::DeleteKey(const QString& section, const QString& key)
{
    Section* s = FindSection(section);
    if (!s)
        return;
    const QString lower = key.toLower();
    for (int i = s->entries.size() - 1; i >= 0; --i)
        if (!s->entries[i].key.isEmpty() && s->entries[i].key.toLower() == lower)
            s->entries.removeAt(i);
    Reindex(*s);
}

QString TIniFile::ToText() const
{
    QString text;
    for (const QString& line : m_preamble)
        text += line + QLatin1Char('\n');
    for (int i = 0; i < m_sections.size(); ++i) {
        if (i > 0 || !m_preamble.isEmpty())
            text += QLatin1Char('\n');
        const Section& s = m_sections[i];
        text += QLatin1Char('[') + s.name + QStringLiteral("]\n");
        for (const Entry& e : s.entries)
            text += (e.key.isEmpty() ? e.raw : e.key + QLatin1Char('=') + e.value) + QLatin1Char('\n');
    }
    return text;
}

void TIniFile::UpdateFile() const
{
    const auto fail = [this](const QString& reason) {
        throw EEngineError(
            QStringLiteral("Cannot write the file \"%1\": %2").arg(m_fileName, reason).toStdString());
    };
    const QFileInfo info(m_fileName);
    if (!QDir().mkpath(info.absolutePath()))
        fail(QStringLiteral("the folder cannot be created"));
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    const QByteArray data = ToText().toUtf8();
    if (file.write(data) != data.size())
        fail(file.errorString());
    if (!file.commit())
        fail(file.errorString());
}

// ---- comma text

QString ToCommaText(const QStringList& lines)
{
    QStringList parts;
    parts.reserve(lines.size());
    for (const QString& line : lines) {
        bool quote = line.isEmpty();
        for (QChar c : line)
            quote = quote || IsBlankOrControl(c) || c == u'"' || c == u',';
        if (quote) {
            QString inner = line;
            inner.replace(QStringLiteral("\""), QStringLiteral("\"\""));
            parts.append(QLatin1Char('"') + inner + QLatin1Char('"'));
        } else {
            parts.append(line);
        }
    }
    return parts.join(QLatin1Char(','));
}

QStringList FromCommaText(const QString& text)
{
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype p = 0;
    const auto skipBlanks = [&] {
        while (p < n && IsBlankOrControl(text[p]))
            ++p;
    };
    skipBlanks();
    while (p < n) {
        QString item;
        if (text[p] == u'"') {
            ++p;
            while (p < n) {
                if (text[p] == u'"') {
                    if (p + 1 < n && text[p + 1] == u'"') {
                        item += QLatin1Char('"');
                        p += 2;
                        continue;
                    }
                    ++p; // closing quote; an unclosed quote runs to the end
                    break;
                }
                item += text[p++];
            }
        } else {
            const qsizetype start = p;
            while (p < n && !IsBlankOrControl(text[p]) && text[p] != u',')
                ++p;
            item = text.mid(start, p - start);
        }
        lines.append(item);
        skipBlanks();
        if (p < n && text[p] == u',') {
            if (p + 1 == n)
                lines.append(QString()); // a trailing comma ends with an empty line
            ++p;
            skipBlanks();
        }
    }
    return lines;
}

} // namespace korvane
