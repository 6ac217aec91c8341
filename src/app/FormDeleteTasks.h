// The question before tasks are deleted (caption "Confirm to delete"), with
// the choice to delete the source and the target files too.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace korvane {

class TFormDeleteTasks : public QDialog
{
    Q_OBJECT
public:
    explicit TFormDeleteTasks(QWidget* parent = nullptr);

    QCheckBox* DeleteSource() const { return m_source; }
    QCheckBox* DeleteTarget() const { return m_target; }
    QPushButton* YesButton() const { return m_yes; }
    QPushButton* NoButton() const { return m_no; }

    // Runs the dialog modally: true on "Yes", with the two check boxes.
    static bool Ask(QWidget* parent, bool* deleteSource, bool* deleteTarget);

private:
    QCheckBox* m_source;
    QCheckBox* m_target;
    QPushButton* m_yes;
    QPushButton* m_no;
};

} // namespace korvane
