#include "PreviewPane.h"

#include <QLabel>

namespace korvane {
namespace {

// Stands in until the player pane exists: shows the source's name, marks
// nothing.
class TPreviewPlaceholder : public QLabel, public IPreviewPane
{
public:
    explicit TPreviewPlaceholder(QWidget* parent) : QLabel(parent)
    {
        setAlignment(Qt::AlignCenter);
        setMinimumSize(320, 180);
    }
    QWidget* Widget() override { return this; }
    void OpenSource(const QString& inputName) override { setText(inputName); }
    void StopPreview() override { clear(); }
    void SetVideoFilters(const QString&) override {}
    int64_t StartPosition() const override { return 0; }
    int64_t EndPosition() const override { return 0; }
};

} // namespace

IPreviewPane* CreatePreviewPane(QWidget* parent)
{
    return new TPreviewPlaceholder(parent);
}

} // namespace korvane
