// The rcl/rmw name rules as rclcpp reports them: input rules, expansion, full-name rules.
#include <gtest/gtest.h>

#include <string>

#include "rclcpp/exceptions.hpp"
#include "rclcpp/expand_topic_or_service_name.hpp"

namespace {

using rclcpp::expand_topic_or_service_name;
using rclcpp::exceptions::InvalidNamespaceError;
using rclcpp::exceptions::InvalidNodeNameError;
using rclcpp::exceptions::InvalidServiceNameError;

TEST(ExpandServiceName, ExpandsRelativePrivateAndSubstitutedNames) {
  struct Case {
    const char* name;
    const char* namespace_;
    const char* expanded;
  };
  const Case cases[] = {
      {"srv", "/", "/srv"},
      {"srv", "/ns", "/ns/srv"},
      {"sub/srv", "/ns", "/ns/sub/srv"},
      {"/abs/srv", "/ns", "/abs/srv"},
      {"~", "/ns", "/ns/node"},
      {"~/srv", "/ns", "/ns/node/srv"},
      {"~/srv", "/", "/node/srv"},
      {"{node}/srv", "/ns", "/ns/node/srv"},
      {"/{node}{ns}", "/ns", "/node/ns"},
      {"{namespace}_x", "/ns", "/ns_x"},
      // rcl checks a tilde's follower only when it is not the last character.
      {"~a", "/ns", "/ns/nodea"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(expand_topic_or_service_name(c.name, "node", c.namespace_, true), c.expanded);
  }
}

TEST(ExpandServiceName, RejectsNamesWithTextAndIndex) {
  struct Case {
    std::string name;
    std::string reported_name;
    std::string message;
    size_t index;
  };
  const Case cases[] = {
      {"", "", "topic name must not be empty string", 0},
      {"1srv", "1srv", "topic name token must not start with a number", 0},
      {"srv/", "srv/", "topic name must not end with a forward slash", 3},
      {"/", "/", "topic name must not end with a forward slash", 0},
      {"~/", "~/", "topic name must not end with a forward slash", 1},
      {"my srv", "my srv",
       "topic name must not contain characters other than alphanumerics, '_', '~', '{', or '}'", 2},
      {"a~b", "a~b", "topic name must not have tilde '~' unless it is the first character", 1},
      {"a{b/c}", "a{b/c}",
       "substitution name must not contain characters other than alphanumerics or '_'", 3},
      {"a{{b}}", "a{{b}}",
       "substitution name must not contain characters other than alphanumerics or '_'", 2},
      {"a{1b}", "a{1b}", "substitution name must not start with a number", 2},
      {"a}b", "a}b", "topic name must not have unmatched (unbalanced) curly braces '{}'", 1},
      {"ab{cd", "ab{cd", "topic name must not have unmatched (unbalanced) curly braces '{}'", 2},
      {"a/1b", "a/1b", "topic name token must not start with a number", 2},
      {"~ab", "~ab",
       "topic name must not have a tilde '~' that is not followed by a forward slash '/'", 1},
      {"~a/1b", "~a/1b",
       "topic name must not have a tilde '~' that is not followed by a forward slash '/'", 1},
      {"a{~b}", "a{~b}", "topic name must not have tilde '~' unless it is the first character", 2},
      {"/a//b", "/a//b", "topic name must not contain repeated '/'", 3},
      {"a//b", "/ns/a//b", "topic name must not contain repeated '/'", 6},
      {std::string(244, 'a'), "/ns/" + std::string(244, 'a'),
       "topic length should not exceed '255U - 8U'", 246},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      expand_topic_or_service_name(c.name, "node", "/ns", true);
      ADD_FAILURE() << "no exception";
    } catch (const InvalidServiceNameError& e) {
      EXPECT_EQ(e.name_type, "service name");
      EXPECT_EQ(e.name, c.reported_name);
      EXPECT_EQ(e.error_msg, c.message);
      EXPECT_EQ(e.invalid_index, c.index);
    }
  }
}

TEST(ExpandServiceName, WhatPointsACaretAtTheOffendingCharacter) {
  try {
    expand_topic_or_service_name("my srv", "node", "/", true);
    FAIL() << "no exception";
  } catch (const InvalidServiceNameError& e) {
    EXPECT_STREQ(e.what(),
                 "Invalid service name: topic name must not contain characters other than "
                 "alphanumerics, '_', '~', '{', or '}':\n  'my srv'\n     ^\n");
  }
  try {
    expand_topic_or_service_name("", "node", "/", true);
    FAIL() << "no exception";
  } catch (const InvalidServiceNameError& e) {
    EXPECT_STREQ(e.what(),
                 "Invalid service name: topic name must not be empty string:\n  ''\n   ^\n");
  }
}

TEST(ExpandServiceName, OtherFailures) {
  EXPECT_THROW(expand_topic_or_service_name("", "node", "/ns", false),
               rclcpp::exceptions::InvalidTopicNameError)
      << "only services report as service names";
  EXPECT_THROW(expand_topic_or_service_name("srv", "1node", "/ns", true), InvalidNodeNameError);
  EXPECT_THROW(expand_topic_or_service_name("srv", "node", "ns", true), InvalidNamespaceError);
  try {
    expand_topic_or_service_name("srv/{foo}", "node", "/ns", true);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "topic name unexpectedly valid");
  }
}

}  // namespace
