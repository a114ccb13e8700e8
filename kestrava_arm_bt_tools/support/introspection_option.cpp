#include "kestrava_arm_host/introspection_option.hpp"

#include <optional>

namespace kestrava_arm::host {
namespace {

bt::IntrospectionMode ParseIntrospectionOption(const std::string& text) {
  const std::optional<bt::IntrospectionMode> mode = bt::ParseIntrospectionMode(text);
  if (!mode) {
    throw UsageError("--introspection needs off, metadata or contents, not '" + text + "'");
  }
  const std::optional<std::string> unsupported = bt::IntrospectionUnsupported();
  if (*mode != bt::IntrospectionMode::kOff && unsupported) {
    throw UsageError("--introspection " + text + ": " + *unsupported);
  }
  return *mode;
}

}  // namespace

OptionDefinition IntrospectionOption(const std::string& publisher, bt::IntrospectionMode& target) {
  const std::optional<std::string> unsupported = bt::IntrospectionUnsupported();
  return {"--introspection", "MODE",
          "service introspection: " + publisher +
              " publishes an event for every request and answer on <service>/_service_event, "
              "with the documents (contents), without them (metadata) or not at all (off, the "
              "default)" +
              (unsupported ? ". Not in this build: " + *unsupported + "." : ""),
          [&target](const std::string& value) { target = ParseIntrospectionOption(value); }};
}

}  // namespace kestrava_arm::host
