// Creating a directory and renaming an entry, with a name typed in the line-input dialog.
#include "app/naming.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "common/globals.h"
#include "dialogs/dialogbox.h"
#include "dialogs/lineinput.h"
#include "app/fs/fileops.h"

// The name dialog's box, and how many bytes at the end of the name its field shows.
static const int kNameDialogWidth = 210;
static const int kNameDialogHeight = 70;
static const int kNameShownBytes = 35;
static const mode_t kNewDirMode = 0755;

// Asks for a name that starts as initial into result, then stands in the active pane's directory
// so that the name is taken relative to it; false when that directory cannot be entered.
static bool AskName(Browser &browser, const char *title, const char *initial, char *result) {
    LineInput(kNameDialogWidth, kNameDialogHeight, kLineCapacity, kNameShownBytes, title, initial,
              result);
    return chdir(ActivePane(browser).path) == 0;
}

void MakeDirCommand(Browser &browser) {
    char *name = browser.scratch;
    bool in_dir = AskName(browser, "create dir", "", name);
    if (name[0] == '\0')
        return;
    // Outside the pane's directory the name would land wherever the process stands.
    if (!in_dir) {
        PopupError(kErrorWidth, kErrorHeight, "mkdir() failed");
        return;
    }
    // Any entry of that name is taken, a link to nothing or to itself included.
    if (Occupied(name)) {
        PopupError(kErrorWidth, kErrorHeight, "\"%s\" already exists", name);
        return;
    }
    if (NameChangedByFat(".", name) || mkdir(name, kNewDirMode) != 0) {
        PopupError(kErrorWidth, kErrorHeight, "mkdir() failed");
        return;
    }
    printf("mkdir: %s in %s\n", name, ActivePane(browser).path);
    FlushFileSystem(ActivePane(browser).path);
    RelistPane(browser, browser.active);
}

void RenameCommand(Browser &browser) {
    char *old_name = browser.scratch;
    char *new_name = browser.scratch2;
    CopyString(old_name, sizeof browser.scratch, CursorEntry(browser));
    if (IsParentLike(old_name))
        return;
    size_t length = strlen(old_name);
    if (length > 0 && old_name[length - 1] == '/')
        old_name[length - 1] = '\0';

    bool in_dir = AskName(browser, "rename", old_name, new_name);
    if (new_name[0] == '\0' || strcmp(new_name, old_name) == 0)
        return;
    if (!in_dir) {
        PopupError(kErrorWidth, kErrorHeight, "rename() failed");
        return;
    }
    // Renamed over, an entry of that name, a link included, would be gone without a word.
    if (Occupied(new_name)) {
        PopupError(kErrorWidth, kErrorHeight, "\"%s\" already exists", new_name);
        return;
    }
    // Written before the attempt, the line also stands for a rename that fails.
    printf("rename: %s to %s\n", old_name, new_name);
    if (NameChangedByFat(".", new_name) || rename(old_name, new_name) != 0) {
        PopupError(kErrorWidth, kErrorHeight, "rename() failed");
        return;
    }
    FlushFileSystem(ActivePane(browser).path);
    RelistPane(browser, browser.active);
}
