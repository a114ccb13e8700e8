// Value conversions of BT::Any, convertFromString and port-name rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "behaviortree_cpp/basic_types.h"
#include "behaviortree_cpp/utils/safe_any.hpp"
#include "test_support.h"

namespace {

using bt_test::thrownText;

// The converted value as text, or "error: <text>" / "<kind>: <text>" when it fails.
template <typename T>
std::string castText(const BT::Any& any) {
  std::string text = "none";
  const auto thrown = thrownText([&] {
    const auto result = any.tryCast<T>();
    if (!result) {
      text = "error: " + result.error();
    } else if constexpr (std::is_same_v<T, std::string>) {
      text = *result;
    } else if constexpr (std::is_arithmetic_v<T>) {
      text = std::to_string(*result);
    } else {
      text = "converted";
    }
  });
  return thrown == "none" ? text : thrown;
}

struct ConversionCase {
  const char* name;
  std::function<std::string()> convert;
  std::string expected;
};

const std::string kVectorName = "std::vector<double, std::allocator<double> >";

TEST(BtAny, ConversionsFollowTheSafeCastRules) {
  const std::vector<ConversionCase> cases = {
      {"int to long", [] { return castText<int64_t>(BT::Any(42)); }, "42"},
      {"whole double to int", [] { return castText<int>(BT::Any(3.0)); }, "3"},
      {"string prefix to int", [] { return castText<int>(BT::Any("12x")); }, "12"},
      {"leading space", [] { return castText<int>(BT::Any(" 12")); },
       "error: Any failed string to number conversion"},
      {"leading plus", [] { return castText<double>(BT::Any("+1")); },
       "error: Any failed string to number conversion"},
      {"fraction to int", [] { return castText<int>(BT::Any(2.5)); },
       "std::runtime_error: Invalid floating point to integer conversion"},
      {"negative to unsigned", [] { return castText<unsigned>(BT::Any(-1)); },
       "std::runtime_error: Value is negative and can't be converted to unsigned"},
      {"above uint8", [] { return castText<uint8_t>(BT::Any(300)); },
       "std::runtime_error: Value outside the max numerical limit."},
      {"below int8", [] { return castText<int8_t>(BT::Any(-200)); },
       "std::runtime_error: Value outside the lovest numerical limit."},
      {"two to bool", [] { return castText<bool>(BT::Any(2)); },
       "std::runtime_error: Implicit casting to bool is not allowed"},
      {"one to bool", [] { return castText<bool>(BT::Any(1)); }, "1"},
      {"large int to double", [] { return castText<double>(BT::Any((int64_t{1} << 53) + 1)); },
       "std::runtime_error: Loss of precision when converting a large integer number to "
       "floating point:9007199254740993"},
      {"fraction to bool", [] { return castText<bool>(BT::Any(0.5)); }, "1"},
      {"int to string", [] { return castText<std::string>(BT::Any(42)); }, "42"},
      {"double to string", [] { return castText<std::string>(BT::Any(1.5)); }, "1.500000"},
      {"string to bool", [] { return castText<bool>(BT::Any(std::string("true"))); },
       "error: [Any::convert]: no known safe conversion between [std::string] and [bool]"},
      {"int to vector", [] { return castText<std::vector<double>>(BT::Any(3)); },
       "error: [Any::convert]: no known safe conversion between [int] and [" + kVectorName + "]"},
      {"empty", [] { return castText<int>(BT::Any()); },
       "std::runtime_error: Any::cast failed because it is empty"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.convert(), c.expected) << c.name;
  }
}

TEST(BtAny, RemembersTheOriginalTypeAndStoresIntegersWide) {
  const BT::Any any(7u);
  EXPECT_EQ(any.type(), typeid(unsigned int));
  EXPECT_EQ(any.castedType(), typeid(int64_t));
  EXPECT_TRUE(any.isNumber());
  EXPECT_EQ(any.cast<int>(), 7);
  EXPECT_THROW(static_cast<void>(any.cast<std::string_view>()), std::runtime_error);

  auto pointer = std::make_shared<int>(3);
  BT::Any holder(pointer);
  ASSERT_NE(holder.castPtr<std::shared_ptr<int>>(), nullptr);
  EXPECT_EQ(holder.castPtr<std::shared_ptr<double>>(), nullptr);
  EXPECT_EQ(holder.cast<std::shared_ptr<int>>(), pointer);
}

template <typename T>
std::string convertText(const char* text) {
  std::string result;
  const auto thrown = thrownText([&] {
    const T value = BT::convertFromString<T>(text);
    if constexpr (std::is_same_v<T, std::vector<double>>) {
      for (double element : value) {
        result += std::to_string(element) + ";";
      }
    } else {
      result = std::to_string(value);
    }
  });
  return thrown == "none" ? result : thrown;
}

struct Unconvertible {};

TEST(BtConvertFromString, ParsesPrefixesAndReportsFailures) {
  const std::vector<ConversionCase> cases = {
      {"double prefix", [] { return convertText<double>("12abc"); }, "12.000000"},
      {"double exponent", [] { return convertText<double>("1e3"); }, "1000.000000"},
      {"double space", [] { return convertText<double>(" 1"); },
       "RuntimeError: Can't convert string [ 1] to double"},
      {"double empty", [] { return convertText<double>(""); },
       "RuntimeError: Can't convert string [] to double"},
      {"int prefix", [] { return convertText<int>("3.7"); }, "3"},
      {"int text", [] { return convertText<int>("abc"); },
       "RuntimeError: Can't convert string [abc] to integer"},
      {"int range", [] { return convertText<int>("3000000000"); },
       "RuntimeError: Value out of bound when converting [3000000000] to integer"},
      {"bool True", [] { return convertText<bool>("True"); }, "1"},
      {"bool yes", [] { return convertText<bool>("yes"); },
       "RuntimeError: convertFromString(): invalid bool conversion"},
      {"vector", [] { return convertText<std::vector<double>>("1;2.5;"); }, "1.000000;2.500000;"},
      {"vector empty", [] { return convertText<std::vector<double>>(""); }, ""},
      {"vector comma", [] { return convertText<std::vector<double>>("1, 2"); }, "1.000000;"},
      {"vector hole", [] { return convertText<std::vector<double>>("1;;2"); },
       "RuntimeError: Can't convert string [] to double"},
      {"no specialization",
       [] {
         return thrownText([] { (void)BT::convertFromString<Unconvertible>("no conversion"); });
       },
       "LogicError: You didn't implement the template specialization of convertFromString for "
       "this type: " +
           BT::demangle(typeid(Unconvertible))},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.convert(), c.expected) << c.name;
  }
}

TEST(BtEnums, PrintTheirNames) {
  EXPECT_EQ(BT::toStr(BT::NodeStatus::SKIPPED), "SKIPPED");
  EXPECT_EQ(BT::toStr(BT::NodeType::SUBTREE), "SubTree");
  EXPECT_EQ(BT::toStr(BT::PortDirection::INOUT), "InOut");
  EXPECT_TRUE(BT::isStatusCompleted(BT::NodeStatus::FAILURE));
  EXPECT_FALSE(BT::isStatusCompleted(BT::NodeStatus::SKIPPED));
}

TEST(BtPortNames, AllowOnlyLetterFirstNamesWithoutReservedOrForbiddenCharacters) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"timeout_duration", true},
      {"a-1", true},
      {"x\xc3\xa9", true},
      {"", false},
      {"1x", false},
      {"_x", false},
      {"@x", false},
      {"name", false},
      {"ID", false},
      {"a b", false},
      {"a.b", false},
      {"a:b", false},
      {"a\x7f", false},
      {"a/b", false},
      {"\xc3\xa9", false},
  };
  for (const auto& [name, allowed] : cases) {
    EXPECT_EQ(BT::IsAllowedPortName(name), allowed) << name;
  }
  EXPECT_EQ(thrownText([] { (void)BT::InputPort<int>("_hidden"); }),
            "RuntimeError: The name of a port must not be `name` or `ID` and must start with an "
            "alphabetic character. Underscore is reserved.");
  const auto [name, info] = BT::OutputPort<std::vector<double>>("transfor_matrix", "pose");
  EXPECT_EQ(name, "transfor_matrix");
  EXPECT_EQ(info.direction(), BT::PortDirection::OUTPUT);
  EXPECT_EQ(info.typeName(), kVectorName);
  EXPECT_EQ(info.description(), "pose");
}

}  // namespace
