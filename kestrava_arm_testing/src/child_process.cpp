#include "kestrava_arm_testing/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace kestrava::test {
namespace {

bool IsSettingOf(const std::string& entry, const std::string& name) {
  return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
         entry[name.size()] == '=';
}

std::vector<char*> NullTerminated(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// posix_spawn's argv and envp, with the texts they point into.
class SpawnArguments {
 public:
  SpawnArguments(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment)
      : argv_texts_(Join(program, args)),
        env_texts_(environment),
        argv_(NullTerminated(argv_texts_)),
        envp_(NullTerminated(env_texts_)) {}
  SpawnArguments(const SpawnArguments&) = delete;
  SpawnArguments& operator=(const SpawnArguments&) = delete;

  char* const* argv() const { return argv_.data(); }
  char* const* envp() const { return envp_.data(); }

 private:
  static std::vector<std::string> Join(const std::string& program,
                                       const std::vector<std::string>& args) {
    std::vector<std::string> texts{program};
    texts.insert(texts.end(), args.begin(), args.end());
    return texts;
  }

  std::vector<std::string> argv_texts_;
  std::vector<std::string> env_texts_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

void StartIn(posix_spawn_file_actions_t& actions, const std::string& working_directory) {
  if (!working_directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());
  }
}

std::array<int, 2> MakePipe() {
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  return ends;
}

using Clock = std::chrono::steady_clock;

// How often a wait for a child looks whether it has ended.
constexpr std::chrono::milliseconds kPollInterval{20};

// Drains both streams at once, so that a child writing much to either never stalls, until both
// are closed (true) or the time limit passes (false).
bool ReadUntilClosed(int out_fd, int err_fd, ChildOutput& child) {
  std::array<pollfd, 2> fds{{{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}}};
  std::array<std::string*, 2> texts{&child.out, &child.err};
  std::array<char, 4096> buffer{};
  const Clock::time_point until = Clock::now() + kChildTimeLimit;
  int open_streams = 2;
  while (open_streams > 0) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) {
      break;
    }
    const int ready = poll(fds.data(), fds.size(), static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      break;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) {
        continue;
      }
      const ssize_t count = read(fds[i].fd, buffer.data(), buffer.size());
      if (count > 0) {
        texts[i]->append(buffer.data(), static_cast<std::size_t>(count));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) {
      close(fd.fd);
    }
  }
  return open_streams == 0;
}

std::string KilledNote() {
  return "\n[killed by the test: still running after " + std::to_string(kChildTimeLimit.count()) +
         " s]\n";
}

constexpr const char* kOutputFileName = "output.txt";

}  // namespace

TemporaryFolder::TemporaryFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrava-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int ExitStatusOf(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

BackgroundChild::BackgroundChild(const std::string& program, const std::vector<std::string>& args,
                                 const std::vector<std::string>& environment,
                                 const std::string& working_directory) {
  const SpawnArguments arguments(program, args, environment);
  const std::string output_file = (folder_.path() / kOutputFileName).string();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  StartIn(actions, working_directory);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawn_error = posix_spawnp(&pid_, program.c_str(), &actions, &attributes,
                                       arguments.argv(), arguments.envp());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawn_error != 0) {
    throw std::system_error(spawn_error, std::generic_category(), "posix_spawn " + program);
  }
}

BackgroundChild::~BackgroundChild() {
  Stop(SIGKILL);
}

std::string BackgroundChild::Output() const {
  return ReadWholeFile(folder_.path() / kOutputFileName);
}

bool BackgroundChild::Running() const {
  if (exit_status_) {
    return false;
  }
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

bool BackgroundChild::AwaitOutput(const std::string& text, std::chrono::milliseconds limit) const {
  // The output is a file that only grows; reading it again every few milliseconds is cheap.
  const auto until = std::chrono::steady_clock::now() + limit;
  while (true) {
    // Whether it ran is taken before the output is read, so that a child that has ended is judged
    // on everything it printed.
    const bool running = Running();
    if (Output().find(text) != std::string::npos) {
      return true;
    }
    if (!running || std::chrono::steady_clock::now() >= until) {
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

int BackgroundChild::Wait() {
  if (!exit_status_) {
    const Clock::time_point until = Clock::now() + kChildTimeLimit;
    while (Running() && Clock::now() < until) {
      std::this_thread::sleep_for(kPollInterval);
    }
    if (Running()) {
      kill(-pid_, SIGKILL);
      std::ofstream(folder_.path() / kOutputFileName, std::ios::app) << KilledNote();
    }
    int wait_status = 0;
    waitpid(pid_, &wait_status, 0);
    exit_status_ = ExitStatusOf(wait_status);
  }
  return *exit_status_;
}

int BackgroundChild::Stop(int signal) {
  // The group keeps the child's id while any member lives, even after the child is reaped.
  kill(-pid_, signal);
  return Wait();
}

ChildOutput RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& environment,
                     const std::string& working_directory) {
  const SpawnArguments arguments(program, args, environment);
  const std::array<int, 2> out = MakePipe();
  const std::array<int, 2> err = MakePipe();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  StartIn(actions, working_directory);
  ChildOutput child;
  const int spawn_error = posix_spawnp(&child.pid, program.c_str(), &actions, nullptr,
                                       arguments.argv(), arguments.envp());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (spawn_error != 0) {
    close(out[0]);
    close(err[0]);
    throw std::system_error(spawn_error, std::generic_category(), "posix_spawn " + program);
  }
  if (!ReadUntilClosed(out[0], err[0], child)) {
    kill(child.pid, SIGKILL);
    child.err += KilledNote();
  }
  waitpid(child.pid, &child.wait_status, 0);
  return child;
}

std::vector<std::string> InheritedEnvironment(const std::vector<std::string>& owned,
                                              const std::vector<std::string>& settings) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const bool is_owned = std::any_of(owned.begin(), owned.end(), [&text](const std::string& name) {
      return IsSettingOf(text, name);
    });
    if (!is_owned) {
      environment.push_back(text);
    }
  }
  environment.insert(environment.end(), settings.begin(), settings.end());
  return environment;
}

std::vector<std::string> LoggingEnvironment(const std::vector<std::string>& settings) {
  return InheritedEnvironment({"SPDLOG_STDOUT", "SPDLOG_SYSTEMD", "SPDLOG_LEVEL"}, settings);
}

}  // namespace kestrava::test
