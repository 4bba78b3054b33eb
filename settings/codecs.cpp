#include "codecs.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "registration_prefix.h"

namespace codecs {

uint32_t tenthsFromVolts(double volts) {
    const double tenths = std::round(volts * 10.0);
    if (!(tenths > 0.0)) { // also a value that is no number
        return 0;
    }
    return tenths >= static_cast<double>(MAX_TENTHS) ? MAX_TENTHS : static_cast<uint32_t>(tenths);
}

bool exactTenths(double volts, uint32_t *tenths) {
    const double scaled = volts * 10.0;
    const double rounded = std::round(scaled);
    // Within a millionth of a tenth: 12.3 is 122.99999999999999 tenths as a double.
    if (!std::isfinite(scaled) || std::fabs(scaled - rounded) > 1e-6 || rounded < 0.0 ||
        rounded > static_cast<double>(MAX_TENTHS)) {
        return false;
    }
    *tenths = static_cast<uint32_t>(rounded);
    return true;
}

double voltsFromTenths(uint32_t tenths) {
    return static_cast<double>(tenths) / 10.0;
}

std::string voltsText(uint32_t tenths) {
    return std::to_string(tenths / 10u) + "." + std::to_string(tenths % 10u);
}

uint32_t colourWord(uint32_t rgb) {
    return 0xFF000000u | (rgb & 0x00FFFFFFu);
}

uint32_t rgbOf(uint32_t word) {
    return word & 0x00FFFFFFu;
}

std::string colourText(uint32_t word) {
    char text[16];
    if ((word >> 24) == 0xFFu) {
        std::snprintf(text, sizeof(text), "#%06X", static_cast<unsigned>(rgbOf(word)));
    } else {
        std::snprintf(text, sizeof(text), "#%08X", static_cast<unsigned>(word));
    }
    return text;
}

bool colourFromText(const std::string &text, uint32_t *word) {
    if ((text.size() != 7 && text.size() != 9) || text[0] != '#') {
        return false;
    }
    uint32_t value = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value << 4 | digit;
    }
    *word = text.size() == 7 ? colourWord(value) : value;
    return true;
}

float angleOf(uint32_t bits) {
    float value = 0;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

uint32_t angleBits(double degrees) {
    const float narrowed = static_cast<float>(degrees);
    uint32_t bits = 0;
    std::memcpy(&bits, &narrowed, sizeof(bits));
    return bits;
}

std::string angleText(float degrees) {
    // to_chars writes the shortest text that reads back as the same float, in no locale.
    char text[64];
    const std::to_chars_result end = std::to_chars(text, text + sizeof(text), degrees);
    return std::string(text, end.ptr);
}

std::array<uint32_t, 3> registrationWords(const RegistrationBytes &bytes) {
    std::array<uint32_t, 3> words{};
    for (int g = 0; g < 3; ++g) {
        const auto byte = [&](int i) {
            return static_cast<uint32_t>(static_cast<uint8_t>(bytes[4 * g + i]));
        };
        words[g] = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    }
    return words;
}

namespace {

int textLength(const RegistrationBytes &bytes) {
    const auto *reg = reinterpret_cast<const unsigned char *>(bytes);
    int length = 0;
    while (length < REGISTRATION_TEXT_LEN && reg[length] != 0 && reg[length] != 0xFF) {
        ++length;
    }
    return length;
}

} // namespace

std::string registrationText(const RegistrationBytes &bytes) {
    return std::string(bytes, static_cast<std::size_t>(textLength(bytes)));
}

bool registrationIsText(const RegistrationBytes &bytes) {
    for (int i = textLength(bytes); i < SETTINGS_REGISTRATION_LEN; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

RegistrationSplit splitRegistration(const RegistrationBytes &bytes) {
    RegistrationSplit split;
    // Erased memory (all 0xFF) ends the text at its first byte, as no text does.
    split.text = registrationText(bytes);
    if (split.text.empty()) {
        split.prefix = "N"; // nothing stored: the form's start
        return split;
    }
    split.prefix_row = -1;
    const std::string_view text(split.text);
    for (int i = 0; i < NUM_REGISTRATION_PREFIXES; ++i) {
        const std::string_view prefix(REGISTRATION_PREFIXES[i]);
        if (text.substr(0, prefix.size()) == prefix) {
            split.prefix_row = i;
            split.prefix = std::string(prefix);
            break;
        }
    }
    // Without a prefix of the table the text is shown whole, as stored, so that writing it back
    // changes nothing.
    split.rest = split.text.substr(split.prefix.size());
    return split;
}

bool registrationCharStorable(char32_t c) {
    return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFE && c != 0xAD);
}

char32_t registrationUpper(char32_t c) {
    // Latin-1 keeps each small letter 0x20 below its capital; the division sign 0xF7 sits where
    // a letter would.
    const bool small = (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
    return small ? c - 0x20 : c;
}

std::array<uint32_t, 3> joinRegistration(RegistrationBytes &bytes, const std::string &latin1) {
    std::memset(bytes, 0, sizeof(bytes));
    for (std::size_t i = 0; i < latin1.size() && i < REGISTRATION_TEXT_LEN && latin1[i] != '\0';
         ++i) {
        bytes[i] = latin1[i];
    }
    return registrationWords(bytes);
}

} // namespace codecs
