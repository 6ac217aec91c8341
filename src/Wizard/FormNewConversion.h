// The new conversion dialog: where every conversion begins. The user picks
// one or several files or a DVD title, a category and a profile, sees where
// the output goes and in which history category the task ends, may mark a
// range in the preview and stack video filters, and starts. Two pages in a
// stack ("Select Source File", "Filters Settings") and four buttons.
#pragma once

#include "CategoryPicker.h"
#include "ConversionSettings.h"
#include "OutputNaming.h"
#include "profiles/AVProfile.h"

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QToolButton;

namespace korvane {

class IPreviewPane;
class TAVConfiguration;
class TAVProfile;
class TAVProfileList;
class TDvdSourceTab;
class TFilterListPage;

// What the dialog works with; the application gives it once at start-up.
// Without profiles the dialog reads the catalog and the user's store itself.
struct TWizardEnvironment
{
    TAVProfileList* Profiles = nullptr;              // not owned
    const TAVConfiguration* Configuration = nullptr; // not owned; null: defaults
    QString ProfileStorePath;                        // where the profile editor saves
    std::vector<TCategoryEntry> Categories = DefaultCategories();
    // Makes the preview pane; null: CreatePreviewPane. Tests give a fake.
    std::function<IPreviewPane*(QWidget* parent)> PreviewFactory;
};
void SetWizardEnvironment(const TWizardEnvironment& environment);
// The history categories the picker offers (the root alone by default).
void SetNewConversionCategories(const std::vector<TCategoryEntry>& categories);
// Where RunNewConversion remembers the last category, profile and output
// folder between runs; empty (the default): nothing is remembered.
void SetNewConversionChoicesFile(const QString& file);

// Runs the dialog modally with sources already filled in (may be empty). On
// "Start Convert" one settings object per source: the same profile, filters
// and output folder, each output named after its source; the preview and its
// marks only apply to a single source. Empty when cancelled. taskTargets: the
// outputs of the tasks that exist (converting or in the history), which the
// dialog never proposes.
std::vector<std::unique_ptr<TConversionSettings>> RunNewConversion(QWidget* parent, const QStringList& sources,
                                                                   const QStringList& taskTargets = {});

class TFormNewConversion : public QDialog
{
    Q_OBJECT
public:
    enum TPage { pgSource, pgFilters };
    enum TSourceTab { tabFile, tabDvd };

    // pane: the preview to use (taken over); null: the environment's
    // factory, else CreatePreviewPane.
    TFormNewConversion(const TWizardEnvironment& environment, IPreviewPane* pane = nullptr,
                       QWidget* parent = nullptr);
    ~TFormNewConversion() override;

    // ---- Source
    // Puts paths into the source field as they are (a dropped file).
    void SetSources(const QStringList& paths);
    // Files chosen in the file dialog: each is probed; if any is not a media
    // file with video or audio, "Invalid Video/Audio File" is shown and the
    // previous source stays. True when taken.
    bool ChooseSourceFiles(const QStringList& paths);
    QStringList Sources() const { return m_sources; }
    // Adds files to the batch (probed here; one that is not media is named
    // and left out), or the media files of a folder and its sub-folders,
    // probed on a worker; Start waits for it.
    void AddSourceFiles(const QStringList& paths);
    void AddSourceFolder(const QString& folder);
    bool IsReadingFolders() const { return m_readingFolders > 0; }
    // Removes the sources selected in the list.
    void RemoveSelectedSources();
    QListWidget* SourceList() const { return m_sourceList; }
    QPushButton* RemoveSourcesButton() const { return m_removeSources; }
    void SelectSourceTab(TSourceTab tab);
    TDvdSourceTab* DvdTab() const { return m_dvd; }
    // A file tab whose files all exist, or a DVD tab with a title chosen.
    bool IsSourceReady() const;

    // ---- Profile
    void SelectCategory(int index);
    void SelectProfile(int index);
    // Chooses a profile by its description within its category; false when
    // not found.
    bool SelectProfileByDescription(const QString& description);
    TAVProfile* CurrentProfile() const;
    // Opens the profile editor on the current (custom) profile, then shows
    // the profile it hands back.
    void EditCurrentProfile();

    // ---- Output
    // The outputs of the existing tasks: never proposed, and a typed one is
    // asked about as an existing file is.
    void SetTaskTargets(const QStringList& targets);
    QString OutputPath() const;
    // A path the user chose (typed or browsed): kept when the source tab or
    // the category changes; a profile only changes its extension.
    void SetOutputPath(const QString& path);
    // The outputs Start would write, one per source.
    QStringList OutputPaths() const;
    // Asks for the output file; empty when cancelled. Replaced by tests.
    std::function<QString(const QString& current)> AskOutputPath;
    QString TargetFolder() const { return m_targetFolder; }
    TCategoryPicker* CategoryPicker() const { return m_categoryPicker; }

    // Shows the category, profile and output folder stored in file by the
    // last Start, and stores them there at each Start.
    void RememberChoicesIn(const QString& file);

    // ---- Pages and buttons
    bool IsReady() const;
    void UpdateReadiness();
    TPage CurrentPage() const;
    void GoToFilters();
    void GoBack();
    // "Start Convert": prepares the options and closes with OK; stays open
    // (with a message) when the output would replace a source or the source
    // cannot be opened.
    void Finish();
    TFilterListPage* FilterPage() const { return m_filterPage; }
    // The filter list's description: each filter's text, joined with ",".
    QString FilterDescription() const;

    // After OK: one settings object per source.
    std::vector<std::unique_ptr<TConversionSettings>> GetConversionSettings();

    QPushButton* FilterButton() const { return m_filterButton; }
    QPushButton* BackButton() const { return m_backButton; }
    QPushButton* StartButton() const { return m_startButton; }
    QPushButton* CancelButton() const { return m_cancelButton; }
    QComboBox* CategoryList() const { return m_categoryList; }
    QComboBox* ProfileList() const { return m_profileList; }
    QPushButton* EditProfileButton() const { return m_editProfile; }
    QLineEdit* SourceEdit() const { return m_sourceEdit; }
    QLabel* ProfileInformation() const { return m_profileInfo; }
    // The size the outputs will have, about: the profile's bit rates times
    // the sources' playing time, or the sources' size when the profile sets
    // no bit rate. -1 while unknown (no source, durations still being read,
    // a profile without rates).
    int64_t EstimatedBytes() const;
    QLabel* EstimateLabel() const { return m_estimate; }
    // In a batch, the names the other sources' outputs get.
    QLabel* BatchOutputsLabel() const { return m_batchOutputs; }

    // Why Start is disabled; empty when it is enabled.
    QString StartBlockedReason() const;
    QLabel* StartReasonLabel() const { return m_startReason; }
    QToolButton* OutputBrowseButton() const { return m_outputBrowse; }

    // Replaced by tests: the file dialog and the profile editor.
    std::function<QStringList()> AskSourceFiles;
    std::function<QString()> AskSourceFolder;
    std::function<TAVProfile*(TAVProfile* profile)> RunProfileEditor;

    void done(int result) override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* BuildSourcePage();
    QWidget* BuildFileTab();
    // Appends the paths not yet among the sources.
    void AddSources(const QStringList& paths);
    QLayout* BuildButtons();
    void SourceChanged();
    void SourceTextEdited(const QString& text);
    void ShowSourcesInField();
    void ShowProfileInformation();
    // Reads the sources' playing time on a worker, then shows the estimate.
    void ReadDurations();
    void ShowEstimate();
    void RefillProfiles(TAVProfile* select);
    // The output of the first source in the target folder, with the
    // profile's extension; empty when there is no ready source.
    QString DefaultOutputPath() const;
    // Where outputs are proposed: the folder of a chosen output, else the
    // configured one.
    QString OutputFolder() const;
    // Shows a proposed output (not one the user chose).
    void ProposeOutput(const QString& path);
    // Asks about each output that is a file or another task's output; false
    // when the user keeps one of them (the default answer).
    bool ConfirmOutputs(const QStringList& outputs);
    // ---- DVD
    // Opens the chosen title for the preview on a worker; the pane gets it
    // when it comes.
    void OpenPreviewStream();
    void StoreChoices(const QString& firstOutput) const;
    // The default output of the chosen title; empty without a title.
    QString DvdOutputPath(const QString& extension) const;
    void FillDvdSettings(TConversionSettings* settings);

    TWizardEnvironment m_env;
    std::unique_ptr<TAVProfileList> m_ownProfiles; // when none was given
    QString m_targetFolder;
    QString m_choicesFile;
    TTakenTargets m_taken;
    bool m_outputChosen = false; // the user typed or browsed the output
    QStringList m_sources;
    std::unique_ptr<TAVConvertOptions> m_options;      // the private options
    std::unique_ptr<TAVConvertOptions> m_finalOptions; // prepared by Finish
    QString m_taskSource;                              // engine input of a DVD task, opened by Finish
    int m_taskStreamHandle = 0;
    QList<int> m_previewStreams; // DVD streams opened for the preview
    QList<QPointer<TAVProfile>> m_shownProfiles;

    IPreviewPane* m_preview;
    QStackedWidget* m_pages;
    QLabel* m_pageTitle;
    QTabWidget* m_sourceTabs;
    QLineEdit* m_sourceEdit;
    QListWidget* m_sourceList;
    QPushButton* m_removeSources;
    int m_readingFolders = 0;
    TDvdSourceTab* m_dvd;
    QComboBox* m_categoryList;
    QComboBox* m_profileList;
    QPushButton* m_editProfile;
    QLabel* m_profileInfo;
    QLabel* m_estimate;
    int64_t m_sourcesDurationUs = -1; // of the file sources; -1 unknown
    int m_durationRead = 0;           // number of the reading awaited
    QLineEdit* m_outputEdit;
    QToolButton* m_outputBrowse;
    QLabel* m_batchOutputs;
    QLabel* m_startReason;
    TCategoryPicker* m_categoryPicker;
    TFilterListPage* m_filterPage;
    QPushButton* m_filterButton;
    QPushButton* m_backButton;
    QPushButton* m_startButton;
    QPushButton* m_cancelButton;
    QTimer* m_readiness;
};

} // namespace korvane
