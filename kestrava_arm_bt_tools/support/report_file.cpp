#include "kestrava_arm_host/report_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace kestrava_arm::host {
namespace {

std::runtime_error CannotWrite(const std::string& path) {
  return std::runtime_error("cannot write '" + path +
                            "': " + std::generic_category().message(errno));
}

void WriteAll(int descriptor, const std::string& text, const std::string& path) {
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t count = write(descriptor, text.data() + written, text.size() - written);
    if (count < 0 && errno != EINTR) {
      throw CannotWrite(path);
    }
    written += count > 0 ? static_cast<std::size_t>(count) : 0;
  }
}

}  // namespace

ReportFile::ReportFile(std::string path) : path_(std::move(path)) {
  constexpr mode_t kReadWriteForAll = 0666;  // less the umask
  descriptor_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kReadWriteForAll);
  created_ = descriptor_ >= 0;
  if (!created_ && errno == EEXIST) {
    descriptor_ = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  }
  if (descriptor_ < 0) {
    throw CannotWrite(path_);
  }
}

ReportFile::~ReportFile() {
  if (descriptor_ >= 0) {
    close(descriptor_);
    if (created_) {
      unlink(path_.c_str());
    }
  }
}

void ReportFile::Write(const std::string& text) {
  // A file that is no regular file (a pipe, /dev/stdout) cannot be truncated, nor needs to be.
  if (ftruncate(descriptor_, 0) != 0 && errno != EINVAL) {
    throw CannotWrite(path_);
  }
  WriteAll(descriptor_, text, path_);
  if (close(std::exchange(descriptor_, -1)) != 0) {
    throw CannotWrite(path_);
  }
}

}  // namespace kestrava_arm::host
