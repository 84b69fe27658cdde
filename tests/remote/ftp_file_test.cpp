#include "ftp/remote/ftp_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pellan {
namespace {

TEST(SafeLocalFileName, RefusesWhatCouldLeaveTheFolder) {
  const struct {
    std::string name;
    bool safe;
  } rows[] = {
      {"a.txt", true},
      {".hidden", true},
      {" leading and trailing ", true},
      {"中文名.txt", true},
      {std::string("\xB2\xE2\xCA\xD4", 4), true},  // bytes kept from another code page
      {"", false},
      {".", false},
      {"..", false},
      {"dir/R1.txt", false},
      {"../up", false},
      {"a\\b", false},
      {"..\\..\\x", false},
      {std::string("a\0b", 3), false},
  };
  for (const auto& r : rows) EXPECT_EQ(IsSafeLocalFileName(r.name), r.safe) << r.name;
}

TEST(FtpFile, LastWriteTimeAlwaysReadsAsMinuteDate) {
  const struct {
    std::string assigned;
    std::string stored;
  } rows[] = {
      {"2024-01-15 15:45", "2024-01-15 15:45"},
      {"2024-01-15 15:45:59", "2024-01-15 15:45"},  // seconds dropped, not rounded
      {"2024-01-15", "2024-01-15 00:00"},
      {"0999-01-02 03:04", "0999-01-02 03:04"},
      {"2023-02-29 10:00", "1899-12-30 00:00"},  // no such day
      {"2024-13-01 10:00", "1899-12-30 00:00"},
      {"2024-01-15 24:00", "1899-12-30 00:00"},
      {"2024-1-15 10:00", "1899-12-30 00:00"},
      {"", "1899-12-30 00:00"},
  };
  for (const auto& r : rows) {
    CFtpFile f;
    f.SetLastWriteTime(std::string_view(r.assigned));
    EXPECT_EQ(f.LastWriteTime(), r.stored) << r.assigned;
  }
  CFtpFile fresh;
  EXPECT_EQ(fresh.LastWriteTime(), "1899-12-30 00:00");
  fresh.SetLastWriteTime(ListDate{2024, 3, 5, 7, 9});
  EXPECT_EQ(fresh.LastWriteTime(), "2024-03-05 07:09");
}

TEST(FtpFile, ChangingASharedColumnChangesThatRecordOnly) {
  const auto shared = std::make_shared<const FileColumns>(FileColumns{"-rw-r--r--", "ftp", "staff", ""});
  CFtpFile a, b;
  a.SetColumns(shared);
  b.SetColumns(shared);
  a.SetOwner("root");
  a.SetFilePath("target");
  EXPECT_EQ(a.Permissions(), "-rw-r--r--");
  EXPECT_EQ(a.Owner(), "root");
  EXPECT_EQ(a.Group(), "staff");
  EXPECT_EQ(a.FilePath(), "target");
  EXPECT_EQ(b.Owner(), "ftp");
  EXPECT_EQ(b.FilePath(), "");
  CFtpFile fresh;
  fresh.SetGroup("g");
  EXPECT_EQ(fresh.Group(), "g");
  EXPECT_EQ(fresh.Owner(), "");
}

CFtpFile Named(const std::string& name, int64_t size = 0) {
  CFtpFile f;
  f.SetFileName(name);
  f.SetFileSize(size);
  return f;
}

std::vector<std::string> Names(const CFtpFiles& files) {
  std::vector<std::string> out;
  for (const CFtpFile& f : files) out.push_back(f.FileName());
  return out;
}

TEST(FtpFiles, KeysDifferingInLetterCaseAreDistinct) {
  CFtpFiles files;
  ASSERT_NE(files.Add(Named("Ra.txt", 1), "Ra.txt"), nullptr);
  ASSERT_NE(files.Add(Named("RA.txt", 2), "RA.txt"), nullptr);
  EXPECT_EQ(files.Count(), 2u);
  EXPECT_EQ(files.Item("Ra.txt")->FileSize(), 1);
  EXPECT_EQ(files.Item("RA.txt")->FileSize(), 2);
  EXPECT_EQ(files.Item("ra.txt"), nullptr);

  // An exact duplicate is refused and the first entry stays.
  EXPECT_EQ(files.Add(Named("Ra.txt", 3), "Ra.txt"), nullptr);
  EXPECT_EQ(files.Count(), 2u);
  EXPECT_EQ(files.Item("Ra.txt")->FileSize(), 1);
}

TEST(FtpFiles, ItemByPositionIsOneBasedAndOrderIsInsertionOrder) {
  CFtpFiles files;
  for (const char* n : {"c", "a", "b"}) files.Add(Named(n), n);
  EXPECT_EQ(Names(files), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(files.Item(size_t{1})->FileName(), "c");
  EXPECT_EQ(files.Item(size_t{3})->FileName(), "b");
  EXPECT_EQ(files.Item(size_t{0}), nullptr);
  EXPECT_EQ(files.Item(size_t{4}), nullptr);
  const CFtpFiles& view = files;
  EXPECT_EQ(view.Item("a")->FileName(), "a");
  EXPECT_EQ(view.Item(size_t{2})->FileName(), "a");
}

TEST(FtpFiles, RemoveKeepsOrderAndKeys) {
  CFtpFiles files;
  for (const char* n : {"a", "b", "c", "d"}) files.Add(Named(n), n);
  EXPECT_TRUE(files.Remove("b"));
  EXPECT_FALSE(files.Remove("b"));
  EXPECT_TRUE(files.Remove(size_t{3}));  // "d"
  EXPECT_FALSE(files.Remove(size_t{3}));
  EXPECT_FALSE(files.Remove(size_t{0}));
  EXPECT_EQ(Names(files), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(files.Item("d"), nullptr);
  EXPECT_EQ(files.Item(size_t{2})->FileName(), "c");
  // A removed key may be added again, at the end.
  ASSERT_NE(files.Add(Named("b"), "b"), nullptr);
  EXPECT_EQ(Names(files), (std::vector<std::string>{"a", "c", "b"}));
}

TEST(FtpFiles, RecordsKeepTheirAddressWhileTheCollectionGrows) {
  CFtpFiles files;
  CFtpFile* first = files.Add(Named("first"), "first");
  for (int i = 0; i < 5000; ++i) files.Add(Named(std::to_string(i)), std::to_string(i));
  EXPECT_EQ(files.Item("first"), first);
  first->SetFileSize(42);
  EXPECT_EQ(files.Item(size_t{1})->FileSize(), 42);
  EXPECT_EQ(files.Count(), 5001u);
}

TEST(FtpFiles, EveryKeyStaysFoundThroughManyRemovals) {
  // Enough keys that many share a home in the index, removed by key and by
  // position in between the others, then some added again.
  CFtpFiles files;
  const int n = 3000;
  for (int i = 0; i < n; ++i) ASSERT_NE(files.Add(Named("R" + std::to_string(i)), "R" + std::to_string(i)), nullptr);
  for (int i = 0; i < n; i += 3) ASSERT_TRUE(files.Remove("R" + std::to_string(i)));
  ASSERT_TRUE(files.Remove(size_t{1}));  // "R1", the first one left
  for (int i = 0; i < n; i += 7) files.Add(Named("R" + std::to_string(i)), "R" + std::to_string(i));
  size_t expected = 0;
  for (int i = 0; i < n; ++i) {
    const std::string key = "R" + std::to_string(i);
    const bool present = i != 1 && (i % 3 != 0 || i % 7 == 0);
    expected += present ? 1 : 0;
    const CFtpFile* f = files.Item(key);
    if (present) {
      ASSERT_NE(f, nullptr) << key;
      EXPECT_EQ(f->FileName(), key);
    } else {
      EXPECT_EQ(f, nullptr) << key;
    }
  }
  EXPECT_EQ(files.Count(), expected);
  EXPECT_EQ(files.Item(size_t{1})->FileName(), "R2");
  // Last: the last key removed and added again (a multiple of 3 and of 7).
  EXPECT_EQ(files.Item(files.Count())->FileName(), "R" + std::to_string((n - 1) / 21 * 21));

  // Small collections, where runs of occupied slots often wrap around the
  // end of the index: each removal leaves every other key reachable.
  for (int round = 0; round < 300; ++round) {
    CFtpFiles small;
    std::vector<std::string> keys;
    for (int j = 0; j < 8; ++j) keys.push_back(std::to_string(round) + "." + std::to_string(j));
    for (const std::string& k : keys) small.Add(Named(k), k);
    for (int step = 0; step < 8; ++step) {
      const size_t victim = static_cast<size_t>(round + step * 5) % keys.size();
      ASSERT_TRUE(small.Remove(keys[victim])) << keys[victim];
      keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(victim));
      for (const std::string& k : keys) ASSERT_NE(small.Item(k), nullptr) << k << " in round " << round;
    }
  }
}

}  // namespace
}  // namespace pellan
