#include "PreviewPane.h"

#include "FramePreview.h"

namespace korvane {

IPreviewPane* CreatePreviewPane(QWidget* parent)
{
    return new TFramePreview(parent);
}

} // namespace korvane
