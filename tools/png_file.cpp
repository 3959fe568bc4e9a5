#include "tools/png_file.h"

#include <png.h>
#include <vector>

bool WritePng(SDL_Surface *image, const char *path) {
    constexpr int kChannels = 3;
    std::vector<Uint8> rows(static_cast<size_t>(image->w) * image->h * kChannels);
    size_t at = 0;
    for (int y = 0; y < image->h; ++y) {
        const Uint8 *line =
            static_cast<const Uint8 *>(image->pixels) + static_cast<size_t>(y) * image->pitch;
        for (int x = 0; x < image->w; ++x) {
            Uint32 pixel = reinterpret_cast<const Uint32 *>(line)[x];
            SDL_GetRGB(pixel, image->format, &rows[at], &rows[at + 1], &rows[at + 2]);
            at += kChannels;
        }
    }
    png_image picture = {};
    picture.version = PNG_IMAGE_VERSION;
    picture.width = static_cast<png_uint_32>(image->w);
    picture.height = static_cast<png_uint_32>(image->h);
    picture.format = PNG_FORMAT_RGB;
    bool written =
        png_image_write_to_file(&picture, path, 0, rows.data(), image->w * kChannels, nullptr) != 0;
    png_image_free(&picture);
    return written;
}
