// zorvel: a two-pane file manager for a pocket console.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/browser.h"
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
