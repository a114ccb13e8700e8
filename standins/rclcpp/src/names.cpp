#include "names.hpp"

#include <stdexcept>

#include "rclcpp/exceptions.hpp"
#include "rclcpp/expand_topic_or_service_name.hpp"

namespace rclcpp::detail {
namespace {

constexpr size_t kTopicMaxLength = 255U - 8U;
constexpr size_t kNamespaceMaxLength = kTopicMaxLength - 2U;
constexpr size_t kNodeNameMaxLength = 255U;

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_alnum(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_token_char(char c) {
  return is_alnum(c) || c == '_';
}

// Texts of the rules that full names and namespaces share.
struct AbsoluteNameTexts {
  const char* empty;
  const char* not_absolute;
  const char* trailing_slash;
  const char* characters;
  const char* repeated_slash;
  const char* token_number;
};

constexpr AbsoluteNameTexts kTopicTexts{
    "topic name must not be empty",
    "topic name must be absolute, it must lead with a '/'",
    "topic name must not end with a '/'",
    "topic name must not contain characters other than alphanumerics, '_', or '/'",
    "topic name must not contain repeated '/'",
    "topic name must not have a token that starts with a number"};

constexpr AbsoluteNameTexts kNamespaceTexts{
    "namespace must not be empty",
    "namespace must be absolute, it must lead with a '/'",
    "namespace must not end with a '/', unless only a '/'",
    "namespace must not contain characters other than alphanumerics, '_', or '/'",
    "namespace must not contain repeated '/'",
    "namespace must not have a token that starts with a number"};

std::optional<NameIssue> validate_absolute_name(const std::string& name,
                                                const AbsoluteNameTexts& texts) {
  if (name.empty()) {
    return NameIssue{texts.empty, 0};
  }
  if (name.front() != '/') {
    return NameIssue{texts.not_absolute, 0};
  }
  if (name.back() == '/') {
    return NameIssue{texts.trailing_slash, name.size() - 1};
  }
  for (size_t i = 0; i < name.size(); ++i) {
    if (!is_token_char(name[i]) && name[i] != '/') {
      return NameIssue{texts.characters, i};
    }
  }
  for (size_t i = 0; i + 1 < name.size(); ++i) {
    if (name[i] != '/') {
      continue;
    }
    if (name[i + 1] == '/') {
      return NameIssue{texts.repeated_slash, i + 1};
    }
    if (is_digit(name[i + 1])) {
      return NameIssue{texts.token_number, i + 1};
    }
  }
  return std::nullopt;
}

constexpr const char* kUnmatchedBrace =
    "topic name must not have unmatched (unbalanced) curly braces '{}'";
constexpr const char* kTokenStartsWithNumber = "topic name token must not start with a number";

constexpr size_t kNoBrace = std::string::npos;

constexpr const char* kSubstitutionCharacters =
    "substitution name must not contain characters other than alphanumerics or '_'";

// One character of an input name, in rcl's order of checks; `brace` is the index of the open
// '{', or kNoBrace.
std::optional<NameIssue> check_input_char(const std::string& name, size_t i, size_t& brace) {
  const char c = name[i];
  const bool in_braces = brace != kNoBrace;
  if (is_alnum(c)) {
    if (in_braces && is_digit(c) && i == brace + 1) {
      return NameIssue{"substitution name must not start with a number", i};
    }
    return std::nullopt;
  }
  if (c == '_') {
    return std::nullopt;
  }
  if (c == '/') {
    return in_braces ? std::optional<NameIssue>(NameIssue{kSubstitutionCharacters, i})
                     : std::nullopt;
  }
  if (c == '~') {
    return i == 0 ? std::nullopt
                  : std::optional<NameIssue>(NameIssue{
                        "topic name must not have tilde '~' unless it is the first character", i});
  }
  if (c == '{') {
    if (in_braces) {
      return NameIssue{kSubstitutionCharacters, i};
    }
    brace = i;
    return std::nullopt;
  }
  if (c == '}') {
    if (!in_braces) {
      return NameIssue{kUnmatchedBrace, i};
    }
    brace = kNoBrace;
    return std::nullopt;
  }
  if (in_braces) {
    return NameIssue{kSubstitutionCharacters, i};
  }
  return NameIssue{
      "topic name must not contain characters other than alphanumerics, '_', '~', '{', or '}'", i};
}

std::optional<std::string> substitute(const std::string& name, const std::string& node_name,
                                      const std::string& namespace_) {
  std::string result;
  size_t pos = 0;
  for (size_t open = name.find('{'); open != std::string::npos; open = name.find('{', pos)) {
    const size_t close = name.find('}', open);
    const std::string key = name.substr(open + 1, close - open - 1);
    result += name.substr(pos, open - pos);
    if (key == "node") {
      result += node_name;
    } else if (key == "ns" || key == "namespace") {
      result += namespace_;
    } else {
      return std::nullopt;
    }
    pos = close + 1;
  }
  return result + name.substr(pos);
}

}  // namespace

std::optional<NameIssue> validate_input_name(const std::string& name) {
  if (name.empty()) {
    return NameIssue{"topic name must not be empty string", 0};
  }
  if (is_digit(name.front())) {
    return NameIssue{kTokenStartsWithNumber, 0};
  }
  if (name.back() == '/') {
    return NameIssue{"topic name must not end with a forward slash", name.size() - 1};
  }
  size_t brace = kNoBrace;
  for (size_t i = 0; i < name.size(); ++i) {
    if (auto issue = check_input_char(name, i, brace)) {
      return issue;
    }
  }
  if (brace != kNoBrace) {
    return NameIssue{kUnmatchedBrace, brace};
  }
  // rcl checks the character after each one but the last, so a two-character name such as
  // "~a" passes the tilde rule (and expands to "<namespace>/<node>a").
  for (size_t i = 0; i + 1 < name.size(); ++i) {
    if (name[i] == '/') {
      if (is_digit(name[i + 1])) {
        return NameIssue{kTokenStartsWithNumber, i + 1};
      }
    } else if (i == 1 && name.front() == '~') {
      return NameIssue{
          "topic name must not have a tilde '~' that is not followed by a forward slash '/'", 1};
    }
  }
  return std::nullopt;
}

std::optional<NameIssue> validate_full_name(const std::string& name) {
  if (auto issue = validate_absolute_name(name, kTopicTexts)) {
    return issue;
  }
  if (name.size() > kTopicMaxLength) {
    return NameIssue{"topic length should not exceed '255U - 8U'", kTopicMaxLength - 1};
  }
  return std::nullopt;
}

std::optional<NameIssue> validate_namespace(const std::string& namespace_) {
  if (namespace_ == "/") {
    return std::nullopt;
  }
  if (auto issue = validate_absolute_name(namespace_, kNamespaceTexts)) {
    return issue;
  }
  if (namespace_.size() > kNamespaceMaxLength) {
    return NameIssue{"namespace should not exceed '245'", kNamespaceMaxLength - 1};
  }
  return std::nullopt;
}

std::optional<NameIssue> validate_node_name(const std::string& node_name) {
  if (node_name.empty()) {
    return NameIssue{"node name must not be empty", 0};
  }
  for (size_t i = 0; i < node_name.size(); ++i) {
    if (!is_token_char(node_name[i])) {
      return NameIssue{"node name must not contain characters other than alphanumerics or '_'", i};
    }
  }
  if (is_digit(node_name.front())) {
    return NameIssue{"node name must not start with a number", 0};
  }
  if (node_name.size() > kNodeNameMaxLength) {
    return NameIssue{"node name length should not exceed '255'", kNodeNameMaxLength - 1};
  }
  return std::nullopt;
}

std::string join_namespace(const std::string& namespace_, const std::string& name) {
  return namespace_ == "/" ? "/" + name : namespace_ + "/" + name;
}

std::optional<std::string> expand_name(const std::string& name, const std::string& node_name,
                                       const std::string& namespace_) {
  if (name.front() == '/' && name.find('{') == std::string::npos) {
    return name;
  }
  const std::string unprefixed =
      name.front() == '~' ? join_namespace(namespace_, node_name) + name.substr(1) : name;
  auto expanded = substitute(unprefixed, node_name, namespace_);
  if (expanded && expanded->front() != '/') {
    return join_namespace(namespace_, *expanded);
  }
  return expanded;
}

}  // namespace rclcpp::detail

namespace rclcpp {

std::string expand_topic_or_service_name(const std::string& name, const std::string& node_name,
                                         const std::string& namespace_, bool is_service) {
  const auto throw_name_error = [is_service](const std::string& bad_name,
                                             const detail::NameIssue& issue) {
    if (is_service) {
      throw exceptions::InvalidServiceNameError(bad_name.c_str(), issue.message, issue.index);
    }
    throw exceptions::InvalidTopicNameError(bad_name.c_str(), issue.message, issue.index);
  };
  if (auto issue = detail::validate_input_name(name)) {
    throw_name_error(name, *issue);
  }
  if (auto issue = detail::validate_node_name(node_name)) {
    throw exceptions::InvalidNodeNameError(node_name.c_str(), issue->message, issue->index);
  }
  if (auto issue = detail::validate_namespace(namespace_)) {
    throw exceptions::InvalidNamespaceError(namespace_.c_str(), issue->message, issue->index);
  }
  const auto expanded = detail::expand_name(name, node_name, namespace_);
  if (!expanded) {
    throw std::runtime_error("topic name unexpectedly valid");
  }
  if (auto issue = detail::validate_full_name(*expanded)) {
    throw_name_error(*expanded, *issue);
  }
  return *expanded;
}

}  // namespace rclcpp
