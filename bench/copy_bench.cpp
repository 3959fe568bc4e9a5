// Copies one directory entry with the file manager's own copy, dialog and all, on the dummy
// display: copy_bench DEST_DIR SOURCE_DIR NAME [FONT_FILE]. Exits 0 when the copy succeeded and
// writes the seconds that the copy itself took, without the start-up, to standard error.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/browser.h"
#include "app/fileops.h"
#include "app/globals.h"

static const char kDefaultFont[] = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf";

int main(int argc, char *argv[]) {
    if (argc != 4 && argc != 5) {
        fputs("usage: copy_bench DEST_DIR SOURCE_DIR NAME [FONT_FILE]\n", stderr);
        return 2;
    }
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    CopyString(option.font_file, sizeof option.font_file, argc == 5 ? argv[4] : kDefaultFont);
    if (!Init()) {
        puts("error: init failed");
        return 1;
    }
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int result = CopyDirEntry(argv[1], argv[2], argv[3]);
    clock_gettime(CLOCK_MONOTONIC, &end);
    fprintf(stderr, "%.4f\n", (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9);
    // No End(): its sync would be timed too, and cp does none.
    return result == 1 ? 0 : 1;
}
