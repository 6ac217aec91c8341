// The "Watch folders" page of the Options dialog: a list of folders, each
// with the profile its new files are converted with, the output folder and
// the history category the conversions go into. Saved to the watch folder
// list when the dialog is accepted.
#pragma once

#include "watch/WatchFolderList.h"

#include <QGroupBox>

class QTableWidget;

namespace korvane {

class TWatchFoldersPage : public QGroupBox
{
    Q_OBJECT
public:
    // The profile names the page offers (the program sets them once).
    static void SetProfileNames(const QStringList& names);

    // Shows the entries of listFile; defaultOutput is the output folder a
    // new row starts with.
    TWatchFoldersPage(const QString& listFile, const QString& defaultOutput, QWidget* parent = nullptr);

    QList<TWatchFolderEntry> Entries() const;
    // Adds a row (the Add button asks for the folder first).
    void AddRow(const TWatchFolderEntry& entry);
    // Writes the list; returns the problem, empty when written.
    QString Save() const;

    QTableWidget* Table() const { return m_table; }

private:
    void AddFolder();
    void RemoveRows();

    QString m_file;
    QString m_defaultOutput;
    QTableWidget* m_table;
};

} // namespace korvane
