#include "app/session.h"

#include <SDL_ttf.h>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "common/display.h"
#include "common/globals.h"

int Init() {
    // A log line that cannot be written (standard output a pipe nobody reads) is lost; it must
    // not end the program in the middle of a copy.
    signal(SIGPIPE, SIG_IGN);
    if (SDL_Init(SDL_INIT_VIDEO) < 0)
        return 0;
    gScreenSurface = SDL_SetVideoMode(kScreenWidth, kScreenHeight, kScreenDepth, 0);
    if (gScreenSurface == nullptr)
        return 0;
    // A new screen shows nothing that was drawn on the one before.
    MarkWholeScreen();
    SDL_ShowCursor(0);
    if (TTF_Init() != 0)
        return 0;
    FilePtr font_check(fopen(option.font_file, "r"));
    if (!font_check)
        return 0;
    font_check.reset();
    font = TTF_OpenFont(option.font_file, option.font_size);
    font_small =
        TTF_OpenFont(option.font_file, option.font_size - 2 < 4 ? 4 : option.font_size - 2);
    if (font == nullptr || font_small == nullptr)
        return 0;
    option.font_height = TTF_FontHeight(font);
    printf("font height = %d\n", option.font_height);
    // The rows below the titles that fit above the help bar.
    option.last_row = kHelpBarY / (option.font_height + 1) - 2;
    if (getcwd(option.start_dir, sizeof option.start_dir) == nullptr) {
        puts("dirname of zorvel too long");
        return 0;
    }
    return 1;
}

void End() {
    sync();
    puts("sync disc");
    CloseDisplay();
}

void CloseDisplay() {
    if (font != nullptr)
        TTF_CloseFont(font);
    if (font_small != nullptr)
        TTF_CloseFont(font_small);
    font = nullptr;
    font_small = nullptr;
    if (gScreenSurface != nullptr)
        SDL_FreeSurface(gScreenSurface);
    gScreenSurface = nullptr;
    SDL_Quit();
}
