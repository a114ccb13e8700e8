#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrava::test {

struct ChildOutput {
  int pid = 0;
  int wait_status = 0;
  std::string out;
  std::string err;
};

// How long a test lets a child run before it kills it: longer than the slowest program of the
// tests takes under a sanitizer, and short enough that a child that hangs fails its test with a
// message instead of holding CI. The message is appended to what the child printed.
inline constexpr std::chrono::seconds kChildTimeLimit{180};

// Runs program (looked up in PATH unless it holds a '/') with exactly the given environment
// ("NAME=value" entries) in working_directory (empty: this process's) and collects its standard
// output and error; after kChildTimeLimit it kills the child.
ChildOutput RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& environment,
                     const std::string& working_directory = "");

// A new, empty folder under the temporary directory for a test's or a child's files; removed with
// everything in it when the object goes.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The bytes of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);

// The shell's view of a wait status: the exit status, or 128 + the signal that ended the child.
int ExitStatusOf(int wait_status);

// A program that runs beside the test until it ends or the test stops it. Its standard output and
// error go, interleaved, to a file of its own, so that it never stalls on a full pipe and the test
// can read what it printed so far. The child leads a process group of its own, so that signals
// reach what it starts too; destroying the object kills what is left of the group.
class BackgroundChild {
 public:
  // `program` is looked up in this process's PATH unless it holds a '/'; it runs in
  // working_directory (empty: this process's).
  BackgroundChild(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& environment,
                  const std::string& working_directory = "");
  ~BackgroundChild();
  BackgroundChild(const BackgroundChild&) = delete;
  BackgroundChild& operator=(const BackgroundChild&) = delete;

  int pid() const { return pid_; }

  // Standard output and error so far.
  std::string Output() const;

  // Waits until the output holds `text` (true), or the child ends or `limit` passes first (false).
  bool AwaitOutput(const std::string& text, std::chrono::milliseconds limit) const;

  // Waits for the child to end, killing its group after kChildTimeLimit, and returns its exit
  // status (ExitStatusOf).
  int Wait();

  // Sends `signal` to the child's process group, also when the child itself has ended, then
  // waits as Wait() does.
  int Stop(int signal);

 private:
  // Whether the child has not ended yet; leaves an ended child for Wait() to reap.
  bool Running() const;

  TemporaryFolder folder_;  // holds the output file
  int pid_ = 0;
  std::optional<int> exit_status_;
};

// This process's environment without the variables named in `owned`, plus `settings`
// ("NAME=value"): a child sees the variables a test is about exactly as the test sets them, and
// inherits everything else, such as the library path a ROS 2 workspace finds its libraries by.
std::vector<std::string> InheritedEnvironment(const std::vector<std::string>& owned,
                                              const std::vector<std::string>& settings);

// The inherited environment with the logging facade's variables (SPDLOG_STDOUT, SPDLOG_SYSTEMD,
// SPDLOG_LEVEL) exactly as `settings` gives them; a variable not in `settings` is unset.
std::vector<std::string> LoggingEnvironment(const std::vector<std::string>& settings);

}  // namespace kestrava::test
