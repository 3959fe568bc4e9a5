#include "app/commands.h"

// Creating and renaming arrive with the line-input dialog.
void MakeDirCommand(Browser &) {}
void RenameCommand(Browser &) {}
