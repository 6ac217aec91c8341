#include "CategoryOperations.h"
#include "ShotRegistry.h"

#include <QDir>

// The category dialog as "Category Properties" opens it on a category.
static korvane::shots::Register r("category-dialog", [] {
    auto* dialog = new korvane::TCategoryDialog(QStringLiteral("Category Properties"), QStringLiteral("Holiday films"),
                                                QDir::homePath() + QStringLiteral("/Videos/Conversion/Holiday"));
    return static_cast<QWidget*>(dialog);
});
