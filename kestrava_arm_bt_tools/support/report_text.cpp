#include "kestrava_arm_host/report_text.hpp"

#include <algorithm>
#include <cstdio>

namespace kestrava_arm::host {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

unsigned char ByteAt(std::string_view text, std::size_t index) {
  return static_cast<unsigned char>(text[index]);
}

// The length of the valid UTF-8 sequence that text starts with; 0 when it starts none. The
// second byte's range rules out overlong forms, surrogates and code points above U+10FFFF.
std::size_t SequenceLength(std::string_view text) {
  const unsigned char lead = ByteAt(text, 0);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  if (text.size() < length || ByteAt(text, 1) < low || ByteAt(text, 1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if ((ByteAt(text, i) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return length;
}

char32_t CodePointOf(std::string_view sequence) {
  constexpr unsigned char kLeadMasks[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t code_point = ByteAt(sequence, 0) & kLeadMasks[sequence.size()];
  for (std::size_t i = 1; i < sequence.size(); ++i) {
    code_point = (code_point << 6) | (ByteAt(sequence, i) & 0x3F);
  }
  return code_point;
}

// Calls write(code_point, bytes) for each character of the text, with U+FFFD for each byte that
// starts no valid sequence.
template <typename Write>
void ForEachCharacter(std::string_view text, Write write) {
  while (!text.empty()) {
    const std::size_t length = SequenceLength(text);
    if (length == 0) {
      write(U'\uFFFD', kReplacement);
      text.remove_prefix(1);
    } else {
      write(CodePointOf(text.substr(0, length)), text.substr(0, length));
      text.remove_prefix(length);
    }
  }
}

bool IsControl(char32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
}

// Whether XML 1.0 has no way to carry the character, not even as a character reference.
bool IsForbiddenInXml(char32_t code_point) {
  const bool allowed_control = code_point == '\t' || code_point == '\n' || code_point == '\r';
  return (code_point < 0x20 && !allowed_control) || code_point == 0xFFFE || code_point == 0xFFFF;
}

const char* XmlEntityOf(char32_t code_point) {
  switch (code_point) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&apos;";
    case '\t':
      return "&#9;";
    case '\n':
      return "&#10;";
    case '\r':
      return "&#13;";
    default:
      return nullptr;
  }
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string quoted = "\"";
  ForEachCharacter(text, [&quoted](char32_t code_point, std::string_view bytes) {
    if (code_point == '"' || code_point == '\\') {
      quoted += '\\';
      quoted += bytes;
    } else if (code_point < 0x20) {
      char escape[7];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code_point));
      quoted += escape;
    } else {
      quoted += bytes;
    }
  });
  return quoted + "\"";
}

std::string XmlText(std::string_view text) {
  std::string escaped;
  ForEachCharacter(text, [&escaped](char32_t code_point, std::string_view bytes) {
    if (const char* entity = XmlEntityOf(code_point)) {
      escaped += entity;
    } else {
      escaped += IsForbiddenInXml(code_point) ? kReplacement : bytes;
    }
  });
  return escaped;
}

std::string PrintableText(std::string_view text) {
  std::string printable;
  ForEachCharacter(text, [&printable](char32_t code_point, std::string_view bytes) {
    printable += IsControl(code_point) ? kReplacement : bytes;
  });
  return printable;
}

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = SequenceLength(text);
    if (length == 0) {
      return false;
    }
    text.remove_prefix(length);
  }
  return true;
}

std::size_t CharacterCount(std::string_view valid_utf8) {
  // Every character has exactly one byte that is no continuation byte.
  return static_cast<std::size_t>(std::count_if(valid_utf8.begin(), valid_utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace kestrava_arm::host
