#include "app/infopopups.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/display.h"
#include "common/globals.h"
#include "common/rect.h"
#include "dialogs/dialogbox.h"
#include "input/input.h"

extern char **environ;

// Shown where a figure has no source: no "/boot" line, no output from du, a failed query.
static const char kUnknown[] = "?";

static bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

int SplitBySpace(const char *text, ReportWord *words, int most) {
    int count = 0;
    const char *at = text;
    while (count < most && *at != '\0') {
        size_t length = 0;
        for (; *at != '\0' && !IsSeparator(*at); at++)
            if (length < kWordSize - 1)
                words[count][length++] = *at;
        words[count][length] = '\0';
        count++;
        while (IsSeparator(*at))
            at++;
    }
    return count;
}

// The size and time of the entry; a dangling link shows the link's own.
static void ComposeFileInfo(char *text, size_t size, const char *path) {
    struct stat status;
    if (stat(path, &status) != 0 && lstat(path, &status) != 0) {
        snprintf(text, size, "%s\n %s bytes\n %s", path, kUnknown, kUnknown);
        return;
    }
    struct tm when;
    if (gmtime_r(&status.st_mtime, &when) == nullptr) {
        snprintf(text, size, "%s\n %" PRId64 " bytes\n %s", path,
                 static_cast<int64_t>(status.st_size), kUnknown);
        return;
    }
    snprintf(text, size, "%s\n %" PRId64 " bytes\n %d-%02d-%02d %02d:%02d", path,
             static_cast<int64_t>(status.st_size), when.tm_year + 1900, when.tm_mon + 1,
             when.tm_mday, when.tm_hour, when.tm_min);
}

int PopupFileInfo(int width, int height, const char *path) {
    CentredPopup popup;
    if (!OpenCentredPopup(width, height, "File Info", popup))
        return 0;
    if (!popup.saved)
        return 1;
    char text[kFileInfoTextSize];
    ComposeFileInfo(text, sizeof text, path);
    // The file's text may run one line lower than a message's.
    SDL_Rect area = popup.layout.text_area;
    area.h = static_cast<Uint16>(height - option.font_height - 20);
    DrawText(area, text);
    CloseWithOk(popup, popup.layout.ok_x, popup.layout.button_y);
    return 1;
}

static void MarkUnknown(ReportWord *words) {
    for (int i = 0; i < kDiskWords; i++)
        CopyString(words[i], kWordSize, kUnknown);
}

// Splits the last line of the disk-free report that names "/boot".
static void ReadBootLine(ReportWord *words) {
    FILE *report = popen("df -h", "r");
    if (report == nullptr)
        return;
    char line[kDiskLineSize];
    while (fgets(line, sizeof line, report) != nullptr)
        if (strstr(line, "/boot") != nullptr)
            SplitBySpace(line, words, kDiskWords);
    pclose(report);
}

// Runs "du -h directory" without a shell, so nothing in the name is interpreted, and keeps its
// last line: the total of the directory itself.
static void ReadLastDuLine(const char *directory, char *last, size_t size) {
    last[0] = '\0';
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);
    char program[] = "du";
    char human[] = "-h";
    char *arguments[] = {program, human, const_cast<char *>(directory), nullptr};
    pid_t child = 0;
    int spawned = posix_spawnp(&child, program, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    FilePtr output(fdopen(pipe_ends[0], "r"));
    if (!output) {
        close(pipe_ends[0]);
    } else {
        char line[kDiskLineSize];
        while (fgets(line, sizeof line, output.get()) != nullptr)
            CopyString(last, size, line);
        output.reset();
    }
    if (spawned == 0)
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
}

int PopupDiskInfo(int width, int height, const char *directory) {
    CentredPopup popup;
    if (!OpenCentredPopup(width, height, "Disk Info", popup))
        return 0;
    if (!popup.saved)
        return 1;
    int left = popup.layout.left;
    int top = popup.layout.top;
    int line_height = option.font_height;

    // du walks the whole tree and may take long: say so before it starts.
    static const char kReading[] = "Reading...";
    int reading_width = TextWidth(kReading);
    DrawText(Rect(left + (width - reading_width) / 2, top + height / 2, reading_width + 10,
                  line_height + 10),
             kReading);
    ShowChangedAreas();
    DrawDialogBox(-1, -1, width, height, "Disk Info");

    ReportWord words[kDiskWords];
    char line[kDiskLineSize];
    MarkUnknown(words);
    ReadBootLine(words);
    snprintf(line, sizeof line, "Size: %s  Used: %s  Avail: %s\n  %s used", words[1], words[2],
             words[3], words[4]);
    int area_height = (height - 20 - line_height) / 2;
    SDL_Rect first = popup.layout.text_area;
    first.h = static_cast<Uint16>(area_height);
    DrawText(first, line);

    char last[kDiskLineSize];
    ReadLastDuLine(directory, last, sizeof last);
    MarkUnknown(words);
    SplitBySpace(last, words, kDiskWords);
    snprintf(line, sizeof line, "%s\n  total %s", words[1], words[0]);
    SDL_Rect second = first;
    second.y = static_cast<Sint16>(first.y + area_height);
    DrawText(second, line);

    // This Ok button is centred on the whole box, not on its panel.
    CloseWithOk(popup, left + (width - TextWidth(kOkLabel)) / 2, popup.layout.button_y);
    return 1;
}
