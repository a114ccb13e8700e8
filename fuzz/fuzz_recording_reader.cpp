// Any bytes as a field recording (doc/watching-the-field.md), read by the recording reader alone,
// without ROS 2 or BehaviorTree.CPP: every non-empty line after the header yields either an
// exchange or an error, errors name lines in order and within the text, and what the writer makes
// of an exchange read reads back as the same exchange.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "fuzz_checks.hpp"
#include "kestrava_arm_host/field_recording.hpp"

namespace {

using namespace kestrava_arm::host;
using kestrava_arm::bt::fuzzing::Fail;

// The numbers of the lines the reader reads, all but blank ones; the first is the header's.
std::vector<std::size_t> NonBlankLines(const std::string& text) {
  std::vector<std::size_t> numbers;
  std::size_t number = 1;
  for (std::size_t start = 0; start < text.size(); ++number) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    if (text.substr(start, end - start).find_first_not_of(" \t\r") != std::string::npos) {
      numbers.push_back(number);
    }
    start = end + 1;
  }
  return numbers;
}

void CheckLinesAccountedFor(const std::string& text, const Recording& recording) {
  const std::vector<std::size_t> lines = NonBlankLines(text);
  if (lines.empty()) {
    if (!recording.exchanges.empty() || recording.errors.size() != 1 ||
        recording.errors[0].line != 1) {
      Fail(fmt::format("no line, but {} exchange(s) and {} error(s)", recording.exchanges.size(),
                       recording.errors.size()));
    }
    return;
  }
  // Errors in line order, one at most per line, each of a line the reader reads.
  std::size_t header_errors = 0;
  for (std::size_t i = 0; i < recording.errors.size(); ++i) {
    const RecordingLineError& error = recording.errors[i];
    const bool read = std::binary_search(lines.begin(), lines.end(), error.line);
    if (!read || error.message.empty() || (i > 0 && error.line <= recording.errors[i - 1].line)) {
      Fail(fmt::format("error {} at line {}: \"{}\"", i, error.line, error.message));
    }
    header_errors += error.line == lines.front() ? 1 : 0;
  }
  // Every line after the header: an exchange or an error.
  if (recording.exchanges.size() + recording.errors.size() - header_errors != lines.size() - 1) {
    Fail(fmt::format("{} line(s) after the header, {} exchange(s), {} error(s) of them",
                     lines.size() - 1, recording.exchanges.size(),
                     recording.errors.size() - header_errors));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Recording recording = ReadRecordingText(text);
  CheckLinesAccountedFor(text, recording);
  for (const RecordedExchange& exchange : recording.exchanges) {
    const std::string line = RecordingLine(exchange);
    const Recording again = ReadRecordingText(RecordingHeaderLine() + line);
    if (!again.errors.empty() || again.exchanges.size() != 1 || !(again.exchanges[0] == exchange)) {
      Fail(fmt::format("the written line {} does not read back as the exchange it was made of{}",
                       line, again.errors.empty() ? "" : ": " + again.errors[0].message));
    }
  }
  return 0;
}
