// The control's local helpers: names, extensions, size texts.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/ftp_library.h"
#include "support/test_env.h"

namespace pellan {
namespace {

TEST(LocalHelpers, NamesExtensionsAndSizeTexts) {
  test::ScopedLoop loop;  // the control's timers need one
  FtpLibrary ftp;
  const struct {
    const char* path;
    const char* name;
    const char* extension;
  } paths[] = {{"/pub/a.tar.gz", "a.tar.gz", "gz"}, {"/pub/dir/", "dir", ""},   {"  /pub/b.TXT  ", "b.TXT", "TXT"},
               {"\\dir\\sub\\", "sub", ""},         {"/pub//my file", "my file", ""}, {"a.txt", "a.txt", "txt"}, {"   ", "", ""}};
  for (const auto& p : paths) {
    EXPECT_EQ(ftp.GetFileName(p.path), p.name) << '"' << p.path << '"';
    EXPECT_EQ(ftp.GetFileExtendName(p.path), p.extension) << '"' << p.path << '"';
  }
  const std::vector<std::pair<double, std::string>> sizes = {
      {0, "0 Bytes"},       {1023, "1023 Bytes"}, {1024, "1 KB"},    {1536, "1.5 KB"},
      {1048575, "1024 KB"}, {1048576, "1 M"},     {1234567, "1.18 M"}, {4294967296.0, "4096 M"}};
  for (const auto& [size, text] : sizes) EXPECT_EQ(ftp.FormatFileSize(size), text) << size;
}

}  // namespace
}  // namespace pellan
