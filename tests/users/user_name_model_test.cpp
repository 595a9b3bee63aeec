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

// The filter counts rows among the users it lets through; a user it hides
// can still be removed by name, and the rows shown stay as they were.
TEST(UserNameModelTest, FilterFoldsCaseAndRowsCountTheUsersShown) {
    UserNameModel model;
    model.setNames({"alice", "BOB", "J\xc3\xb6rg", "Malice", "zed"});
    model.setFilter(QStringLiteral("LI"));
    EXPECT_EQ(shown(model), (std::vector<std::string>{"alice", "Malice"}));
    EXPECT_EQ(model.totalCount(), 5);
    model.setFilter(QStringLiteral("J\u00d6"));
    EXPECT_EQ(shown(model), (std::vector<std::string>{"J\xc3\xb6rg"}));

    model.setFilter(QStringLiteral("e"));
    EXPECT_EQ(shown(model), (std::vector<std::string>{"alice", "Malice", "zed"}));
    EXPECT_TRUE(model.removeUnshown("BOB"));
    EXPECT_FALSE(model.removeUnshown("alice"));  // shown: removed by its row only
    EXPECT_EQ(model.findExactly("zed"), 2);
    model.setFilter({});
    EXPECT_EQ(shown(model), (std::vector<std::string>{"alice", "J\xc3\xb6rg", "Malice", "zed"}));
}

}  // namespace
}  // namespace kestrix
