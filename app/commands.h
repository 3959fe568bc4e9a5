// The commands bound to the buttons; each acts on the entry under the active pane's cursor.
#pragma once

#include "app/panes.h"

// Asks, then replaces the program with the shell running the entry's full path.
void ExecuteCommand(Browser &browser);
// Asks, then deletes the entry with everything under it and relists the active pane.
void DeleteCommand(Browser &browser);
// Copies the entry into the other pane's directory and relists the other pane.
void CopyCommand(Browser &browser);
// Moves the entry into the other pane's directory and relists both panes.
void MoveCommand(Browser &browser);
// Shows the entry's path, size and modification time.
void FileInfoCommand(Browser &browser);
// Shows the disk's size, use and free space and the total size of the active directory.
void DiskInfoCommand(Browser &browser);
