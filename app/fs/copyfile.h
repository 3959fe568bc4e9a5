// The copy of one regular file, and the copies that wait, complete, for their names.
#pragma once

// Copies one regular file to a new dest_path, with the source's permission bits, while drawing
// its progress; it is written under an unfinished name beside dest_path, which it takes only once
// its data is on the storage, and keeps after a failure. 1 on success, 0 after a shown failure.
int CopyFile(const char *dest_path, const char *source_path);
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
