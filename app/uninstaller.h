// Program control: the entry, the choice of role and the uninstall sequence.
#pragma once

#include "platform/win_types.h"

// This module's instance handle; the dialogs are loaded from it.
extern HINSTANCE g_hInstance;
// Set once the user has confirmed, before the first removal step.
extern int g_removalConfirmed;
// Set when the removal finished: the install directory could be listed and
// no product file is left. Only then do the uninstall entry and the
// uninstaller itself go.
extern int g_removalFinished;

// Asks for confirmation, runs the three removal steps and shows the
// completion dialog. Returns 1 when the user confirmed and the removal ran,
// 0 otherwise.
int RunUninstall(HINSTANCE instance);
