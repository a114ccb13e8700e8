#include "kestrava_arm_testing/ros_domain.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace kestrava_arm::bt::testing {
namespace {

// Cyclone DDS puts domain d on ports 7400 + 250 d and up, participant index 64 reaching 139
// above that: up to domain 100 every port stays below Linux's ephemeral ports (32768 on), which
// the kernel may hand to any other socket. Domain 0 is left to processes that do not claim one.
constexpr int kFirstDomain = 1;
constexpr int kLastDomain = 100;

std::filesystem::path LockDirectory() {
  auto directory = std::filesystem::temp_directory_path() / "kestrava-ros-domains";
  std::filesystem::create_directories(directory);
  return directory;
}

int OpenLockFile(const std::filesystem::path& directory, int domain) {
  const auto path = directory / (std::to_string(domain) + ".lock");
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(), "open " + path.string());
  }
  return fd;
}

// Locks the domain's file for as long as the process lives (the descriptor is never closed);
// false when another process holds it.
bool Lock(const std::filesystem::path& directory, int domain, bool wait) {
  const int fd = OpenLockFile(directory, domain);
  if (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) {
    return true;
  }
  const int error = errno;
  close(fd);
  if (error != EWOULDBLOCK) {
    throw std::system_error(error, std::generic_category(), "flock");
  }
  return false;
}

int ClaimDomain() {
  const auto directory = LockDirectory();
  int domain = kFirstDomain;
  while (domain <= kLastDomain && !Lock(directory, domain, false)) {
    ++domain;
  }
  if (domain > kLastDomain) {
    // Every domain is taken: queue for one, spread by process so that waiters do not pile up.
    domain = kFirstDomain + static_cast<int>(getpid()) % (kLastDomain - kFirstDomain + 1);
    Lock(directory, domain, true);
  }
  setenv("ROS_DOMAIN_ID", std::to_string(domain).c_str(), 1);
  return domain;
}

}  // namespace

int IsolateRosDomain() {
  static const int domain = ClaimDomain();
  return domain;
}

}  // namespace kestrava_arm::bt::testing
