#include "CategoryPicker.h"

#include <QStandardItemModel>
#include <functional>
#include <gtest/gtest.h>

using namespace korvane;

namespace {

TEST(CategoryPicker, StartsOnTheRootAndPicksNestedCategories)
{
    TCategoryPicker picker;
    EXPECT_EQ(picker.CategoryId(), kRootCategoryId);
    int reported = 0;
    QObject::connect(&picker, &TCategoryPicker::CategoryChanged, [&](int id) { reported = id; });

    picker.SetCategories({{1, -1, "Converted"}, {2, 1, "Films"}, {3, 2, "Old films"}, {4, 1, "Music"}});
    EXPECT_EQ(picker.CategoryId(), 1);
    auto* model = qobject_cast<QStandardItemModel*>(picker.model());
    ASSERT_EQ(model->rowCount(), 1);           // one top node
    EXPECT_EQ(model->item(0)->rowCount(), 2);  // Films, Music
    EXPECT_EQ(model->item(0)->child(0)->rowCount(), 1);

    ASSERT_TRUE(picker.SetCategoryId(3));
    EXPECT_EQ(picker.CategoryId(), 3);
    EXPECT_EQ(reported, 3);
    EXPECT_EQ(picker.currentText(), "Old films");
    EXPECT_EQ(picker.CategoryName(), "Old films");
    EXPECT_FALSE(picker.SetCategoryId(99));
    EXPECT_EQ(picker.CategoryId(), 3);

    // The choice survives a refill that still has it, and falls back to the
    // root when it is gone.
    picker.SetCategories({{1, -1, "Converted"}, {3, 1, "Old films"}});
    EXPECT_EQ(picker.CategoryId(), 3);
    picker.SetCategories({{1, -1, "Converted"}, {4, 1, "Music"}});
    EXPECT_EQ(picker.CategoryId(), 1);
}

TEST(CategoryPicker, OrphansAndParentCyclesBecomeTopNodes)
{
    TCategoryPicker picker;
    picker.SetCategories({{5, 6, "A"}, {6, 5, "B"}, {7, 42, "Orphan"}, {1, -1, "Root"}});
    auto* model = qobject_cast<QStandardItemModel*>(picker.model());
    int total = 0;
    std::function<void(QStandardItem*)> count = [&](QStandardItem* item) {
        ++total;
        for (int r = 0; r < item->rowCount(); ++r)
            count(item->child(r));
    };
    for (int r = 0; r < model->rowCount(); ++r)
        count(model->item(r));
    EXPECT_EQ(total, 4); // every entry shown once, nothing lost in the cycle
    EXPECT_EQ(picker.CategoryId(), 1);
    EXPECT_TRUE(picker.SetCategoryId(6));
}

} // namespace
