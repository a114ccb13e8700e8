#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrava_arm::host {

// Text of users (file names, task texts, answers, request documents) written into reports that
// strict parsers read. Each byte that starts no valid UTF-8 sequence (overlong forms and
// surrogates included) becomes U+FFFD, so that every report is valid UTF-8.

// A JSON string literal, quotes included: control characters escaped.
std::string JsonString(std::string_view text);

// Text for an XML 1.0 attribute value or element content. Markup characters become entities;
// tab, line feed and carriage return character references, which attribute-value normalisation
// keeps; the characters XML 1.0 cannot carry at all (other control characters, U+FFFE, U+FFFF)
// become U+FFFD.
std::string XmlText(std::string_view text);

// Text for a terminal: control characters (C0, DEL, C1) become U+FFFD, so that a file name
// cannot move the cursor or recolour the screen.
std::string PrintableText(std::string_view text);

// Whether the text is valid UTF-8 throughout, which JsonString, XmlText and PrintableText keep
// byte for byte.
bool IsValidUtf8(std::string_view text);

// The characters of valid UTF-8, which is what a table pads by.
std::size_t CharacterCount(std::string_view valid_utf8);

}  // namespace kestrava_arm::host
