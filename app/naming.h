// The commands that ask for a name, typed in the line-input dialog.
#pragma once

#include "app/panes.h"

// Asks for a name and creates that directory in the active pane's directory.
void MakeDirCommand(Browser &browser);
// Asks for a new name for the entry and renames it.
void RenameCommand(Browser &browser);
