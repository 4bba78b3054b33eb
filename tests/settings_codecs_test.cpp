// The codecs at their edges: volts to the nearest tenth over the whole field, colour words and
// their texts, angle texts that read back as the same float, and the registration's split and
// join.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "codecs.h"

namespace {

TEST(Codecs, EveryTenthOfTheFieldComesBackFromTheVoltsShown) {
    // The form shows word / 10 and stores its double back: truncating lost a tenth for values
    // such as 11.8 (117.99999… tenths); the nearest tenth keeps every one.
    for (uint32_t tenths = 0; tenths <= codecs::MAX_TENTHS; ++tenths) {
        const double volts = codecs::voltsFromTenths(tenths);
        ASSERT_EQ(codecs::tenthsFromVolts(volts), tenths) << volts;
        // As a spin box of one decimal holds it, parsed from its text.
        ASSERT_EQ(codecs::tenthsFromVolts(std::stod(codecs::voltsText(tenths))), tenths);
        uint32_t exact = 0;
        ASSERT_TRUE(codecs::exactTenths(volts, &exact));
        ASSERT_EQ(exact, tenths);
    }
    EXPECT_EQ(codecs::tenthsFromVolts(11.8), 118u);
    EXPECT_EQ(codecs::tenthsFromVolts(-3.0), 0u);
    EXPECT_EQ(codecs::tenthsFromVolts(1e9), codecs::MAX_TENTHS);
    EXPECT_EQ(codecs::tenthsFromVolts(std::nan("")), 0u);
    EXPECT_EQ(codecs::voltsText(125), "12.5");
    EXPECT_EQ(codecs::voltsText(65535), "6553.5");

    uint32_t tenths = 7;
    EXPECT_FALSE(codecs::exactTenths(12.25, &tenths)); // between two steps: the file refuses it
    EXPECT_FALSE(codecs::exactTenths(-0.1, &tenths));
    EXPECT_FALSE(codecs::exactTenths(6553.6, &tenths)); // beyond the 16-bit field
    EXPECT_FALSE(codecs::exactTenths(std::numeric_limits<double>::infinity(), &tenths));
    EXPECT_EQ(tenths, 7u);
}

TEST(Codecs, ColourWordsAndTheirTexts) {
    EXPECT_EQ(codecs::colourWord(0x87CEEBu), 0xFF87CEEBu);
    EXPECT_EQ(codecs::colourWord(0x12345678u), 0xFF345678u); // only red, green and blue
    EXPECT_EQ(codecs::colourText(0xFF00FF00u), "#00FF00");
    EXPECT_EQ(codecs::colourText(0x0000FF00u), "#0000FF00"); // a top byte of its own is kept
    EXPECT_EQ(codecs::colourText(0xFFFFFFFFu), "#FFFFFF");

    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        const uint32_t word = random();
        uint32_t back = 0;
        ASSERT_TRUE(codecs::colourFromText(codecs::colourText(word), &back));
        ASSERT_EQ(back, word);
    }
    uint32_t word = 0;
    EXPECT_TRUE(codecs::colourFromText("#abcdef", &word));
    EXPECT_EQ(word, 0xFFABCDEFu);
    uint32_t untouched = 42;
    for (const char *bad : {"#12345", "#1234567", "123456", "#GG0000", "#12345678A", "", "#"}) {
        EXPECT_FALSE(codecs::colourFromText(bad, &untouched)) << bad;
    }
    EXPECT_EQ(untouched, 42u);
}

TEST(Codecs, AngleTextsAreTheShortestThatReadBackAsTheSameFloat) {
    EXPECT_EQ(codecs::angleText(0.1f), "0.1");
    EXPECT_EQ(codecs::angleText(-1.5f), "-1.5");
    EXPECT_EQ(codecs::angleText(-0.0f), "-0");
    EXPECT_EQ(codecs::angleBits(1.0), 0x3F800000u);
    EXPECT_EQ(codecs::angleBits(0.1), codecs::angleBits(static_cast<double>(0.1f)));

    std::mt19937 random(11);
    int finite = 0;
    for (int i = 0; i < 20000; ++i) {
        const uint32_t bits = random();
        const float angle = codecs::angleOf(bits);
        if (!std::isfinite(angle)) {
            continue;
        }
        ++finite;
        ASSERT_EQ(codecs::angleBits(std::stod(codecs::angleText(angle))), bits)
            << codecs::angleText(angle);
    }
    EXPECT_GT(finite, 19000);
}

TEST(Codecs, RegistrationSplitJoinAndWords) {
    codecs::RegistrationBytes bytes{};
    const std::array<uint32_t, 3> words = codecs::joinRegistration(bytes, "PHXYZ");
    EXPECT_EQ(words[0], 0x50485859u); // first character most significant
    EXPECT_EQ(words[1], 0x5A000000u);
    EXPECT_EQ(words[2], 0u);
    EXPECT_EQ(codecs::registrationWords(bytes), words);
    EXPECT_TRUE(codecs::registrationIsText(bytes));

    const codecs::RegistrationSplit ph = codecs::splitRegistration(bytes);
    EXPECT_EQ(ph.prefix, "PH");
    EXPECT_EQ(ph.rest, "XYZ");

    // Twelve characters: eleven are kept and byte 11 stays zero; a zero byte ends the text.
    codecs::joinRegistration(bytes, "ABCDEFGHIJKL");
    EXPECT_EQ(codecs::registrationText(bytes), "ABCDEFGHIJK");
    EXPECT_EQ(bytes[11], 0);
    codecs::joinRegistration(bytes, std::string("AB\0CD", 5));
    EXPECT_EQ(codecs::registrationText(bytes), "AB");
    EXPECT_EQ(bytes[3], 0);

    codecs::joinRegistration(bytes, "QQ123");
    const codecs::RegistrationSplit none = codecs::splitRegistration(bytes);
    EXPECT_EQ(none.prefix_row, -1); // no prefix of the table: shown whole
    EXPECT_EQ(none.rest, "QQ123");

    std::memset(bytes, 0xFF, sizeof(bytes));
    const codecs::RegistrationSplit erased = codecs::splitRegistration(bytes);
    EXPECT_EQ(erased.prefix, "N");
    EXPECT_EQ(erased.rest, "");
    EXPECT_FALSE(codecs::registrationIsText(bytes)); // erased bytes are no text's zeros

    codecs::joinRegistration(bytes, "G-AB");
    bytes[8] = 'X'; // a byte after the text's end
    EXPECT_EQ(codecs::registrationText(bytes), "G-AB");
    EXPECT_FALSE(codecs::registrationIsText(bytes));
    bytes[4] = static_cast<char>(0xE9); // Latin-1 é: one byte, the text goes on through it
    EXPECT_EQ(codecs::registrationText(bytes).size(), 5u);
    EXPECT_EQ(codecs::registrationWords(bytes)[1], 0xE9000000u);
}

TEST(Codecs, RegistrationCharactersAreWhatTheUnitCanStoreInCapitals) {
    for (const char32_t c : {U'A', U'7', U'-', U' ', U'\u00C9', U'\u00A0', U'\u00FE'}) {
        EXPECT_TRUE(codecs::registrationCharStorable(c)) << static_cast<int>(c);
    }
    // Controls (C0, DEL, C1), the soft hyphen that shows nothing, the byte erased flash ends the
    // text with, and everything beyond Latin-1.
    for (const char32_t c : {U'\0', U'\t', U'\u007F', U'\u0085', U'\u00AD', U'\u00FF', U'\u017D',
                             U'\u20AC', U'\U0001F600'}) {
        EXPECT_FALSE(codecs::registrationCharStorable(c)) << static_cast<int>(c);
    }
    EXPECT_EQ(codecs::registrationUpper(U'\u00E9'), U'\u00C9');
    EXPECT_EQ(codecs::registrationUpper(U'\u00F7'), U'\u00F7'); // the division sign
    // A character taken never turns into one the unit cannot store.
    for (char32_t c = 0; c <= 0xFF; ++c) {
        if (codecs::registrationCharStorable(c)) {
            EXPECT_TRUE(codecs::registrationCharStorable(codecs::registrationUpper(c))) << c;
        }
    }
}

} // namespace
