// What the file operations' own units share: joined paths, the parent entry and the change mark.
#pragma once

#include <cstddef>
#include <sys/types.h>

// Composes dir, a slash and name into path; false, when they and the terminator do not fit.
// Directory names keep their trailing "/", so deeper paths hold doubled slashes; they are used
// as they are.
bool JoinPath(char *path, size_t size, const char *dir, const char *name);
// True for the parent entry "../" of a listing.
bool IsParentEntry(const char *name);
// Marks that something was created, renamed or removed, so that the next flush writes it out.
void MarkChanged();
// Copies as CopyFile does, but leaves the complete copy waiting, open under its unfinished name,
// for FinishCopies; 1 on success, 0 after a failure that it has shown.
int CopyFileLater(const char *dest_path, const char *source_path);
// Flushes the waiting copies to the storage and gives each its final name; one that could not be
// stored keeps its unfinished name. 1 when all were named, 0 after showing the first failure.
int FinishCopies();
// Finishes the waiting copies, then shows the formatted "Error" popup unless finishing showed one
// already; returns 0. Every failure of a copy is shown through it, so that what a copy completed
// has its name before any result shows.
int FailCopy(int width, int height, const char *format, ...) __attribute__((format(printf, 3, 4)));
// The process's file-creation mask, which the kernel takes from the bits of every new entry.
mode_t CreationMask();
