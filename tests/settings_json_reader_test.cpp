// The settings file's JSON: a key named twice in one object is refused wherever it stands, and
// nothing else that a file may hold is taken for one.
#include <gtest/gtest.h>

#include <QJsonObject>

#include <string>

#include "json_reader.h"

namespace {

std::string refusal(const char *text) {
    QString error = QStringLiteral("unset");
    const QJsonDocument document = json_reader::parse(QByteArray(text), &error);
    EXPECT_EQ(document.isNull(), !error.isEmpty()) << text;
    return error.toStdString();
}

} // namespace

TEST(JsonReader, AKeyNamedTwiceInOneObjectIsRefusedAndNamedWithItsObject) {
    EXPECT_EQ(refusal(R"({"a": 1, "a": 2})"), "Duplicate key \"a\" in the file");
    EXPECT_EQ(refusal(R"({"unit": {"x": 1, "y": [1, {"z": 0}], "x": 2}})"),
              "Duplicate key \"x\" in \"unit\"");
    // An object in an array is named by the key the array stands under.
    EXPECT_EQ(refusal(R"({"list": [{"k": 1}, {"k": 1, "k": 2}]})"),
              "Duplicate key \"k\" in \"list\"");
    // Spelled with escapes, a key is the same key.
    EXPECT_EQ(refusal(R"({"vne": 1, "v\u006ee": 2})"), "Duplicate key \"vne\" in the file");
    EXPECT_EQ(refusal(R"({"tab\t": 1, "tab\u0009": 2})"), "Duplicate key \"tab\t\" in the file");
}

TEST(JsonReader, WhatOnlyLooksLikeAKeyNamedTwiceIsRead) {
    // The same key in two objects, in objects of one array, and as values.
    EXPECT_EQ(refusal(R"({"a": {"k": 1}, "b": {"k": 1}, "k": "k"})"), "");
    EXPECT_EQ(refusal(R"({"list": [{"k": 1}, {"k": 2}], "after": 0})"), "");
    // Strings that hold quotes, braces, commas and backslashes do not open or end anything.
    EXPECT_EQ(refusal(R"({"s": "\"}, {\"s\": 1, ", "t": "\\", "u": "a\"b"})"), "");
    EXPECT_EQ(refusal(R"({"é": 1, "e": 2, "\u00e9x": 3})"), "");
    QString error;
    const QJsonDocument document =
        json_reader::parse(QByteArray(R"({"k": {"k": 1}, "s": "x"})"), &error);
    EXPECT_EQ(document.object().value("s").toString(), "x");
}

TEST(JsonReader, TextThatIsNotJsonIsRefusedWithWhereItStops) {
    const std::string trailing_comma = refusal(R"({"a": 1,})");
    EXPECT_EQ(trailing_comma.substr(0, 20), "Not a settings file:");
    EXPECT_EQ(trailing_comma.substr(trailing_comma.size() - 9), "at byte 9") << trailing_comma;
    EXPECT_EQ(refusal("").substr(0, 20), "Not a settings file:");
}
