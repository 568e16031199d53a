#include "server/accounts/GroupStore.h"

#include <gtest/gtest.h>

#include "AccountsTestDir.h"

namespace orvex {
namespace {

using testing::ScratchDir;

class GroupStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.Write("etc/group", "# GroupAbbr;GroupDesc;GroupID;Logins\n#\nstaff;Staff;200;2\n");
        store.Configure(dir.Internal("etc/group"));
    }
    ScratchDir dir;
    GroupStore store;
};

TEST_F(GroupStoreTest, IdRules) {
    EXPECT_EQ(store.GroupIdOf("staff"), -1);  // no table before the first load
    ASSERT_TRUE(store.LoadGroups());
    EXPECT_EQ(store.GroupIdOf("STAFF"), 200);
    EXPECT_EQ(store.GroupIdOf("nogroup"), 100);
    ASSERT_EQ(store.AddGroup("ops", "Operators"), 1);
    EXPECT_EQ(store.GroupIdOf("ops"), 201);
    EXPECT_EQ(store.AddGroup("Ops", "again"), 2);
    EXPECT_EQ(store.AddGroup("", "empty"), 0);
    EXPECT_EQ(store.AddGroup("bad", "a;b"), 0);

    dir.Write("etc/group", "low;Low;5;0\n");
    ASSERT_EQ(store.AddGroup("next", "x"), 1);
    EXPECT_EQ(store.GroupIdOf("next"), 101);  // never below 101
    EXPECT_EQ(dir.Read("etc/group"), "low;Low;5;0\nnext;x;101;0\n");
}

TEST_F(GroupStoreTest, ChangesRewriteTheWholeFile) {
    ASSERT_TRUE(store.LoadGroups());
    ASSERT_EQ(store.AddGroup("ops", "Operators"), 1);
    std::string stored;
    auto ops = store.FindGroup("OPS", &stored);
    ASSERT_TRUE(ops);
    EXPECT_EQ(stored, "ops");
    ops->logins = 4;
    ops->description = "Site operators";
    ASSERT_TRUE(store.ReplaceGroup("ops", *ops));
    EXPECT_EQ(store.RenameGroup("ops", "Staff"), 2);
    ASSERT_EQ(store.RenameGroup("ops", "operatorsandmorethan16"), 1);
    std::string name;
    ASSERT_TRUE(store.GroupNameOf(201, name));
    EXPECT_EQ(name, "operatorsandmore");
    ASSERT_TRUE(store.DeleteGroup("staff"));
    EXPECT_EQ(dir.Read("etc/group"),
              "# GroupAbbr;GroupDesc;GroupID;Logins\n#\noperatorsandmore;Site operators;201;4\n");
    auto list = store.ListGroups();
    EXPECT_EQ(list.ListName(), "group info list header");
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.begin()->id, 201);
}

TEST_F(GroupStoreTest, HandEditChangesLoginLimitsAtTheNextLoad) {
    ASSERT_TRUE(store.LoadGroups());
    EXPECT_EQ(store.FindGroup("staff")->logins, 2u);
    dir.Write("etc/group", "staff;Staff;200;5\n");  // same second, other size
    ASSERT_TRUE(store.LoadGroups());
    EXPECT_EQ(store.FindGroup("staff")->logins, 5u);
}

TEST_F(GroupStoreTest, UpdateAndReservedIds) {
    ASSERT_TRUE(store.LoadGroups());
    EXPECT_EQ(store.UpdateGroup("STAFF",
                                [](GroupRecord& g) {
                                    g.logins = 7;
                                    g.description = "New staff";
                                    g.name = "renamed";  // the name stays
                                    return true;
                                }),
              RecordUpdate::Saved);
    EXPECT_EQ(dir.Read("etc/group"),
              "# GroupAbbr;GroupDesc;GroupID;Logins\n#\nstaff;New staff;200;7\n");
    EXPECT_EQ(store.UpdateGroup("nogroup", [](GroupRecord&) { return true; }),
              RecordUpdate::Unknown);
    EXPECT_EQ(store.UpdateGroup("staff",
                                [](GroupRecord& g) {
                                    g.description = "a#b";
                                    return true;
                                }),
              RecordUpdate::Unchanged);
    EXPECT_EQ(store.FindGroup("staff")->description, "New staff");

    // Accounts still carry 201 after its group was deleted.
    store.SetReservedIds([] { return std::vector<int32_t>{201, 100}; });
    ASSERT_EQ(store.AddGroup("next", "x"), 1);
    EXPECT_EQ(store.GroupIdOf("next"), 202);
}

}  // namespace
}  // namespace orvex
