// Runs the command blocks of README.md and of the pages of doc/ that call bt_host, ros2 or the
// own-host example (my_bt_host), each in a shell of its own, and fails when one fails or prints
// other results than the page shows, or warns of something deprecated. What a page shows is, per
// block, one of:
// - an output block (```text) after it, in the same section: each of its lines must appear in the
//   output, in this order, within an output line; "..." stands for lines left out;
// - on a command line, a comment ending in "-> SUCCESS" or "-> FAILURE", optionally followed by
//   ", <entry> <number>" pairs in the order the host prints the blackboard: that command, run after
//   the block's other lines, ends with that result, exit status 0 or 1 and those entries.
// Blocks run in a folder where build/ is this build folder and examples/ the examples, as in the
// repository; in this test's ROS domain.
// It also fails on a relative link of these pages that leads to no file, or to no heading of a
// page, and on a page of doc/ that the README does not link to.

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kestrava_arm_testing/child_process.hpp"
#include "kestrava_arm_testing/ros_domain.hpp"

namespace {

namespace fs = std::filesystem;

// A block that still runs after this long is taken to hang; the own-host page's builds a package.
constexpr const char* kHangLimitSeconds = "300";

struct Block {
  std::string language;
  std::string section;
  int line = 0;  // of the opening fence
  std::vector<std::string> lines;
};

struct Example {
  std::string name;
  std::string page;  // relative to the source folder, e.g. "doc/groot2.md"
  int line = 0;
  std::string script;
  int exit_status = 0;
  std::vector<std::string> shown;  // lines that must appear in the output, in this order
  std::string problem;             // what the test cannot read on the page; empty if none
};

std::string Location(const Example& example) {
  return example.page + ":" + std::to_string(example.line);
}

void PrintTo(const Example& example, std::ostream* out) {
  *out << Location(example);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    lines.push_back(line);
  }
  return lines;
}

// README.md, then the pages of doc/ in the order of their names; relative to the source folder.
std::vector<std::string> Pages() {
  std::vector<std::string> pages;
  for (const auto& entry : fs::directory_iterator(fs::path(KESTRAVA_SOURCE_DIR) / "doc")) {
    if (entry.path().extension() == ".md") {
      pages.push_back("doc/" + entry.path().filename().string());
    }
  }
  std::sort(pages.begin(), pages.end());
  pages.insert(pages.begin(), "README.md");
  return pages;
}

fs::path SourcePath(const std::string& page) {
  return fs::path(KESTRAVA_SOURCE_DIR) / page;
}

std::vector<std::string> ReadPage(const std::string& page) {
  return ReadLines(SourcePath(page).string());
}

bool IsFence(const std::string& line) {
  return line.rfind("```", 0) == 0;
}

bool IsHeading(const std::string& line) {
  return line.rfind("#", 0) == 0;
}

// "## The demo host" -> "The demo host".
std::string HeadingText(const std::string& line) {
  return line.substr(line.find(' ') + 1);
}

std::vector<Block> FencedBlocks(const std::vector<std::string>& lines) {
  std::vector<Block> blocks;
  std::string section;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (IsHeading(lines[i])) {
      section = HeadingText(lines[i]);
    } else if (IsFence(lines[i])) {
      Block block{lines[i].substr(3), section, static_cast<int>(i) + 1, {}};
      while (++i < lines.size() && !IsFence(lines[i])) {
        block.lines.push_back(lines[i]);
      }
      blocks.push_back(std::move(block));
    }
  }
  return blocks;
}

bool IsWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Whether `program` occurs in the text as a word of its own.
bool Calls(const std::string& text, const std::string& program) {
  for (std::size_t at = text.find(program); at != std::string::npos;
       at = text.find(program, at + 1)) {
    const std::size_t end = at + program.size();
    if ((at == 0 || !IsWordCharacter(text[at - 1])) &&
        (end == text.size() || !IsWordCharacter(text[end]))) {
      return true;
    }
  }
  return false;
}

// The lines as the text of a file.
std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

bool IsRunnableHere(const Block& block) {
  const std::string text = Joined(block.lines);
  const bool needs_ros2 = Calls(text, "ros2") || Calls(text, "my_bt_host");
  return block.language == "sh" && (Calls(text, "bt_host") || needs_ros2) &&
         (KESTRAVA_WITH_ROS2 || !needs_ros2);
}

// "The demo host" -> "TheDemoHost", "demo-host" -> "DemoHost".
std::string CamelCase(const std::string& words) {
  std::string name;
  bool word_start = true;
  for (const char c : words) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      name += word_start ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
      word_start = false;
    } else {
      word_start = c == ' ' || c == '-';
    }
  }
  return name;
}

// The annotation after "->" of a command line's comment, if it has one.
std::optional<std::string> Annotation(const std::string& line) {
  const std::size_t comment = line.find(" # ");
  const std::size_t arrow = line.rfind("->");
  if (comment == std::string::npos || arrow == std::string::npos || arrow < comment) {
    return std::nullopt;
  }
  return line.substr(arrow + 2);
}

bool IsEntry(const std::string& name, const std::string& number) {
  const auto is_digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  return !name.empty() && std::all_of(name.begin(), name.end(), IsWordCharacter) &&
         !number.empty() && std::all_of(number.begin(), number.end(), is_digit);
}

// "FAILURE, error_code 102300001" -> exit status 1, shown lines "result: FAILURE" and
// "  error_code = 102300001".
void ReadAnnotation(const std::string& annotation, Example& example) {
  std::istringstream parts(annotation);
  std::string result;
  parts >> result;
  const bool ends_with_comma = !result.empty() && result.back() == ',';
  if (ends_with_comma) {
    result.pop_back();
  }
  bool readable = result == "SUCCESS" || result == "FAILURE";
  example.exit_status = result == "SUCCESS" ? 0 : 1;
  example.shown.push_back("result: " + result);
  bool more = ends_with_comma;
  std::string name;
  std::string number;
  while (readable && more && parts >> name >> number) {
    more = number.back() == ',';
    if (more) {
      number.pop_back();
    }
    readable = IsEntry(name, number);
    example.shown.push_back("  " + name + " = " + number);
  }
  if (!readable || more || parts >> name) {
    example.problem = "unreadable outcome '" + annotation +
                      "': expected SUCCESS or FAILURE, then ', <entry> <number>' pairs";
  }
}

std::vector<std::string> ShownLines(const Block& output) {
  std::vector<std::string> shown;
  for (const std::string& line : output.lines) {
    if (!line.empty() && line != "...") {
      shown.push_back(line);
    }
  }
  return shown;
}

void AddExamplesOf(const Block& block, const Block* output, std::vector<Example>& examples) {
  std::string setup;
  std::vector<std::pair<int, std::string>> annotated;
  for (std::size_t i = 0; i < block.lines.size(); ++i) {
    if (Annotation(block.lines[i])) {
      annotated.emplace_back(block.line + 1 + static_cast<int>(i), block.lines[i]);
    } else {
      setup += block.lines[i] + "\n";
    }
  }
  if (annotated.empty()) {
    Example example{"", "", block.line + 1, setup, 0, {}, ""};
    if (output == nullptr) {
      example.problem = "the page shows no outcome for this block";
    } else {
      example.shown = ShownLines(*output);
    }
    examples.push_back(std::move(example));
  }
  for (const auto& [line, command] : annotated) {
    Example example{"", "", line, setup + command + "\n", 0, {}, ""};
    ReadAnnotation(*Annotation(command), example);
    examples.push_back(std::move(example));
  }
}

void AddExamplesOfPage(const std::string& page, std::vector<Example>& examples) {
  const std::vector<Block> blocks = FencedBlocks(ReadPage(page));
  const std::string page_name = CamelCase(fs::path(page).stem().string());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (!IsRunnableHere(blocks[i])) {
      continue;
    }
    const bool output_follows = i + 1 < blocks.size() && blocks[i + 1].language == "text" &&
                                blocks[i + 1].section == blocks[i].section;
    const std::size_t first_new = examples.size();
    AddExamplesOf(blocks[i], output_follows ? &blocks[i + 1] : nullptr, examples);
    for (std::size_t k = first_new; k < examples.size(); ++k) {
      examples[k].page = page;
      examples[k].name = page_name + "_" + CamelCase(blocks[i].section) + "_Line" +
                         std::to_string(examples[k].line);
    }
  }
}

std::vector<Example> DocumentedExamples() {
  std::vector<Example> examples;
  for (const std::string& page : Pages()) {
    AddExamplesOfPage(page, examples);
  }
  return examples;
}

// A folder laid out as the repository for the blocks' relative paths; removed with the object.
class ScratchFolder {
 public:
  // build/ holds the programs and the plugin as the stand-alone build leaves them; the package
  // folder its examples.
  ScratchFolder() {
    fs::create_directory(path() / "build");
    for (const fs::path built :
         {KESTRAVA_BT_HOST, KESTRAVA_PLUGIN, KESTRAVA_CHECK_PROGRAM, KESTRAVA_SIMULATED_SERVICE}) {
      if (!built.empty()) {
        fs::create_symlink(built, path() / "build" / built.filename());
      }
    }
    fs::create_directory_symlink(KESTRAVA_TOOLS_DIR, path() / "kestrava_arm_bt_tools");
  }

  const fs::path& path() const { return folder_.path(); }

 private:
  kestrava::test::TemporaryFolder folder_;
};

struct ScriptRun {
  int exit_status = 0;
  std::string output;  // standard output and error, interleaved as written
};

// Runs the script with `bash -e` under `timeout`, so that a hang ends, and then kills what is
// left of its process group: a background program of the script may outlive it.
ScriptRun RunScript(const std::string& script, const std::vector<std::string>& environment) {
  const ScratchFolder folder;
  const fs::path script_file = folder.path() / "example.sh";
  std::ofstream(script_file) << script;
  kestrava::test::BackgroundChild run(
      "timeout", {"--kill-after=10", kHangLimitSeconds, "bash", "-e", script_file.string()},
      environment, folder.path().string());
  const int exit_status = run.Wait();
  run.Stop(SIGKILL);
  return {exit_status, run.Output()};
}

// The first shown line that does not appear, within an output line, after the lines shown
// before it.
std::optional<std::string> FirstMissingLine(const std::vector<std::string>& shown,
                                            const std::string& output) {
  std::istringstream lines(output);
  std::string line;
  for (const std::string& expected : shown) {
    bool found = false;
    while (!found && std::getline(lines, line)) {
      found = line.find(expected) != std::string::npos;
    }
    if (!found) {
      return expected;
    }
  }
  return std::nullopt;
}

// The first output line that warns of something deprecated, such as a launch file's use of what
// a newer ROS 2 distribution deprecates.
std::optional<std::string> FirstDeprecationWarning(const std::string& output) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("deprecated") != std::string::npos) {
      return line;
    }
  }
  return std::nullopt;
}

class DocumentedExampleTest : public ::testing::TestWithParam<Example> {};

TEST_P(DocumentedExampleTest, PrintsWhatThePageShows) {
  const Example& example = GetParam();
  ASSERT_EQ(example.problem, "") << Location(example);
  kestrava_arm::bt::testing::IsolateRosDomain();
  const ScriptRun run = RunScript(example.script, kestrava::test::InheritedEnvironment({}, {}));
  const std::string context =
      Location(example) + "\n" + example.script + "--- printed:\n" + run.output;
  EXPECT_EQ(run.exit_status, example.exit_status) << context;
  EXPECT_EQ(FirstMissingLine(example.shown, run.output), std::nullopt) << context;
  EXPECT_EQ(FirstDeprecationWarning(run.output), std::nullopt) << context;
}

INSTANTIATE_TEST_SUITE_P(Blocks, DocumentedExampleTest, ::testing::ValuesIn(DocumentedExamples()),
                         [](const auto& info) { return info.param.name; });

struct ProseLine {
  int number = 0;
  std::string text;
};

// The lines of a page outside its fenced blocks.
std::vector<ProseLine> Prose(const std::vector<std::string>& lines) {
  std::vector<ProseLine> prose;
  bool in_block = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (IsFence(lines[i])) {
      in_block = !in_block;
    } else if (!in_block) {
      prose.push_back({static_cast<int>(i) + 1, lines[i]});
    }
  }
  return prose;
}

// The anchor a heading gets: "## The `DetectToiletInfo` node" -> "the-detecttoiletinfo-node".
std::string Anchor(const std::string& heading) {
  std::string anchor;
  for (const char c : HeadingText(heading)) {
    if (IsWordCharacter(c) || c == '-') {
      anchor += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (c == ' ') {
      anchor += '-';
    }
  }
  return anchor;
}

bool HasHeading(const fs::path& page, const std::string& anchor) {
  const std::vector<ProseLine> prose = Prose(ReadLines(page.string()));
  return std::any_of(prose.begin(), prose.end(), [&anchor](const ProseLine& line) {
    return IsHeading(line.text) && Anchor(line.text) == anchor;
  });
}

struct Link {
  int line = 0;
  std::string target;  // as written, e.g. "groot2.md#the-node-palette"
};

// The targets of the Markdown links "](target)" of a line: no blank and no ')' within.
std::vector<std::string> LinkTargets(const std::string& text) {
  std::vector<std::string> targets;
  for (std::size_t open = text.find("]("); open != std::string::npos;
       open = text.find("](", open + 2)) {
    const std::size_t begin = open + 2;
    const std::size_t end = text.find_first_of(") \t", begin);
    if (end != std::string::npos && end > begin && text[end] == ')') {
      targets.push_back(text.substr(begin, end - begin));
    }
  }
  return targets;
}

std::vector<Link> RelativeLinks(const std::string& page) {
  std::vector<Link> links;
  for (const ProseLine& line : Prose(ReadPage(page))) {
    for (const std::string& target : LinkTargets(line.text)) {
      if (target.find("://") == std::string::npos) {
        links.push_back({line.number, target});
      }
    }
  }
  return links;
}

// Why a link of the page leads nowhere; empty when it leads to a file and, after "#", to a
// heading of it.
std::string WhyBroken(const std::string& page, const std::string& target) {
  const std::size_t hash = target.find('#');
  const fs::path file =
      hash == 0 ? SourcePath(page) : SourcePath(page).parent_path() / target.substr(0, hash);
  if (!fs::exists(file)) {
    return "no file " + file.lexically_normal().string();
  }
  if (hash != std::string::npos && !HasHeading(file, target.substr(hash + 1))) {
    return "no heading for " + target;
  }
  return "";
}

class PageLinkTest : public ::testing::TestWithParam<std::string> {};

TEST_P(PageLinkTest, LeadsToFilesAndHeadings) {
  for (const Link& link : RelativeLinks(GetParam())) {
    EXPECT_EQ(WhyBroken(GetParam(), link.target), "") << GetParam() << ":" << link.line;
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, PageLinkTest, ::testing::ValuesIn(Pages()), [](const auto& info) {
  return CamelCase(fs::path(info.param).stem().string());
});

// The page shows the package a reader copies: each file whole, as the one block of its language.
TEST(OwnHostPageTest, ShowsTheFilesOfThePackage) {
  const fs::path package = fs::path(KESTRAVA_TOOLS_DIR) / "examples" / "my_bt_host";
  const std::vector<Block> blocks = FencedBlocks(ReadPage("doc/own-host.md"));
  for (const auto& [language, file] : {std::pair{"xml", "package.xml"},
                                       {"cmake", "CMakeLists.txt"},
                                       {"cpp", "src/my_bt_host.cpp"}}) {
    std::vector<std::string> shown;
    for (const Block& block : blocks) {
      if (block.language == language) {
        shown.push_back(Joined(block.lines));
      }
    }
    std::ifstream stream(package / file);
    std::ostringstream text;
    text << stream.rdbuf();
    EXPECT_THAT(shown, ::testing::ElementsAre(text.str())) << file;
  }
}

TEST(ReadmeTest, LinksToEveryPageOfDoc) {
  std::set<std::string> linked;
  for (const Link& link : RelativeLinks("README.md")) {
    linked.insert(
        fs::path(link.target.substr(0, link.target.find('#'))).lexically_normal().string());
  }
  for (const std::string& page : Pages()) {
    EXPECT_TRUE(page == "README.md" || linked.count(page) == 1) << "README.md links to no " << page;
  }
}

}  // namespace
