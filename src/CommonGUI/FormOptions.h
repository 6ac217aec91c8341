// The Options dialog: the pages "General" (output folder, completion alert)
// and "Performance" (thread priority, thread count). "Ok" writes the values
// into the configuration and saves it; "Cancel" changes nothing.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QSlider;
class QStackedWidget;

namespace korvane {

class TAVConfiguration;
class TWatchFoldersPage;

class TFormOptions : public QDialog
{
    Q_OBJECT
public:
    // Takes the current values of `config`, which must outlive the dialog.
    TFormOptions(TAVConfiguration* config, QWidget* parent = nullptr);

    // Runs the dialog; true when it was accepted and saved.
    static bool Execute(TAVConfiguration* config, QWidget* parent);

    // The controls, for tests.
    QLineEdit* OutputFolderEdit() const { return m_folder; }
    QCheckBox* ShowAlertCheck() const { return m_showAlert; }
    QSlider* PrioritySlider() const { return m_priority; }
    QComboBox* ThreadCountList() const { return m_threads; }
    QListWidget* PageList() const { return m_pages; }
    TWatchFoldersPage* WatchFolders() const { return m_watchFolders; }

    void accept() override;

private:
    QWidget* BuildGeneralPage();
    QWidget* BuildPerformancePage();
    void ChooseFolder();

    TAVConfiguration* m_config;
    QListWidget* m_pages;
    QStackedWidget* m_stack;
    QLineEdit* m_folder;
    QCheckBox* m_showAlert;
    QSlider* m_priority;
    QComboBox* m_threads;
    TWatchFoldersPage* m_watchFolders;
};

} // namespace korvane
