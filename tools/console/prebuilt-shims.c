/* Links Debian's prebuilt mipsel static SDL_ttf and SDL_image, compiled against glibc, into the
 * console program on musl. They call a few glibc entry points that musl lacks (the checked
 * printf and longjmp of _FORTIFY_SOURCE, the C99 scanf name); here each is the plain call. The
 * console program reads PNG images only, so SDL_image's JPEG, TIFF and WebP decoders meet
 * stand-ins for their libraries that refuse every image. */
#include <setjmp.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

int __sprintf_chk(char *text, int flag, size_t size, const char *format, ...) {
    (void)flag;
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, size, format, arguments);
    va_end(arguments);
    if (length >= 0 && (size_t)length >= size)
        abort(); /* glibc's check: the text overran its buffer */
    return length;
}

int __fprintf_chk(FILE *stream, int flag, const char *format, ...) {
    (void)flag;
    va_list arguments;
    va_start(arguments, format);
    int length = vfprintf(stream, format, arguments);
    va_end(arguments);
    return length;
}

void __longjmp_chk(jmp_buf environment, int value) {
    longjmp(environment, value);
}

int __isoc99_sscanf(const char *text, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int count = vsscanf(text, format, arguments);
    va_end(arguments);
    return count;
}

/* The image libraries that are left out. SDL_image only calls them after IMG_isJPG, IMG_isTIF or
 * IMG_isWEBP said yes; the first call ends the program with a message instead of decoding. */
static void NotBuiltIn(const char *library) {
    fprintf(stderr, "error: %s is not built into the console program (PNG only)\n", library);
    exit(1);
}
#define REFUSE(name, library)                                                                      \
    void name(void);                                                                               \
    void name(void) {                                                                              \
        NotBuiltIn(library);                                                                       \
    }
REFUSE(jpeg_CreateDecompress, "libjpeg")
REFUSE(jpeg_calc_output_dimensions, "libjpeg")
REFUSE(jpeg_destroy_decompress, "libjpeg")
REFUSE(jpeg_finish_decompress, "libjpeg")
REFUSE(jpeg_read_header, "libjpeg")
REFUSE(jpeg_read_scanlines, "libjpeg")
REFUSE(jpeg_resync_to_restart, "libjpeg")
REFUSE(jpeg_start_decompress, "libjpeg")
REFUSE(jpeg_std_error, "libjpeg")
REFUSE(TIFFClientOpen, "libtiff")
REFUSE(TIFFClose, "libtiff")
REFUSE(TIFFGetField, "libtiff")
REFUSE(TIFFReadRGBAImage, "libtiff")
REFUSE(TIFFSetErrorHandler, "libtiff")
REFUSE(WebPDecodeRGBAInto, "libwebp")
REFUSE(WebPDecodeRGBInto, "libwebp")
REFUSE(WebPGetFeaturesInternal, "libwebp")
