#include "app/commands.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "app/infopopups.h"
#include "app/session.h"
#include "common/format.h"
#include "common/globals.h"
#include "dialogs/dialogbox.h"
#include "app/fs/copytree.h"
#include "app/fs/fileops.h"

// The sizes of the question popup and of the two information popups.
static const int kQuestionWidth = 150;
static const int kQuestionHeight = 100;
static const int kFileInfoWidth = 200;
static const int kFileInfoHeight = 130;
static const int kDiskInfoWidth = 230;
static const int kDiskInfoHeight = 120;

static Pane &OtherPane(Browser &browser) {
    return browser.pane[1 - browser.active];
}

// The path as one shell word in quoted, of quoted_size bytes: inside single quotes, each quote
// written as '\''. False when it does not fit.
static bool ShellQuoted(char *quoted, size_t quoted_size, const char *path) {
    size_t length = 0;
    auto append = [&](const char *text) {
        for (; *text != '\0'; text++) {
            if (length + 1 >= quoted_size)
                return false;
            quoted[length++] = *text;
        }
        return true;
    };
    bool fits = append("'");
    for (const char *at = path; fits && *at != '\0'; at++) {
        const char single[2] = {*at, '\0'};
        fits = append(*at == '\'' ? "'\\''" : single);
    }
    fits = fits && append("'");
    quoted[length] = '\0';
    return fits;
}

void ExecuteCommand(Browser &browser) {
    const char *name = CursorEntry(browser);
    snprintf(browser.scratch, sizeof browser.scratch, "execute \"%s\"  Ok?", name);
    if (!PopupConfirm(kQuestionWidth, kQuestionHeight, browser.scratch))
        return;
    // A path cut short could name another file: join it in full.
    char full_path[kJoinedPathSize];
    const Pane &pane = ActivePane(browser);
    JoinPath(full_path, sizeof full_path, pane.path, name);
    printf("execute: %s\n", full_path);
    if (chdir(pane.path) != 0) {
        // The shell is handed the full path, so it runs from wherever the process stands.
    }
    End();
    fflush(stdout);
    char command[kShellWordSize];
    if (ShellQuoted(command, sizeof command, full_path))
        execlp("/bin/sh", "/bin/sh", "-c", command, static_cast<char *>(nullptr));
    if (chdir(option.start_dir) == 0)
        execlp("./zorvel.dge", "./zorvel.dge", static_cast<char *>(nullptr));
    FatalExit("error: cannot start /bin/sh nor restart ./zorvel.dge\n");
}

void DeleteCommand(Browser &browser) {
    const char *name = CursorEntry(browser);
    if (IsParentLike(name))
        return;
    snprintf(browser.scratch, sizeof browser.scratch, "delete \"%s\"  Ok?", name);
    if (!PopupConfirm(kQuestionWidth, kQuestionHeight, browser.scratch))
        return;
    int deleted = DeleteDirEntry(ActivePane(browser).path, name);
    printf("delete: %s\n", name);
    FlushChanges(ActivePane(browser).path, deleted);
    RelistPane(browser, browser.active);
}

// Copy and move need a name of their own and two different directories.
static bool CanTransfer(Browser &browser, const char *name) {
    return !IsParentLike(name) && strcmp(ActivePane(browser).path, OtherPane(browser).path) != 0;
}

void CopyCommand(Browser &browser) {
    const char *name = CursorEntry(browser);
    if (!CanTransfer(browser, name))
        return;
    printf("copy: %s from %s to %s\n", name, ActivePane(browser).path, OtherPane(browser).path);
    int copied = CopyDirEntry(OtherPane(browser).path, ActivePane(browser).path, name);
    FlushChanges(OtherPane(browser).path, copied);
    RelistPane(browser, 1 - browser.active);
}

void MoveCommand(Browser &browser) {
    const char *name = CursorEntry(browser);
    if (!CanTransfer(browser, name))
        return;
    printf("move: %s from %s to %s\n", name, ActivePane(browser).path, OtherPane(browser).path);
    int moved = MoveDirEntry(OtherPane(browser).path, ActivePane(browser).path, name);
    FlushChanges(OtherPane(browser).path, moved);
    RelistPane(browser, 1 - browser.active);
    RelistPane(browser, browser.active);
}

void FileInfoCommand(Browser &browser) {
    char full_path[kJoinedPathSize];
    JoinPath(full_path, sizeof full_path, ActivePane(browser).path, CursorEntry(browser));
    PopupFileInfo(kFileInfoWidth, kFileInfoHeight, full_path);
}

void DiskInfoCommand(Browser &browser) {
    PopupDiskInfo(kDiskInfoWidth, kDiskInfoHeight, ActivePane(browser).path);
}
