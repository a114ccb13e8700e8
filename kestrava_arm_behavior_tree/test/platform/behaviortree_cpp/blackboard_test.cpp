// Typed blackboard entries: which writes keep, retype or break an entry, and the read errors.
#include <gtest/gtest.h>

#include <memory>

#include "behaviortree_cpp/blackboard.h"
#include "test_support.h"

namespace {

using bt_test::thrownText;

struct Base {
  virtual ~Base() = default;
};
struct Derived : Base {};

struct WriteCase {
  const char* name;
  std::function<void(BT::Blackboard&)> writes;
  std::string outcome;
};

std::string typeChange(const std::string& previous, const std::string& current) {
  return "LogicError: Blackboard::set(k): once declared, the type of a port shall not change. "
         "Previously declared type [" +
         previous + "], current type [" + current + "]";
}

TEST(BtBlackboard, WritesKeepTheTypeOfTheEntry) {
  const std::vector<WriteCase> cases = {
      {"text leaves the entry untyped",
       [](auto& bb) {
         bb.set("k", std::string("abc"));
         bb.set("k", 3);
       },
       "none"},
      {"lossless number",
       [](auto& bb) {
         bb.set("k", 1);
         bb.set("k", 3.0);
       },
       "none"},
      {"lossy number",
       [](auto& bb) {
         bb.set("k", 1);
         bb.set("k", 2.5);
       },
       typeChange("int", "double")},
      {"out of range for the entry",
       [](auto& bb) {
         bb.set("k", uint8_t{1});
         bb.set("k", 300);
       },
       typeChange("unsigned char", "int")},
      {"parsable text",
       [](auto& bb) {
         bb.set("k", 1);
         bb.set("k", std::string("42"));
       },
       "none"},
      {"unparsable text",
       [](auto& bb) {
         bb.set("k", 1);
         bb.set("k", std::string("abc"));
       },
       "RuntimeError: Can't convert string [abc] to integer"},
      {"derived pointer into base entry",
       [](auto& bb) {
         bb.set("k", std::shared_ptr<Base>());
         bb.set("k", std::make_shared<Derived>());
       },
       typeChange("std::shared_ptr<(anonymous namespace)::Base>",
                  "std::shared_ptr<(anonymous namespace)::Derived>")},
      {"second text types the entry",
       [](auto& bb) {
         bb.set("k", std::string("a"));
         bb.set("k", std::string("b"));
         bb.set("k", 1);
       },
       typeChange("std::string", "int")},
      {"declared entry of another type",
       [](auto& bb) {
         bb.createEntry("k", BT::TypeInfo::Create<int>());
         bb.createEntry("k", BT::TypeInfo::Create<double>());
       },
       "LogicError: Blackboard entry [k]: once declared, the type of a port shall not change. "
       "Previously declared type [int], current type [double]"},
  };
  for (const auto& c : cases) {
    auto bb = BT::Blackboard::create();
    EXPECT_EQ(thrownText([&] { c.writes(*bb); }), c.outcome) << c.name;
  }
}

TEST(BtBlackboard, CompatibleWritesAreConvertedToTheEntryType) {
  auto bb = BT::Blackboard::create();
  bb->set("k", 1);
  bb->set("k", std::string("42"));
  EXPECT_EQ(bb->get<int>("k"), 42);
  EXPECT_EQ(bb->entryInfo("k")->type(), typeid(int));

  bb->set("text", std::string("abc"));
  EXPECT_FALSE(bb->entryInfo("text")->isStronglyTyped());
  EXPECT_EQ(bb->getEntry("text")->value.type(), typeid(std::string));
}

TEST(BtBlackboard, ReadsReportMissingEmptyAndUnconvertibleEntries) {
  auto bb = BT::Blackboard::create();
  bb->createEntry("empty", BT::TypeInfo::Create<int>());
  bb->set("text", std::string("true"));
  EXPECT_EQ(thrownText([&] { (void)bb->get<int>("nope"); }),
            "RuntimeError: Blackboard::get() error. Missing key [nope]");
  EXPECT_EQ(thrownText([&] { (void)bb->get<int>("empty"); }),
            "RuntimeError: Blackboard::get() error. Entry [empty] hasn't been initialized, yet");
  EXPECT_EQ(thrownText([&] { (void)bb->get<bool>("text"); }),
            "std::runtime_error: [Any::convert]: no known safe conversion between [std::string] "
            "and [bool]");

  int value = 5;
  EXPECT_FALSE(bb->get("nope", value));
  EXPECT_FALSE(bb->get("empty", value));
  EXPECT_EQ(value, 5);
}

TEST(BtBlackboard, ListsAndRemovesLocalKeys) {
  auto bb = BT::Blackboard::create();
  bb->set("a", 1);
  bb->set("b", 2);
  bb->unset("a");
  bb->unset("missing");
  const auto keys = bb->getKeys();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys.front(), "b");
  EXPECT_EQ(bb->getEntry("a"), nullptr);
}

}  // namespace
