#pragma once

#include <string>

namespace kestrava_arm::host {

// A report file, opened before the work whose results it will hold: a path that cannot be written
// is refused at once, not after hours of work whose results would then be lost. Until the report
// is written the file keeps what it held; a file that the opening created and that never got its
// report, because the work failed, is removed again.
class ReportFile {
 public:
  // Throws std::runtime_error naming the path when the file cannot be opened for writing.
  explicit ReportFile(std::string path);
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  // Replaces the file's content with the report and closes it; throws std::runtime_error naming
  // the path when the writing fails.
  void Write(const std::string& text);

 private:
  std::string path_;
  int descriptor_ = -1;
  bool created_ = false;
};

}  // namespace kestrava_arm::host
