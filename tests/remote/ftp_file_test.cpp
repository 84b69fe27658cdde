#include "ftp/remote/ftp_file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ftp/transfer_helpers.h"

namespace pellan {
namespace {

TEST(FtpFile, SafeNamesAndMinuteDates) {
  const std::pair<std::string, bool> names[] = {
      {"a.txt", true}, {".hidden", true},       {" lead ", true}, {"\xB2\xE2\xCA\xD4", true},     {"", false},
      {".", false}, {"..", false}, {"dir/R1.txt", false}, {"a\\b", false}, {std::string("a\0b", 3), false}};
  for (const auto& [name, safe] : names) EXPECT_EQ(IsSafeLocalFileName(name), safe) << name;

  const std::pair<std::string_view, std::string> dates[] = {
      {"2024-01-15 15:45:59", "2024-01-15 15:45"},  // seconds dropped, not rounded
      {"2024-01-15", "2024-01-15 00:00"},       {"0999-01-02 03:04", "0999-01-02 03:04"},
      {"2023-02-29 10:00", "1899-12-30 00:00"}, {"2024-13-01 10:00", "1899-12-30 00:00"},
      {"2024-01-15 24:00", "1899-12-30 00:00"}, {"2024-1-15 10:00", "1899-12-30 00:00"}};
  for (const auto& [assigned, stored] : dates) {
    CFtpFile f;
    f.SetLastWriteTime(assigned);
    EXPECT_EQ(f.LastWriteTime(), stored) << assigned;
  }
}

TEST(FtpFile, ChangingASharedColumnChangesThatRecordOnly) {
  const auto shared = std::make_shared<const FileColumns>(FileColumns{"-rw-r--r--", "ftp", "staff", ""});
  CFtpFile a, b;
  a.SetColumns(shared);
  b.SetColumns(shared);
  a.SetOwner("root");
  a.SetFilePath("target");
  EXPECT_EQ(a.Permissions() + a.Owner() + a.Group() + a.FilePath(), "-rw-r--r--rootstafftarget");
  EXPECT_EQ(b.Owner() + b.FilePath(), "ftp");
  CFtpFile fresh;
  fresh.SetGroup("g");
  EXPECT_EQ(fresh.Group() + fresh.Owner(), "g");
}

CFtpFile Named(const std::string& name) {
  CFtpFile f;
  f.SetFileName(name);
  return f;
}

TEST(FtpFiles, KeysPositionsAndRemovals) {
  CFtpFiles files;
  CFtpFile* first = files.Add(Named("Ra.txt"), "Ra.txt");
  ASSERT_NE(files.Add(Named("RA.txt"), "RA.txt"), nullptr);  // letter case counts
  EXPECT_EQ(files.Add(Named("dup"), "Ra.txt"), nullptr);    // a taken key: the first entry stays
  EXPECT_EQ(files.Item("ra.txt"), nullptr);
  for (const char* n : {"c", "d"}) files.Add(Named(n), n);
  EXPECT_EQ(test::Names(&files), (std::vector<std::string>{"Ra.txt", "RA.txt", "c", "d"}));
  EXPECT_TRUE(files.Item(size_t{0}) == nullptr && files.Item(size_t{5}) == nullptr);
  // Each removal's result, in order; the second size_t{3} is past the end.
  EXPECT_EQ(std::vector<bool>({files.Remove("RA.txt"), files.Remove("RA.txt"), files.Remove(size_t{3}),
                               files.Remove(size_t{3}), files.Remove(size_t{0})}),
            std::vector<bool>({true, false, true, false, false}));
  ASSERT_NE(files.Add(Named("RA.txt"), "RA.txt"), nullptr);  // again, at the end
  EXPECT_EQ(test::Names(&files), (std::vector<std::string>{"Ra.txt", "c", "RA.txt"}));
  EXPECT_EQ(std::as_const(files).Item(size_t{2})->FileName(), "c");

  // Enough keys that many share a home in the index, removed by key and by
  // position in between the others, then some added again: every key stays
  // found and records keep their address while the collection grows.
  const int n = 3000;
  const auto key = [](int i) { return "R" + std::to_string(i); };
  for (int i = 0; i < n; ++i) ASSERT_NE(files.Add(Named(key(i)), key(i)), nullptr);
  EXPECT_EQ(files.Item("Ra.txt"), first);
  for (int i = 0; i < n; i += 3) ASSERT_TRUE(files.Remove(key(i)));
  ASSERT_TRUE(files.Remove(size_t{1}));  // "Ra.txt"
  for (int i = 0; i < n; i += 7) files.Add(Named(key(i)), key(i));
  size_t expected = 2;  // "c" and "RA.txt"
  for (int i = 0; i < n; ++i) {
    const bool present = i % 3 != 0 || i % 7 == 0;
    expected += present ? 1 : 0;
    const CFtpFile* f = files.Item(key(i));
    ASSERT_EQ(f ? f->FileName() : "", present ? key(i) : "");
  }
  EXPECT_EQ(files.Count(), expected);
  EXPECT_EQ(files.Item(size_t{1})->FileName() + files.Item(files.Count())->FileName(),
            "cR" + std::to_string((n - 1) / 21 * 21));

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
