// zorvel: a two-pane file manager for a pocket console.
//
// Start here. main reads the options; Init (app/session.cpp) opens the display and the fonts;
// MainLoop (app/browser.cpp) runs RunFrame until the user quits; End flushes and closes. A frame
// samples the buttons (GetInput, input/), then runs the table kFrameSteps of app/frame_steps.h in
// order (the cursor and the panes, app/panes.cpp, then the commands of A, B, Y, X, L and R, with
// or without SELECT, app/commands.cpp and app/naming.cpp), then draws. The tests drive this same
// loop: they replace the key table, the pause, the flip, text rendering and opendir with the
// linker's --wrap (tests/harness.cpp).
// ARCHITECTURE.md has the rest.

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/browser.h"
#include "app/session.h"
#include "common/globals.h"

static void Usage() {
    fputs("Usage: zorvel [option]\n", stderr);
    fputs(" -s #         : font size\n", stderr);
    fputs(" -f fontfile  : font file\n", stderr);
}

int main(int argc, char *argv[]) {
    int letter;
    while ((letter = getopt(argc, argv, "s:f:")) != -1) {
        switch (letter) {
        case 'f':
            printf("font file: %s\n", optarg);
            CopyString(option.font_file, sizeof option.font_file, optarg);
            break;
        case 's': {
            int size = atoi(optarg);
            if (size >= 8 && size <= 14) {
                printf("font size: %d\n", size);
                option.font_size = size;
            }
            break;
        }
        default:
            Usage();
            return 1;
        }
    }
    if (!Init()) {
        puts("error: init failed");
        return 1;
    }
    MainLoop();
    End();
    return 0;
}
