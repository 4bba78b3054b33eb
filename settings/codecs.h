#ifndef SETTINGS_CODECS_H
#define SETTINGS_CODECS_H

// The conversions between the words the unit holds and the values a person reads and types:
// volts and tenths, colour words, angle bits, and the registration's bytes, words, split and
// join. Each is written here once; the form, the settings file, the rules and efis-cli all
// convert through these, so that a value typed in one place is stored as the same word as in
// the others. No widgets, no Qt.

#include <array>
#include <cstdint>
#include <string>

#include "settings_types.h"

namespace codecs {

// ---- volts ------------------------------------------------------------------------------------

// The largest word a voltage field holds: the record keeps tenths of a volt in 16 bits.
inline constexpr uint32_t MAX_TENTHS = 0xFFFFu;

// Volts to the nearest tenth, the record's own unit. The spin boxes hold one decimal whose
// double is not always exactly tenths × 0.1 (11.8 × 10 is 117.999…): rounding, not truncation,
// keeps the typed tenth. Bounded to the field (below 0 gives 0, above 6553.5 V gives 65535; a
// value that is no number gives 0).
uint32_t tenthsFromVolts(double volts);
// True with `tenths` set when `volts` lies on a step of 0.1 within the field; the settings file
// refuses anything else rather than round what a person wrote.
bool exactTenths(double volts, uint32_t *tenths);
double voltsFromTenths(uint32_t tenths);
// "12.5", "65535" tenths as "6553.5": the tenths exactly, one decimal.
std::string voltsText(uint32_t tenths);

// ---- colours ------------------------------------------------------------------------------------

// The word the form stores for a colour: red, green and blue (0xRRGGBB) under a top byte of 0xFF.
uint32_t colourWord(uint32_t rgb);
// The colour a word shows: its low three bytes; the top byte is not shown.
uint32_t rgbOf(uint32_t word);
// "#RRGGBB" for a word whose top byte is 0xFF, "#AARRGGBB" for any other: the word exactly.
std::string colourText(uint32_t word);
// Reads "#RRGGBB" (top byte 0xFF) or "#AARRGGBB", upper or lower case; false for anything else.
bool colourFromText(const std::string &text, uint32_t *word);

// ---- angles -------------------------------------------------------------------------------------

// The single-precision float an angle word holds, bit for bit.
float angleOf(uint32_t bits);
// The word of an angle narrowed to single precision, as the unit keeps it.
uint32_t angleBits(double degrees);
// The shortest decimal that reads back as the same float ("0.1", not "0.100000001"). Only for a
// finite angle.
std::string angleText(float degrees);

// ---- registration ------------------------------------------------------------------------------

// Characters of the registration text; byte 11 of the record is never part of it.
inline constexpr int REGISTRATION_TEXT_LEN = SETTINGS_REGISTRATION_LEN - 1;
using RegistrationBytes = char[SETTINGS_REGISTRATION_LEN];

// The three words that carry the registration on the link, first character most significant.
std::array<uint32_t, 3> registrationWords(const RegistrationBytes &bytes);
// The stored text: Latin-1 bytes up to the first 0 or erased (0xFF) byte, at most 11.
std::string registrationText(const RegistrationBytes &bytes);
// True when the 12 bytes are exactly what joining their own text gives (the text, then zeros):
// a text alone then carries the registration word for word.
bool registrationIsText(const RegistrationBytes &bytes);

// A stored registration as the form shows it: the first prefix of the table it starts with
// (row -1: none, the text is shown whole) and the rest. Nothing stored shows the prefix "N"
// and no text.
struct RegistrationSplit {
    std::string text; // the stored text
    int prefix_row = 0;
    std::string prefix;
    std::string rest;
};
RegistrationSplit splitRegistration(const RegistrationBytes &bytes);

// True when the unit can store and show the character `c` (a Unicode code point) in its
// registration: printable Latin-1, that is 0x20 to 0x7E and 0xA0 to 0xFE without the soft
// hyphen 0xAD, which shows nothing. 0xFF is not taken: erased flash ends the text there.
bool registrationCharStorable(char32_t c);
// `c` in upper case where that is a storable character too ("\u00E9" gives "\u00C9"); else `c`
// (the upper cases of "\u00FF" and "\u00B5" lie beyond Latin-1, and "\u00DF" has none).
char32_t registrationUpper(char32_t c);

// Writes a text (Latin-1 bytes) into the registration: all zero when `text` is empty, else at
// most 11 bytes, stopping at a zero byte, and byte 11 zero. Returns the three words.
std::array<uint32_t, 3> joinRegistration(RegistrationBytes &bytes, const std::string &latin1);

} // namespace codecs

#endif // SETTINGS_CODECS_H
