// The three readings of a UTF-8 lead byte, side by side: the fold's, the font library's and the
// strict one. They differ on purpose; each caller needs the one that matches what it guards.
#pragma once

// Bytes of the character that begins with first, as the folded text reads it: 0 for a
// continuation byte, -1 for a byte that begins nothing.
int CharLength(unsigned char first);

// Bytes of the character that begins with lead, as the font library decodes UTF-8: it takes the
// bytes after a lead byte without looking at them.
int DecodedLength(unsigned char lead);

// Bytes of the well-formed character that begins at text, or 0 when no character begins there:
// a stray continuation byte, a lead without its continuations, an overlong form, a surrogate or a
// code point past U+10FFFF.
int WellFormedLength(const unsigned char *text);

// Whether byte continues a character rather than beginning one.
inline bool IsContinuationByte(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}
