// What the new conversion dialog asks of its preview pane. The dialog knows
// the pane only through this interface, so tests can give it a fake one.
#pragma once

#include <QString>
#include <cstdint>

class QWidget;

namespace korvane {

class IPreviewPane
{
public:
    virtual ~IPreviewPane() = default;

    // The widget to place in the dialog.
    virtual QWidget* Widget() = 0;
    // Opens a source by its engine input name: a file path or "stream:%d".
    virtual void OpenSource(const QString& inputName) = 0;
    // Stops playing and releases the source.
    virtual void StopPreview() = 0;
    // Shows the job's filter description (empty: none) without reopening.
    virtual void SetVideoFilters(const QString& description) = 0;
    // Deinterlaces the pictures first, as a job with the Deinterlace option
    // converts them. Panes that show no pictures ignore it.
    virtual void SetDeinterlace(bool /*deinterlace*/) {}
    // The marked range in microseconds: start 0 when no start was marked,
    // end 0 when no end was marked. The range takes in the picture the end
    // was marked on: it ends where that picture ends (its time plus its
    // duration), so end - start is the length to convert.
    virtual int64_t StartPosition() const = 0;
    virtual int64_t EndPosition() const = 0;
};

// The pane the dialog shows, parented to `parent`.
IPreviewPane* CreatePreviewPane(QWidget* parent);

} // namespace korvane
