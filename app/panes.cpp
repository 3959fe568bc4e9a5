#include "app/panes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "common/globals.h"
#include "app/fs/listing.h"

// Reads where the process stands into the pane's path; false, leaving the path as it was, when
// the process stands in a directory that has been removed.
static bool ReadWorkingDir(Pane &pane) {
    // A failed read may leave text in its buffer: the pane's path stays untouched until it works.
    char cwd[kPathSize];
    if (getcwd(cwd, sizeof cwd) != nullptr) {
        CopyString(pane.path, sizeof pane.path, cwd);
        return true;
    }
    if (errno == ERANGE)
        FatalExit("error: pathname too long\n");
    return false;
}

// Whether the directory at path is gone: a component of it missing or not a directory.
static bool Vanished(const char *path) {
    struct stat status;
    if (stat(path, &status) != 0)
        return errno == ENOENT || errno == ENOTDIR;
    return !S_ISDIR(status.st_mode);
}

// A pane whose directory was removed or moved away (by the other pane, say) shows its nearest
// existing ancestor instead. Any other trouble with the directory is left to the listing.
static void KeepToExistingDir(Pane &pane) {
    if (!Vanished(pane.path))
        return;
    do {
        char *slash = strrchr(pane.path, '/');
        if (slash == nullptr || slash == pane.path)
            CopyString(pane.path, sizeof pane.path, "/");
        else
            *slash = '\0';
    } while (strcmp(pane.path, "/") != 0 && Vanished(pane.path));
    printf("chdir: %s\n", pane.path);
}

static void ListPane(Pane &pane) {
    KeepToExistingDir(pane);
    pane.count = CountDir(pane.path);
    int stored = SeekDir(pane.path, pane.entries, kPaneEntries);
    if (stored < pane.count)
        pane.count = stored;
}

void OpenPanes(Browser &browser) {
    ReadWorkingDir(browser.pane[0]);
    printf("path: %s\n", browser.pane[0].path);
    CopyString(browser.pane[1].path, kPathSize, browser.pane[0].path);
    ListPane(browser.pane[0]);
    ListPane(browser.pane[1]);
}

void RelistPane(Browser &browser, int index) {
    Pane &pane = browser.pane[index];
    ListPane(pane);
    pane.top = 0;
    pane.cursor = 0;
    browser.redraw = true;
}

Pane &ActivePane(Browser &browser) {
    return browser.pane[browser.active];
}

bool IsParentLike(const char *name) {
    return strncmp(name, "..", 2) == 0;
}

const char *CursorEntry(const Browser &browser) {
    const Pane &pane = browser.pane[browser.active];
    return pane.entries[pane.top + pane.cursor];
}

void CursorDown(Browser &browser) {
    Pane &pane = browser.pane[browser.active];
    if (pane.cursor < option.last_row) {
        if (pane.cursor < pane.count - 1)
            pane.cursor++;
    } else {
        pane.cursor = option.last_row;
        if (pane.top + option.last_row + 1 < pane.count)
            pane.top++;
    }
    browser.redraw = true;
}

void CursorUp(Browser &browser) {
    Pane &pane = browser.pane[browser.active];
    if (pane.cursor > 0) {
        pane.cursor--;
    } else {
        pane.cursor = 0;
        if (pane.top > 0)
            pane.top--;
    }
    browser.redraw = true;
}

// Enters name relative to the active pane's directory; a directory that cannot be entered
// leaves the path as it was.
static void ChangeDir(Browser &browser, const char *name) {
    Pane &pane = browser.pane[browser.active];
    // The path is read back from where the process stands, so neither result is needed.
    if (chdir(pane.path) != 0) {
        // The second change is made all the same, relative to where the process stands.
    }
    if (chdir(name) != 0) {
        // A directory that cannot be entered leaves the process where it was.
    }
    if (ReadWorkingDir(pane))
        printf("chdir: %s\n", pane.path);
    RelistPane(browser, browser.active);
}

void ActivateRight(Browser &browser) {
    if (browser.active == 0) {
        browser.active = 1;
        browser.redraw = true;
    }
}

void ActivateLeft(Browser &browser) {
    if (browser.active == 1) {
        browser.active = 0;
        browser.redraw = true;
    }
}

// L and R redraw the panes in the frame in which their popups close.
void AskRedraw(Browser &browser) {
    browser.redraw = true;
}

// Only a directory entry, "../" included, holds a "/"; A on a file does nothing.
void EnterCursorDir(Browser &browser) {
    if (strchr(CursorEntry(browser), '/') != nullptr)
        ChangeDir(browser, CursorEntry(browser));
}

void GoUp(Browser &browser) {
    ChangeDir(browser, "..");
}
