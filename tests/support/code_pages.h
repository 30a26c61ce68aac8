// The lead bytes of two ANSI code pages, for tests of the double-byte rules
// without a machine in that code page.
#pragma once

#include "platform/win_types.h"

namespace codepage {

// Shift-JIS (code page 932): 0x81-0x9F and 0xE0-0xFC, the widest lead-byte
// ranges of the double-byte code pages. "\" (0x5C) is among its trail
// bytes; a quote (0x22) is none, but a lead byte still takes it along.
inline BOOL WINAPI ShiftJisLeadByte(BYTE b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// A single-byte code page such as 1252: no lead bytes.
inline BOOL WINAPI NoLeadBytes(BYTE)
{
    return FALSE;
}

}  // namespace codepage
