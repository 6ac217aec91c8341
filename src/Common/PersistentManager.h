// The history database: "av.cfg" in the settings folder, an SQLite file with
// the tables Conversions (one row per task) and Categories (the tree of the
// user's history categories, root ID 1 with Parent -1).
//
// TPersistentManager holds every statement. It works on plain values (ids,
// property documents, log lines), so the task and node classes above it stay
// the only ones that know what a task is. All calls come from the main thread.
//
// Reliability: every change is one SQLite transaction (a statement alone, or
// the statements of one operation together), so a process killed at any
// point leaves the file as it was before or after the operation. A file that
// is not a database, is damaged or holds other tables is moved aside on
// Open and a fresh one is created.
#pragma once

#include "options/Persistent.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <vector>

namespace korvane {

// A failure of the history database; the text is the user-facing message.
class EDatabaseError : public EEngineError
{
public:
    using EEngineError::EEngineError;
    explicit EDatabaseError(const QString& text) : EEngineError(text.toStdString()) {}
};

// One row of Conversions.
struct TConversionRow
{
    int ID = 0;
    bool Converting = true;
    QString ConvertSettings; // property document of the task's settings
    QDateTime ConvertedDate; // invalid while the task has not finished; may be in UTC
    int CategoryId = 0;      // 0 while null (the task has not finished)
    QString LogText;         // as stored, each line ended by CR LF; empty when null
    int64_t UsedTime = 0;    // seconds the task's runs have used so far; 0 when null
    // The log lines (split on demand: a long history is read without them).
    QStringList Log() const { return SplitLog(LogText); }
    static QStringList SplitLog(const QString& text);
};

// One row of Categories.
struct TCategoryRow
{
    int ID = 0;
    QString Category;
    QString Path;
    int Parent = -1;
};

class TPersistentManager
{
public:
    static constexpr int kRootCategoryId = 1;
    static constexpr int kNoParent = -1;

    TPersistentManager();
    ~TPersistentManager();
    TPersistentManager(const TPersistentManager&) = delete;
    TPersistentManager& operator=(const TPersistentManager&) = delete;

    // The database file of a settings folder: folder + "/av.cfg".
    static QString DatabaseFile(const QString& settingsFolder);

    // Opens "av.cfg" in settingsFolder (created with the folder when
    // missing; the root category "My Conversions" then gets rootFolder as its
    // folder). A file that cannot be used as the history (not a database,
    // damaged, other tables) is renamed to "av.cfg.damaged" (".damaged.2",
    // ... when taken) and a fresh one is created; the message naming both
    // paths is shown with ErrorBox and returned. The result is empty when the
    // file opened cleanly. Throws EDatabaseError when no usable database can
    // be had at all ("Can not open Database <path>").
    QString Open(const QString& settingsFolder, const QString& rootFolder);
    void Close();
    bool IsOpen() const;
    QString FileName() const;

    // Inserts a row marked converting with the settings document; returns
    // its ID.
    int NewDbTask(const QString& settings);
    // Marks the row finished: settings, completion date, category (1 when
    // categoryId names no category any more) and log. Returns the category
    // the row went to.
    int FinishDbTask(int id, const QString& settings, const QDateTime& date, int categoryId, const QStringList& log);
    // Stores the log of a row that stays converting (a stopped or failed
    // run), so it is shown again after the next start.
    void SaveLog(int id, const QStringList& log);
    // Sets the row's settings document (a row that stays converting).
    void SaveSettings(int id, const QString& settings);
    // The seconds the task's runs have used so far, Used Time after a restart.
    void SaveUsedTime(int id, int64_t seconds);
    void ClearLog(int id);
    void DeleteTask(int id);

    // Rows marked converting, in ID order.
    std::vector<TConversionRow> LoadConvertingTasks();
    // Finished rows of one category, newest first.
    std::vector<TConversionRow> LoadConvertedTasks(int categoryId);

    // Rows other than exceptId whose settings document contains text, in ID
    // order: a quick filter, which callers confirm on the settings read.
    std::vector<TConversionRow> RowsContaining(const QString& text, int exceptId);

    // Child categories of parentId, in ID order.
    std::vector<TCategoryRow> LoadConvertedNodes(int parentId);
    // True when a category with that id exists.
    bool CategoryExists(int id);
    // Inserts a category and returns the id the database gave it.
    int NewCategory(const QString& name, const QString& path, int parentId);
    void UpdateCategory(int id, const QString& name, const QString& path);
    // Deletes the category, every category below it and the tasks of all of
    // them, in one transaction. The root category cannot be deleted (an
    // internal error). Returns the ids of the deleted categories.
    std::vector<int> DeleteCategoryTree(int id);

    // "ok" when SQLite finds nothing wrong with the file.
    QString IntegrityCheck();

    // The stored text of a completion date: ISO 8601 local time with
    // milliseconds, which sorts chronologically.
    static QString DateText(const QDateTime& date);
    static QDateTime ParseDate(const QString& text);

private:
    struct Private;
    Private* d;
};

} // namespace korvane
