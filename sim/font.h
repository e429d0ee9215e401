// The hand controller's bitmap font: 5 x 7 glyphs for printable ASCII.
//
// Owns: the glyph rows (bit 4 is the leftmost column) and the cell metrics.
// Does not own: drawing (firmware_ui), colours or scaling.
#pragma once

#include <cstdint>

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphCellWidth = 6;   // glyph plus one column of spacing
constexpr int kGlyphCellHeight = 9;  // glyph plus two rows of spacing
constexpr char kGlyphFirst = ' ';
constexpr char kGlyphLast = '~';

// The 7 rows of c's glyph; characters outside ' '..'~' get the glyph of '?'.
const uint8_t* GlyphRows(char c);
