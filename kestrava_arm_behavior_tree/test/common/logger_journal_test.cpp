// Reads back what the facade wrote to the real systemd journal.
#include <sys/wait.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kestrava_arm_testing/child_process.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct Record {
  std::string message;
  std::string priority;
  std::string identifier;
  std::string code_file;
  std::string code_line;
  std::string code_func;
};

struct JournalCloser {
  void operator()(sd_journal* journal) const { sd_journal_close(journal); }
};
using Journal = std::unique_ptr<sd_journal, JournalCloser>;

std::string Field(sd_journal* journal, const std::string& name) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (sd_journal_get_data(journal, name.c_str(), &data, &length) < 0) {
    return {};
  }
  return std::string(static_cast<const char*>(data), length).substr(name.size() + 1);
}

// When a child is about to start, in the journal's clock (microseconds of CLOCK_REALTIME).
std::uint64_t JournalNow() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

// Records of one process, written since `since`, whose message contains tag; waits for journald
// until `wanted` are there or the deadline has passed. The start time matters: the journal
// outlives test runs, and an earlier process may have had the same pid.
std::vector<Record> ReadRecords(int pid, std::uint64_t since, const std::string& tag,
                                std::size_t wanted, Clock::duration patience) {
  sd_journal* raw = nullptr;
  if (sd_journal_open(&raw, SD_JOURNAL_LOCAL_ONLY) < 0) {
    ADD_FAILURE() << "sd_journal_open failed";
    return {};
  }
  const Journal journal(raw);
  const std::string pid_match = "_PID=" + std::to_string(pid);
  sd_journal_add_match(raw, pid_match.c_str(), 0);
  sd_journal_seek_realtime_usec(raw, since);
  const Clock::time_point deadline = Clock::now() + patience;
  std::vector<Record> records;
  while (true) {
    while (sd_journal_next(raw) > 0) {
      Record record{Field(raw, "MESSAGE"),           Field(raw, "PRIORITY"),
                    Field(raw, "SYSLOG_IDENTIFIER"), Field(raw, "CODE_FILE"),
                    Field(raw, "CODE_LINE"),         Field(raw, "CODE_FUNC")};
      if (record.message.find(tag) != std::string::npos) {
        records.push_back(record);
      }
    }
    if (records.size() >= wanted || Clock::now() >= deadline) {
      return records;
    }
    sd_journal_wait(raw, 100'000);
  }
}

std::string UniqueTag(const std::string& name) {
  return name + "-" + std::to_string(getpid()) + "-" +
         std::to_string(Clock::now().time_since_epoch().count());
}

struct ProbeRun {
  int pid = 0;
  std::uint64_t since = 0;
  std::string out;
  std::string file;
  std::string info_line;
  std::string error_line;
};

ProbeRun RunProbe(const std::vector<std::string>& logging_variables, const std::string& tag) {
  const std::uint64_t since = JournalNow();
  const kestrava::test::ChildOutput child = kestrava::test::RunChild(
      KESTRAVA_LOG_DRIVER, {"journal", tag}, kestrava::test::LoggingEnvironment(logging_variables));
  EXPECT_TRUE(WIFEXITED(child.wait_status) && WEXITSTATUS(child.wait_status) == 0) << child.err;
  ProbeRun run{child.pid, since, child.out, {}, {}, {}};
  std::istringstream locations(child.err);
  std::getline(locations, run.file);
  std::getline(locations, run.info_line);
  std::getline(locations, run.error_line);
  return run;
}

class JournalTest : public testing::Test {
 protected:
  void SetUp() override {
    if (access("/run/systemd/journal/socket", W_OK) == 0) {
      return;
    }
    if (std::getenv("CI") != nullptr) {
      FAIL() << "no systemd journal reachable; scripts/start-journald.sh starts one";
    }
    GTEST_SKIP() << "no systemd journal reachable (/run/systemd/journal/socket)";
  }
};

TEST_F(JournalTest, JournalOnlyRecordsCarryTextLevelIdentifierAndLocation) {
  const std::string tag = UniqueTag("journal-only");
  const ProbeRun run =
      RunProbe({"SPDLOG_STDOUT=false", "SPDLOG_SYSTEMD=true", "SPDLOG_LEVEL=info"}, tag);
  EXPECT_EQ(run.out, "");
  const std::vector<Record> records =
      ReadRecords(run.pid, run.since, tag, 2, std::chrono::seconds(20));
  ASSERT_EQ(records.size(), 2U);
  const std::string info_priority = std::to_string(LOG_INFO);
  const std::string error_priority = std::to_string(LOG_ERR);
  EXPECT_EQ(records[0].message, "  1 [INFO] " + tag + " info");
  EXPECT_EQ(records[1].message, "  2 [ERROR] " + tag + " error");
  EXPECT_EQ(records[0].priority, info_priority);
  EXPECT_EQ(records[1].priority, error_priority);
  EXPECT_EQ(records[0].code_line, run.info_line);
  EXPECT_EQ(records[1].code_line, run.error_line);
  for (const Record& record : records) {
    EXPECT_EQ(record.identifier, "spdlog");
    EXPECT_EQ(record.code_file, run.file);
    EXPECT_EQ(record.code_func, "WriteJournalProbe");
  }
}

TEST_F(JournalTest, BothSinksWriteTheSameText) {
  const std::string tag = UniqueTag("both");
  const ProbeRun run =
      RunProbe({"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=true", "SPDLOG_LEVEL=error"}, tag);
  EXPECT_EQ(run.out, "  1 [ERROR] " + tag + " error\n");
  const std::vector<Record> records =
      ReadRecords(run.pid, run.since, tag, 1, std::chrono::seconds(20));
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].message, "  1 [ERROR] " + tag + " error");
}

TEST_F(JournalTest, RecordsCarryTheTextWithoutTerminalEscapes) {
  const std::uint64_t since = JournalNow();
  const kestrava::test::ChildOutput child = kestrava::test::RunChild(
      KESTRAVA_LOG_DRIVER, {"script", "t"},
      kestrava::test::LoggingEnvironment(
          {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=true", "SPDLOG_LEVEL=info"}));
  ASSERT_TRUE(WIFEXITED(child.wait_status) && WEXITSTATUS(child.wait_status) == 0) << child.err;
  EXPECT_EQ(child.out,
            "  1 [INFO] \033[1;35mcost\033[0m \033]8;;http://host/a\033\\link\033]8;;\a "
            "\033(B\033[?25hplain\033[1;3\n");
  const std::vector<Record> records =
      ReadRecords(child.pid, since, "", 1, std::chrono::seconds(20));
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].message, "  1 [INFO] cost link plain");
}

TEST_F(JournalTest, JournalStaysOffUnlessSetToTrue) {
  const std::vector<std::string> off_values{"", "SPDLOG_SYSTEMD=TRUE", "SPDLOG_SYSTEMD=1",
                                            "SPDLOG_SYSTEMD=false"};
  std::vector<std::pair<ProbeRun, std::string>> off_runs;
  for (const std::string& value : off_values) {
    const std::string tag = UniqueTag("off");
    std::vector<std::string> logging_variables{"SPDLOG_STDOUT=false"};
    if (!value.empty()) {
      logging_variables.push_back(value);
    }
    off_runs.emplace_back(RunProbe(logging_variables, tag), tag);
  }
  // journald takes datagrams in order, so once a later run's records are in, any of the earlier
  // runs would be too.
  const std::string marker = UniqueTag("marker");
  const ProbeRun marker_run = RunProbe({"SPDLOG_STDOUT=false", "SPDLOG_SYSTEMD=true"}, marker);
  ASSERT_EQ(
      ReadRecords(marker_run.pid, marker_run.since, marker, 2, std::chrono::seconds(20)).size(),
      2U);
  for (const auto& [run, tag] : off_runs) {
    EXPECT_TRUE(ReadRecords(run.pid, run.since, tag, 0, Clock::duration::zero()).empty()) << tag;
  }
}

}  // namespace
