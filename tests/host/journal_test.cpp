// The journal of deliveries: its file across runs and versions, and its
// listing.
#include "host/tools/journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "host/tools/journal_list.h"

namespace zarvo::host {
namespace {

TEST(Journal, deliveries_survive_reopening_the_file) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zarvo-journal-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  {
    Journal journal(path.string());
    journal.record({1, 2, 7, 2.0, 100.0});
    journal.record({1, 3, 8, 1.5, 60.0});
  }
  Journal reopened(path.string());
  EXPECT_EQ(reopened.count(), 2);
  const Journal listing(path.string(), Journal::Access::kRead);
  const auto rows = listing.rows_since("");
  ASSERT_EQ(rows.size(), 2U);
  EXPECT_EQ(rows[1].entry.transaction, 8U);
  EXPECT_THAT(rows[1].recorded_at, ::testing::MatchesRegex("20[0-9-]+T[0-9:.]+Z"));
  EXPECT_EQ(listing.rows_since("2999-01-01").size(), 0U);
  EXPECT_EQ(listing.rows_since("2000-01-01 00:00+03:00").size(), 2U);
  std::filesystem::remove(path);
  EXPECT_THROW(Journal("/nonexistent/dir/journal.db"), std::runtime_error);
  // Reading neither creates a missing file nor takes another file for a journal.
  EXPECT_THROW(Journal(path.string(), Journal::Access::kRead), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_THROW(Journal("/etc/hostname", Journal::Access::kRead), std::runtime_error);
}

TEST(Journal, a_journal_of_the_first_version_is_brought_up_to_date_without_loss) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zarvo-old-journal-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db,
               "CREATE TABLE deliveries (id INTEGER PRIMARY KEY, recorded_at TEXT NOT NULL DEFAULT "
               "(strftime('%Y-%m-%dT%H:%M:%fZ', 'now')), line INTEGER NOT NULL, pump INTEGER NOT "
               "NULL, transaction_no INTEGER NOT NULL, volume REAL NOT NULL, amount REAL NOT NULL);"
               "INSERT INTO deliveries (line, pump, transaction_no, volume, amount) VALUES"
               " (1, 2, 7, 2.5, 16.25), (1, 2, 7, 2.5, 16.25), (1, 3, 1, 1.0, 6.5);",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  // Listed as it is, then taken over for writing: every row stays.
  EXPECT_EQ(Journal(path.string(), Journal::Access::kRead).rows_since("").size(), 3U);
  Journal journal(path.string());
  EXPECT_EQ(journal.count(), 3);
  EXPECT_FALSE(journal.record_once({1, 2, 7, 2.5, 16.25}));
  EXPECT_TRUE(journal.record_once({1, 2, 8, 2.5, 16.25}));
  EXPECT_FALSE(journal.record_once({1, 2, 8, 2.5, 16.25}));
  EXPECT_FALSE(journal.record_once({1, 3, 1, 1.0, 6.5}));
  std::filesystem::remove(path);
}

TEST(Journal, csv_fields_are_quoted_only_when_they_must_be) {
  EXPECT_EQ(csv_field("2026-12-09T01:15:23.123Z"), "2026-12-09T01:15:23.123Z");
  EXPECT_EQ(csv_field("a,b"), "\"a,b\"");
  EXPECT_EQ(csv_field("say \"hi\"\n"), "\"say \"\"hi\"\"\n\"");
}

TEST(SoakJournal, the_entries_after_a_row_are_those_of_this_run) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zarvo-soak-journal-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  {
    Journal journal(path.string());
    EXPECT_EQ(journal.last_id(), 0);
    journal.record({1, 2, 7, 2.0, 100.0});
  }
  Journal journal(path.string());
  const std::int64_t before = journal.last_id();
  EXPECT_EQ(before, 1);
  journal.record({1, 3, 8, 1.5, 60.25});
  const auto entries = journal.entries_after(before);
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_EQ(entries[0].pump, 3U);
  EXPECT_EQ(entries[0].transaction, 8U);
  EXPECT_DOUBLE_EQ(entries[0].volume, 1.5);
  EXPECT_DOUBLE_EQ(entries[0].amount, 60.25);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace zarvo::host
