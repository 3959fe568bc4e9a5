#include "common/utf8.h"

int CharLength(unsigned char first) {
    if (first < 0x80)
        return 1;
    if (first < 0xC0)
        return 0;
    if (first < 0xE0)
        return 2;
    if (first < 0xF0)
        return 3;
    if (first < 0xF8)
        return 4;
    return -1;
}

int DecodedLength(unsigned char lead) {
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

int WellFormedLength(const unsigned char *text) {
    unsigned char first = text[0];
    if (first < 0x80)
        return 1;
    int length = first >= 0xC2 && first <= 0xDF   ? 2
                 : first >= 0xE0 && first <= 0xEF ? 3
                 : first >= 0xF0 && first <= 0xF4 ? 4
                                                  : 0;
    // The second byte's range depends on the first; the later ones are any continuation.
    unsigned char low = first == 0xE0 ? 0xA0 : first == 0xF0 ? 0x90 : 0x80;
    unsigned char high = first == 0xED ? 0x9F : first == 0xF4 ? 0x8F : 0xBF;
    for (int i = 1; i < length; i++) {
        unsigned char next = text[i];
        if (i == 1 ? next < low || next > high : next < 0x80 || next > 0xBF)
            return 0;
    }
    return length;
}
