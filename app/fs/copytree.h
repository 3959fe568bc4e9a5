// The recursive copy of one directory entry.
#pragma once

// Copies the entry name of source_dir, with everything under it, into dest_dir; never into
// itself, never through a directory twice; 1 on success, 0 after a failure that it has shown.
int CopyDirEntry(const char *dest_dir, const char *source_dir, const char *name);
