#include "kestrava_arm_host/field_recording.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <yaml-cpp/yaml.h>

#include "kestrava_arm_host/report_text.hpp"

namespace kestrava_arm::host {
namespace {

constexpr const char* kFormat = "kestrava-perception-recording";
constexpr int kVersion = 1;
constexpr std::array<const char*, 4> kEventTypes{kRequestSent, kRequestReceived, kResponseSent,
                                                 kResponseReceived};

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = 0;
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
    for (std::size_t j = 0; j < 3; ++j) {
      group = (group << 8) | (j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u);
    }
    for (std::size_t j = 0; j < 4; ++j) {
      text += j <= count ? kBase64Alphabet[(group >> (18 - 6 * j)) & 0x3F] : '=';
    }
  }
  return text;
}

// Nothing for text that is no canonical base64 (padded, no blanks, unused bits zero).
std::optional<std::string> FromBase64(std::string_view text) {
  if (text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    std::size_t padding = 0;
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const char c = text[i + j];
      if (c == '=' && last && j >= 2) {
        ++padding;
        group <<= 6;
        continue;
      }
      const std::size_t value = kBase64Alphabet.find(c);
      if (value == std::string_view::npos || padding > 0) {
        return std::nullopt;
      }
      group = (group << 6) | static_cast<std::uint32_t>(value);
    }
    // Bits the padding leaves unused must be zero, so that each byte string has one form.
    if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
      return std::nullopt;
    }
    for (std::size_t j = 0; j < 3 - padding; ++j) {
      bytes += static_cast<char>((group >> (16 - 8 * j)) & 0xFF);
    }
  }
  return bytes;
}

std::string TextField(const char* key, const std::string& text) {
  if (IsValidUtf8(text)) {
    return "," + JsonString(key) + ":" + JsonString(text);
  }
  return "," + JsonString(std::string(key) + "_base64") + ":" + JsonString(Base64(text));
}

// What is wrong with a line, thrown while it is read.
class BadLine : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A JSON string: yaml-cpp tags a quoted scalar "!", a plain one (number, true, null) "?".
std::string StringOf(const YAML::Node& node, const std::string& key) {
  if (!node.IsScalar() || node.Tag() != "!") {
    throw BadLine("\"" + key + "\" is not a string");
  }
  return node.Scalar();
}

// A JSON integer in decimal, within 64 bits.
std::int64_t IntegerOf(const YAML::Node& node, const std::string& key) {
  const std::string text = node.IsScalar() && node.Tag() == "?" ? node.Scalar() : "";
  std::int64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    throw BadLine("\"" + key + "\" is not a whole number of 64 bits");
  }
  return value;
}

// `where` names the key in the error: "events[0].stamp_ns".
YAML::Node Required(const YAML::Node& map, const std::string& key, const std::string& where) {
  YAML::Node value = map[key];
  if (!value) {
    throw BadLine("\"" + where + "\" is missing");
  }
  return value;
}

YAML::Node Required(const YAML::Node& map, const std::string& key) {
  return Required(map, key, key);
}

// The text under `key`, or its bytes under `key`_base64; nothing when neither is there or the
// one there is null.
std::optional<std::string> OptionalText(const YAML::Node& map, const std::string& key) {
  const std::string base64_key = key + "_base64";
  const YAML::Node text = map[key];
  const YAML::Node base64 = map[base64_key];
  const bool has_text = text && !text.IsNull();
  const bool has_base64 = base64 && !base64.IsNull();
  if (has_text && has_base64) {
    throw BadLine("\"" + key + "\" and \"" + base64_key + "\" are both given");
  }
  if (has_text) {
    return StringOf(text, key);
  }
  if (has_base64) {
    auto bytes = FromBase64(StringOf(base64, base64_key));
    if (!bytes) {
      throw BadLine("\"" + base64_key + "\" is not base64");
    }
    return bytes;
  }
  return std::nullopt;
}

YAML::Node MapOf(const std::string& line) {
  YAML::Node node;
  try {
    node = YAML::Load(line);
  } catch (const YAML::Exception& error) {
    throw BadLine("not JSON: " + error.msg);
  }
  if (!node.IsMap()) {
    throw BadLine("not a JSON object");
  }
  return node;
}

RecordedEvent EventOf(const YAML::Node& node, std::size_t index) {
  const std::string where = "events[" + std::to_string(index) + "]";
  if (!node.IsMap()) {
    throw BadLine("\"" + where + "\" is not an object");
  }
  RecordedEvent event;
  event.type = StringOf(Required(node, "type", where + ".type"), where + ".type");
  const bool known = std::any_of(kEventTypes.begin(), kEventTypes.end(),
                                 [&](const char* type) { return event.type == type; });
  if (!known) {
    throw BadLine("\"" + where + ".type\" is " + JsonString(event.type) +
                  ", none of REQUEST_SENT, REQUEST_RECEIVED, RESPONSE_SENT, RESPONSE_RECEIVED");
  }
  event.stamp_ns = IntegerOf(Required(node, "stamp_ns", where + ".stamp_ns"), where + ".stamp_ns");
  return event;
}

RecordedExchange ExchangeOf(const std::string& line) {
  const YAML::Node map = MapOf(line);
  RecordedExchange exchange;
  exchange.client_gid = StringOf(Required(map, "client_gid"), "client_gid");
  if (exchange.client_gid.find_first_not_of("0123456789abcdef") != std::string::npos) {
    throw BadLine("\"client_gid\" is " + JsonString(exchange.client_gid) +
                  ", not lower-case hexadecimal digits");
  }
  exchange.sequence = IntegerOf(Required(map, "sequence"), "sequence");
  const YAML::Node events = Required(map, "events");
  if (!events.IsSequence()) {
    throw BadLine("\"events\" is not an array");
  }
  for (std::size_t i = 0; i < events.size(); ++i) {
    exchange.events.push_back(EventOf(events[i], i));
  }
  exchange.request_yaml = OptionalText(map, "request");
  exchange.answer_yaml = OptionalText(map, "answer");
  return exchange;
}

void CheckHeader(const std::string& line) {
  YAML::Node parsed;
  try {
    parsed = MapOf(line);
  } catch (const BadLine& error) {
    throw BadLine(std::string("no recording header (") + error.what() + "): expected " +
                  RecordingHeaderLine().substr(0, RecordingHeaderLine().size() - 1));
  }
  const YAML::Node& map = parsed;
  const YAML::Node format = map["format"];
  if (!format || !format.IsScalar() || format.Scalar() != kFormat) {
    throw BadLine(std::string("no recording header: \"format\" is not \"") + kFormat + "\"");
  }
  const std::int64_t version = IntegerOf(Required(map, "version"), "version");
  if (version != kVersion) {
    throw BadLine("recording format version " + std::to_string(version) +
                  ", this reader knows version " + std::to_string(kVersion) + " only");
  }
}

bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

}  // namespace

bool Answered(const RecordedExchange& exchange) {
  return exchange.answer_yaml.has_value() ||
         std::any_of(exchange.events.begin(), exchange.events.end(),
                     [](const RecordedEvent& event) {
                       return event.type == kResponseSent || event.type == kResponseReceived;
                     });
}

std::optional<std::int64_t> StampOf(const RecordedExchange& exchange, std::string_view type) {
  const auto event =
      std::find_if(exchange.events.begin(), exchange.events.end(),
                   [type](const RecordedEvent& candidate) { return candidate.type == type; });
  if (event == exchange.events.end()) {
    return std::nullopt;
  }
  return event->stamp_ns;
}

std::optional<std::chrono::nanoseconds> TimeBetween(const RecordedExchange& exchange,
                                                    std::string_view from, std::string_view to) {
  const auto start = StampOf(exchange, from);
  const auto end = StampOf(exchange, to);
  if (!start || !end) {
    return std::nullopt;
  }
  // Unsigned, so that stamps far apart wrap rather than overflow.
  return std::chrono::nanoseconds(static_cast<std::int64_t>(static_cast<std::uint64_t>(*end) -
                                                            static_cast<std::uint64_t>(*start)));
}

std::string RecordingHeaderLine() {
  return std::string("{\"format\":\"") + kFormat + "\",\"version\":" + std::to_string(kVersion) +
         "}\n";
}

std::string RecordingLine(const RecordedExchange& exchange) {
  std::string line = "{\"client_gid\":" + JsonString(exchange.client_gid) +
                     ",\"sequence\":" + std::to_string(exchange.sequence) + ",\"events\":[";
  for (std::size_t i = 0; i < exchange.events.size(); ++i) {
    line += (i == 0 ? "" : ",");
    line += "{\"type\":" + JsonString(exchange.events[i].type) +
            ",\"stamp_ns\":" + std::to_string(exchange.events[i].stamp_ns) + "}";
  }
  line += "]";
  if (exchange.request_yaml) {
    line += TextField("request", *exchange.request_yaml);
  }
  if (exchange.answer_yaml) {
    line += TextField("answer", *exchange.answer_yaml);
  }
  return line + "}\n";
}

RecordingWriter::RecordingWriter(const std::string& path) : path_(path) {
  constexpr mode_t kReadWriteForAll = 0666;  // less the umask
  descriptor_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kReadWriteForAll);
  if (descriptor_ < 0) {
    throw std::runtime_error("cannot write '" + path_ +
                             "': " + std::generic_category().message(errno));
  }
  WriteLine(RecordingHeaderLine());
}

RecordingWriter::~RecordingWriter() {
  if (descriptor_ >= 0) {
    close(descriptor_);
  }
}

void RecordingWriter::Write(const RecordedExchange& exchange) {
  WriteLine(RecordingLine(exchange));
}

void RecordingWriter::WriteLine(const std::string& line) {
  // One write for a line, as a rule: a partial one (a full disk) is continued.
  for (std::size_t written = 0; written < line.size();) {
    const ssize_t count = write(descriptor_, line.data() + written, line.size() - written);
    if (count < 0 && errno != EINTR) {
      throw std::runtime_error("cannot write '" + path_ +
                               "': " + std::generic_category().message(errno));
    }
    written += count > 0 ? static_cast<std::size_t>(count) : 0;
  }
}

Recording ReadRecording(std::istream& text) {
  Recording recording;
  bool header_seen = false;
  std::string line;
  for (std::size_t number = 1; std::getline(text, line); ++number) {
    if (IsBlank(line)) {
      continue;
    }
    const bool is_header = !header_seen;
    header_seen = true;
    try {
      if (text.eof()) {
        throw BadLine(
            "cut short: no line feed ends it, as when the recording stopped while this line was "
            "written");
      }
      if (is_header) {
        CheckHeader(line);
      } else {
        recording.exchanges.push_back(ExchangeOf(line));
      }
    } catch (const BadLine& error) {
      recording.errors.push_back({number, error.what()});
    } catch (const YAML::Exception& error) {
      // What the checks above did not foresee; still the line's fault alone.
      recording.errors.push_back({number, "not readable: " + error.msg});
    }
  }
  if (!header_seen) {
    recording.errors.push_back({1, "empty: no recording header"});
  }
  return recording;
}

Recording ReadRecordingText(const std::string& text) {
  std::istringstream stream(text);
  return ReadRecording(stream);
}

}  // namespace kestrava_arm::host
