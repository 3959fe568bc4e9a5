#include "app/commands.h"

// The commands arrive with the dialogs, file operations and the keyboard; until then their
// buttons do nothing.
void ExecuteCommand(Browser &) {}
void DeleteCommand(Browser &) {}
void CopyCommand(Browser &) {}
void MoveCommand(Browser &) {}
void FileInfoCommand(Browser &) {}
void DiskInfoCommand(Browser &) {}
void MakeDirCommand(Browser &) {}
void RenameCommand(Browser &) {}
