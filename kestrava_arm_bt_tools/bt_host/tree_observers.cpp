#include "tree_observers.hpp"

#include <stdexcept>

#include <fmt/core.h>

#include "host_log.hpp"

#if KESTRAVA_BT_GROOT2_PUBLISHER
#include "behaviortree_cpp/loggers/groot2_publisher.h"
#endif
#if KESTRAVA_BT_FILE_LOGGER2
#include "behaviortree_cpp/loggers/bt_file_logger_v2.h"
#endif

namespace kestrava_arm::host {

bool CanPublishToGroot2() {
  return KESTRAVA_BT_GROOT2_PUBLISHER;
}

bool CanRecordForGroot2() {
  return KESTRAVA_BT_FILE_LOGGER2;
}

std::string BehaviorTreeBuild() {
  return KESTRAVA_BT_DESCRIPTION;
}

// A build without a logger never gets its option past the command line (host_options.cpp), so
// each member exists only where its logger does.
struct TreeObservers::Loggers {
#if KESTRAVA_BT_GROOT2_PUBLISHER
  std::unique_ptr<BT::Groot2Publisher> publisher;
#endif
#if KESTRAVA_BT_FILE_LOGGER2
  std::unique_ptr<BT::FileLogger2> recorder;
#endif
};

TreeObservers::TreeObservers([[maybe_unused]] const BT::Tree& tree,
                             [[maybe_unused]] const HostOptions& options)
    : loggers_(std::make_unique<Loggers>()) {
#if KESTRAVA_BT_GROOT2_PUBLISHER
  if (options.groot2_port) {
    const unsigned port = *options.groot2_port;
    try {
      loggers_->publisher = std::make_unique<BT::Groot2Publisher>(tree, port);
    } catch (const std::exception& error) {
      throw std::runtime_error(
          fmt::format("cannot publish the tree to Groot2 on ports {} and {}: {}", port, port + 1,
                      error.what()));
    }
    HostLog().warn(
        "publishing the tree to Groot2 on ports {} and {} of every network interface: whoever "
        "reaches them can set breakpoints and change what nodes return",
        port, port + 1);
  }
#endif
#if KESTRAVA_BT_FILE_LOGGER2
  if (options.record_file) {
    try {
      loggers_->recorder = std::make_unique<BT::FileLogger2>(tree, *options.record_file);
    } catch (const std::exception& error) {
      throw std::runtime_error(
          fmt::format("cannot record the tree to '{}': {}", *options.record_file, error.what()));
    }
    HostLog().info("recording every status change to {}", *options.record_file);
  }
#endif
}

TreeObservers::~TreeObservers() = default;

}  // namespace kestrava_arm::host
