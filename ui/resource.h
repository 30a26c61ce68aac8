#pragma once

#define IDD_CONFIRM_REMOVE 129
#define IDD_REMOVE_COMPLETED 130
// Shown instead of the completion dialog when the removal could not finish:
// its notice and one "OK" button.
#define IDD_REMOVE_UNFINISHED 131
#define IDI_PRODUCT 134
#define IDC_CONFIRM_TEXT 1000
