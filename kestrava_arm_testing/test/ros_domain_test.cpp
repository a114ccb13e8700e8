#include "kestrava_arm_testing/ros_domain.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace kestrava_arm::bt::testing {
namespace {

// A process that claims a domain, reports it and keeps it until `hold` is closed.
class ClaimingChild {
 public:
  ClaimingChild() {
    EXPECT_EQ(pipe(report_.data()), 0);
    EXPECT_EQ(pipe(hold_.data()), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(hold_[1]);
      const int domain = IsolateRosDomain();
      char end = 0;
      _exit(write(report_[1], &domain, sizeof domain) == sizeof domain &&
                    read(hold_[0], &end, 1) == 0
                ? 0
                : 1);
    }
    close(report_[1]);
    close(hold_[0]);
  }

  ~ClaimingChild() {
    close(hold_[1]);
    close(report_[0]);
    int status = 0;
    waitpid(pid_, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  ClaimingChild(const ClaimingChild&) = delete;
  ClaimingChild& operator=(const ClaimingChild&) = delete;

  int Domain() {
    int domain = -1;
    EXPECT_EQ(read(report_[0], &domain, sizeof domain), static_cast<ssize_t>(sizeof domain));
    return domain;
  }

 private:
  std::array<int, 2> report_{};
  std::array<int, 2> hold_{};
  pid_t pid_ = -1;
};

TEST(IsolateRosDomainTest, GivesEveryLiveProcessADomainOfItsOwnInRosDomainId) {
  ClaimingChild child;
  const int childs_domain = child.Domain();
  const int domain = IsolateRosDomain();
  EXPECT_NE(domain, childs_domain);
  EXPECT_EQ(IsolateRosDomain(), domain);
  EXPECT_STREQ(std::getenv("ROS_DOMAIN_ID"), std::to_string(domain).c_str());
}

}  // namespace
}  // namespace kestrava_arm::bt::testing
