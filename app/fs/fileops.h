// Move, recursive delete, the flush after them, and what every file operation asks of one path.
#pragma once

#include <cstddef>
#include <sys/types.h>

// Renames the entry name of source_dir into dest_dir; 1 on success, 0 after a shown failure.
int MoveDirEntry(const char *dest_dir, const char *source_dir, const char *name);
// Removes the entry name of dir with everything under it, links as links, never entering another
// file system mounted inside it; 1 when it is gone, 0 after a failure that it has shown.
int DeleteDirEntry(const char *dir, const char *name);
// Puts what was written to the file system of dir onto its storage (syncfs, or sync on kernels
// without it) before the caller shows the result; 1 when stored, 0 after showing "write DIR
// failed".
int FlushFileSystem(const char *dir);
// Writes the whole file system that holds descriptor to its storage (syncfs); false when the
// storage refused it, or with errno ENOSYS on a kernel without syncfs.
bool SyncFileSystem(int descriptor);
// Flushes the file system of dir as FlushFileSystem does when copy, move or delete changed
// anything since the last flush; does nothing otherwise. A failure of the flush is shown only
// when the command itself succeeded (result 1): one popup a command. Returns the flush's result.
int FlushChanges(const char *dir, int result);
// Marks that something was created, renamed or removed, so that the next flush writes it out.
void MarkChanged();
// Something stands at path when the query finds it, a dangling link included (written through,
// it would create a file outside the chosen directory), or finds it with a date the C library
// cannot hold. Any other failure (no search permission, a file where a directory should be) is
// left to the creation that follows, which reports it in its own words.
bool Occupied(const char *path);
// Puts the last component of path into output of size bytes and returns output; ends the process
// when the component does not fit.
char *BaseName(char *output, const char *path, size_t size);
// Whether the file system that holds path is FAT.
bool OnFat(const char *path);
// Whether name, made in dir, would stand there as another name: FAT drops a trailing dot or space
// from a name without a word.
bool NameChangedByFat(const char *dir, const char *name);
// The process's file-creation mask, which the kernel takes from the bits of every new entry.
mode_t CreationMask();
