#include "FormOptions.h"

#include "Configuration.h"
#include "WatchFoldersPage.h"
#include "options/Messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace korvane {

TFormOptions::TFormOptions(TAVConfiguration* config, QWidget* parent) : QDialog(parent), m_config(config)
{
    setWindowTitle(QStringLiteral("Options"));
    setObjectName("FormOptions");

    m_pages = new QListWidget(this);
    m_pages->addItems({QStringLiteral("General"), QStringLiteral("Performance"), QStringLiteral("Watch folders")});
    m_pages->setFixedWidth(130);
    m_stack = new QStackedWidget(this);
    m_stack->addWidget(BuildGeneralPage());
    m_stack->addWidget(BuildPerformancePage());
    m_watchFolders = new TWatchFoldersPage(TWatchFolderList::DefaultFile(), config->OutputFolder(), this);
    m_stack->addWidget(m_watchFolders);
    connect(m_pages, &QListWidget::currentRowChanged, m_stack, &QStackedWidget::setCurrentIndex);
    m_pages->setCurrentRow(0);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Ok"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* body = new QHBoxLayout;
    body->addWidget(m_pages);
    body->addWidget(m_stack, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(buttons);
    resize(520, 300);

    const TPerformanceOptions* perf = config->PerformanceOptions();
    Q_ASSERT(perf->ThreadCount() >= 0 && perf->ThreadCount() <= TPerformanceOptions::kMaxThreadCount);
    m_folder->setText(config->OutputFolder());
    m_showAlert->setChecked(config->ShowAlert());
    m_priority->setValue(perf->ThreadPrority());
    m_threads->setCurrentIndex(perf->ThreadCount());
}

QWidget* TFormOptions::BuildGeneralPage()
{
    auto* page = new QGroupBox(QStringLiteral("General"), this);
    m_folder = new QLineEdit(page);
    m_folder->setObjectName("OutputFolder");
    auto* browse = new QPushButton(QStringLiteral("..."), page);
    browse->setObjectName("BrowseFolder");
    browse->setFixedWidth(32);
    connect(browse, &QPushButton::clicked, this, &TFormOptions::ChooseFolder);
    auto* row = new QHBoxLayout;
    row->addWidget(m_folder, 1);
    row->addWidget(browse);

    m_showAlert = new QCheckBox(QStringLiteral("Show Alert When Conversion Completed"), page);
    m_showAlert->setObjectName("ShowAlert");

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(QStringLiteral("Output Folder"), page));
    layout->addLayout(row);
    layout->addSpacing(8);
    layout->addWidget(m_showAlert);
    layout->addStretch(1);
    return page;
}

QWidget* TFormOptions::BuildPerformancePage()
{
    auto* page = new QGroupBox(QStringLiteral("Performance"), this);
    m_priority = new QSlider(Qt::Horizontal, page);
    m_priority->setObjectName("ThreadPriority");
    m_priority->setRange(0, TPerformanceOptions::kMaxThreadPriority);
    m_priority->setPageStep(1);
    m_priority->setTickPosition(QSlider::TicksBelow);
    m_priority->setTickInterval(1);
    auto* sliderRow = new QHBoxLayout;
    sliderRow->addWidget(new QLabel(QStringLiteral("Low"), page));
    sliderRow->addWidget(m_priority, 1);
    sliderRow->addWidget(new QLabel(QStringLiteral("High"), page));

    // the entry index is the stored ThreadCount: 0 is automatic
    m_threads = new QComboBox(page);
    m_threads->setObjectName("ThreadCount");
    m_threads->addItem(QStringLiteral("Automatic(use all CPU(s))"));
    for (int i = 1; i <= TPerformanceOptions::kMaxThreadCount; ++i)
        m_threads->addItem(QString::number(i));

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(QStringLiteral("Thread Priority"), page));
    layout->addLayout(sliderRow);
    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Thread Count"), page));
    layout->addWidget(m_threads);
    layout->addStretch(1);
    return page;
}

void TFormOptions::ChooseFolder()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Output Folder"), m_folder->text());
    if (!folder.isEmpty())
        m_folder->setText(folder);
}

void TFormOptions::accept()
{
    TPerformanceOptions* perf = m_config->PerformanceOptions();
    // the priority first: one the system refuses is reported with its
    // reason, and the slider shows the one in effect
    const int oldPriority = perf->ThreadPrority();
    const int priority = m_priority->value();
    QString refusal;
    if (priority != oldPriority && !m_config->ApplyPriorityNow(priority, &refusal)) {
        const int effective = TAVConfiguration::EffectivePriority();
        ErrorBox(QStringLiteral("The priority \"%1\" could not be set: %2. The priority in effect is \"%3\".")
                     .arg(TAVConfiguration::PriorityName(priority), refusal,
                          TAVConfiguration::PriorityName(effective)));
        m_priority->setValue(effective);
        return;
    }
    const int oldThreads = perf->ThreadCount();
    const QString oldFolder = m_config->OutputFolder();
    const bool oldAlert = m_config->ShowAlert();
    perf->SetThreadCount(m_threads->currentIndex());
    perf->SetThreadPrority(priority);
    m_config->SetOutputFolder(m_folder->text());
    m_config->SetShowAlert(m_showAlert->isChecked());
    try {
        m_config->Save();
        if (const QString problem = m_watchFolders->Save(); !problem.isEmpty())
            throw EEngineError(problem.toStdString());
    } catch (const EEngineError& e) {
        // nothing of this dialog takes effect unless it was saved: the old
        // values come back (Cancel then leaves them), the dialog stays open
        // with the user's values so the save can be tried again
        perf->SetThreadCount(oldThreads);
        perf->SetThreadPrority(oldPriority);
        m_config->SetOutputFolder(oldFolder);
        m_config->SetShowAlert(oldAlert);
        if (priority != oldPriority)
            m_config->ApplyPriorityNow(oldPriority, nullptr);
        ErrorBox(QString::fromUtf8(e.what()));
        return;
    }
    QDialog::accept();
}

bool TFormOptions::Execute(TAVConfiguration* config, QWidget* parent)
{
    TFormOptions dialog(config, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace korvane
