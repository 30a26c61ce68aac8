// Contract cases: the program's own steps when a call fails. The same
// failure-injection layer stands before the model and before the real calls
// (fixture.h, FailCall), so what the step leaves behind must be the same on
// both: the unit tests' verdicts on failed calls hold on a real machine.
#include <algorithm>
#include <string>
#include <vector>

#include "removal/removal.h"
#include "tests/contract/fixture.h"

namespace contract {
namespace {

typedef std::vector<std::string> Names;

class ContractFailedCalls : public Case {
protected:
    static int EmptyAndRemove(const std::string& relative)
    {
        return EmptyAndRemoveFolder(At(relative).c_str());
    }
};

// Emptying the Start-menu group: a group it cannot list stays whole, itself
// included; a file it cannot delete stays, and with it the group, while the
// other files go.
TEST_F(ContractFailedCalls, GroupSweepLeavesWhatAFailedCallKeeps)
{
    const Names files = {"Help.lnk", "Quillmere.lnk", "Readme.lnk"};
    for (const std::string& file : files) {
        SeedFile("Group\\" + file);
    }
    Names all = {".", ".."};
    all.insert(all.end(), files.begin(), files.end());

    FailCall("FindFirstFileA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(EmptyAndRemove("Group"), 0);
    EXPECT_EQ(SortedList(At("Group\\*")), all) << "nothing deleted";

    FailCall("GetFileAttributesA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(EmptyAndRemove("Group"), 0);
    EXPECT_EQ(SortedList(At("Group\\*")), all) << "perhaps a link: not listed";

    // The first file the search gives is the first one deleted; NTFS and
    // Wine list in orders of their own.
    Names listed = List(At("Group\\*"));
    listed.erase(std::remove_if(listed.begin(), listed.end(),
                                [](const std::string& n) { return n == "." || n == ".."; }),
                 listed.end());
    ASSERT_EQ(listed.size(), files.size());
    FailCall("DeleteFileA", ERROR_SHARING_VIOLATION);
    EXPECT_EQ(EmptyAndRemove("Group"), 0);
    EXPECT_EQ(SortedList(At("Group\\*")), (Names{".", "..", listed.front()}));

    EXPECT_NE(EmptyAndRemove("Group"), 0) << "nothing fails any more";
    EXPECT_EQ(Exists("Group"), NOTHING);
}

}  // namespace
}  // namespace contract
