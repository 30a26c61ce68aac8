// Which names the directory search gives back count as holding a separator.
#include <gtest/gtest.h>

#include "removal/folder_sweep.h"
#include "tests/support/code_pages.h"

namespace {

using codepage::NoLeadBytes;
using codepage::ShiftJisLeadByte;

TEST(FoundNameTest, SeparatorsCountOnlyOutsideDoubleByteCharacters)
{
    const struct {
        const char* name;
        BOOL(WINAPI* isLeadByte)(BYTE);
        int holds;
    } rows[] = {
        {"Quillmere.lnk", NoLeadBytes, 0},
        {"..\\..\\victim.txt", NoLeadBytes, 1},  // U+FF3C best-fits to "\"
        {"../../victim.txt", NoLeadBytes, 1},     // and U+FF0F to "/"
        {"C:victim.txt", NoLeadBytes, 1},        // and U+FF1A to ":"
        // In code page 932 the trail byte of U+8868 is 0x5C: "表示.lnk".
        {"\x95\x5C\x8E\xA6.lnk", ShiftJisLeadByte, 0},
        {"\x95\x5C\x8E\xA6.lnk", NoLeadBytes, 1},
        {"\x95\x5C\\x", ShiftJisLeadByte, 1},  // a separator right after one
        {"\x81\x5C", ShiftJisLeadByte, 0},      // the lowest lead byte
        {"x\x95", ShiftJisLeadByte, 0},          // a lead byte last takes no zero along
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HoldsPathSeparator(row.name, row.isLeadByte), row.holds) << row.name;
    }
}

}  // namespace
