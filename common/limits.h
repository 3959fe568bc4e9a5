// Every capacity of the program, in one place.
#pragma once

#include <cstddef>

// The console's display.
constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;
constexpr int kScreenDepth = 16;

// Separate areas of the screen noted as changed between two showings; more are joined into one.
constexpr int kChangedAreas = 32;

// The option record's fixed strings.
constexpr size_t kStartDirSize = 200;
constexpr size_t kFontFileSize = 200;

// Directory paths, and every path composed from a directory and a name.
constexpr size_t kPathSize = 2048;
// One slot of an entry table: a name and its terminator.
constexpr size_t kNameSize = 256;
// Slots in a pane's entry table.
constexpr int kPaneEntries = 500;
// A group (directories, or everything else) may hold one name less than this.
constexpr int kGroupLimit = 250;
static_assert(2 * (kGroupLimit - 1) <= kPaneEntries, "a pane holds both full groups");

// The browser's composed texts, terminator included.
constexpr size_t kScratchSize = 527;

// Buttons read from the key-state table.
constexpr int kButtonCount = 12;

// The file copy's block, and the cells of its progress bar.
constexpr size_t kCopyBlockSize = 1024 * 1024;
// What the copy reads and writes at a time where the kernel does not copy by itself.
constexpr size_t kCopyChunkSize = 128 * 1024;
static_assert(kCopyBlockSize % kCopyChunkSize == 0, "a block is whole chunks");
constexpr int kProgressCells = 20;
// Complete copies that wait, open, for one flush before they take their names: one flush of the
// file system costs as much for one small file as for hundreds. A batch is also flushed once it
// holds this many bytes, so that a cut leaves no more than that unnamed.
constexpr int kWaitingCopies = 1024;
// The final names of the waiting copies, one after another: room for the longest path at least.
constexpr size_t kWaitingPathBytes = 128 * 1024;
static_assert(kWaitingPathBytes >= kPathSize, "one waiting name of any length fits");
constexpr long long kWaitingCopyBytes = 32LL * 1024 * 1024;

// Folded text: rows of a line table and bytes of a row, terminator included.
constexpr int kFoldRows = 60;
constexpr size_t kFoldRowSize = 80;

// The information popups.
constexpr size_t kFileInfoTextSize = 256;
constexpr size_t kDiskLineSize = 262;
constexpr int kDiskWords = 6;
constexpr size_t kWordSize = 50;

// The on-screen keyboard: pages, cells, characters per cell, images.
constexpr int kKeyboardPages = 4;
constexpr int kKeyboardCells = 3;
constexpr int kCellSlots = 5;
constexpr int kKeyboardImages = 18;
constexpr size_t kImagePathSize = 128;

// The line-input dialog's edit storage for the naming commands.
constexpr int kLineCapacity = 256;
static_assert(kLineCapacity + 1 <= static_cast<int>(kScratchSize), "a typed name fits a scratch");

// A pane's directory joined with one of its names: always fits, so a path is never cut.
constexpr size_t kJoinedPathSize = kPathSize + kNameSize;

// A joined path as one quoted shell word: every byte a quote written as four, two quotes around.
constexpr size_t kShellWordSize = 4 * kJoinedPathSize + 3;

// A message of the file operations, or a copied file's shown name, terminator included.
constexpr size_t kMessageSize = 2048;

// The keyboard's image directory: the start directory followed by "/graphics/".
constexpr size_t kImageDirSize = kStartDirSize + 16;

// The most bytes a UTF-8 lead byte announces after itself. The font library reads that far past
// a text that ends inside a character, so a buffer it reads keeps that many bytes to spare.
constexpr size_t kLeadByteReach = 3;
