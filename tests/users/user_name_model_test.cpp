#include <gtest/gtest.h>

#include <QSignalSpy>

#include "users/user_name_model.h"

namespace kestrix {
namespace {

std::vector<std::string> shown(const UserNameModel& model) {
    std::vector<std::string> out;
    for (int row = 0; row < model.rowCount(); ++row)
        out.push_back(model.index(row).data().toString().toStdString());
    return out;
}

// The list keeps the names as read and shows them as text; finding and
// placing a name ignore case the way the list's sorted order does.
TEST(UserNameModelTest, ShowsFindsAndPlacesNamesWithoutRegardToCase) {
    UserNameModel model;
    model.setNames({"alice", "BOB", "carol", "J\xc3\xb6rg"});
    EXPECT_EQ(shown(model), (std::vector<std::string>{"alice", "BOB", "carol", "J\xc3\xb6rg"}));
    EXPECT_FALSE(model.index(0).data(Qt::DecorationRole).isValid());
    EXPECT_EQ(model.rowCount(model.index(0)), 0);

    EXPECT_EQ(model.findIgnoringCase(QStringLiteral("bob")), 1);
    EXPECT_EQ(model.findIgnoringCase(QStringLiteral("j\u00f6rg")), 3);
    EXPECT_EQ(model.findIgnoringCase(QStringLiteral("bo")), -1);
    EXPECT_EQ(model.sortedPlace(QStringLiteral("Bob")), 1);
    EXPECT_EQ(model.sortedPlace(QStringLiteral("ALICE2")), 1);
    EXPECT_EQ(model.sortedPlace(QStringLiteral("Aaron")), 0);
    EXPECT_EQ(model.sortedPlace(QStringLiteral("zed")), 4);

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.removeName(1);
    model.insertName(model.sortedPlace(QStringLiteral("Bobby")), "Bobby");
    EXPECT_EQ(shown(model), (std::vector<std::string>{"alice", "Bobby", "carol", "J\xc3\xb6rg"}));
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 1);

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.setNames({});
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(reset.size(), 1);
}

}  // namespace
}  // namespace kestrix
