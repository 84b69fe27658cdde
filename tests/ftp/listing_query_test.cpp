// Listings against the scripted server: the client applies a pattern to a
// listing of the folder itself, and an empty listing counts as a folder
// only once a CWD into it shows the folder is there.
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scripted_session.h"

namespace pellan {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using test::FakeFtpServer;
using test::Line;
using test::Names;

const std::string kPubListing = Line('-', 5, "R1.txt") + Line('-', 3000, "R2.txt") + Line('-', 1, "r3.txt") +
                                Line('-', 7, "a.txt") + Line('d', 4096, "Rsub") + Line('d', 4096, "sub") +
                                Line('-', 9, "Rx.dat");

class ListingQueryTest : public test::ScriptedSession {};


struct PatternRow {
  const char* name;
  const char* argument;     // given to GetRemoteFilesInfo
  const char* listCommand;  // what the server must see
  std::vector<std::string> expected;
};
void PrintTo(const PatternRow& row, std::ostream* os) { *os << row.name; }

class PatternTest : public ListingQueryTest, public ::testing::WithParamInterface<PatternRow> {};

TEST_P(PatternTest, AppliedToAListingOfTheFolder) {
  ASSERT_TRUE(LoginOk());
  m_server.AnswerByDefault();
  m_server.SetListing(kPubListing);
  auto files = m_ftp->GetRemoteFilesInfo(GetParam().argument);
  EXPECT_EQ(m_ftp->ErrorNumber(), 0) << m_ftp->ErrorInfo();
  EXPECT_THAT(Names(files.get()), ElementsAreArray(GetParam().expected));
  if (GetParam().expected.empty()) {
    EXPECT_EQ(files, nullptr);
  }
  EXPECT_THAT(Sent(), ElementsAre("TYPE A", "PASV", GetParam().listCommand));
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, PatternTest,
    ::testing::Values(
        PatternRow{"Star", "pub/R*", "LIST pub", {"R1.txt", "R2.txt", "Rsub", "Rx.dat"}},
        PatternRow{"LetterCaseCounts", "pub/r*", "LIST pub", {"r3.txt"}},
        PatternRow{"QuestionMarkIsOneCharacter", "pub/R?.txt", "LIST pub", {"R1.txt", "R2.txt"}},
        PatternRow{"StarInTheMiddle", "pub/R*.t?t", "LIST pub", {"R1.txt", "R2.txt"}},
        PatternRow{"StarsOnBothSides", "pub/*u*", "LIST pub", {"Rsub", "sub"}},
        PatternRow{"AllNames", "pub/*", "LIST pub", {"R1.txt", "R2.txt", "r3.txt", "a.txt", "Rsub", "sub", "Rx.dat"}},
        PatternRow{"NothingMatches", "pub/Q*", "LIST pub", {}},
        PatternRow{"NoWildcardGoesToTheServer", "pub/R1", "LIST pub/R1", {"R1.txt", "R2.txt", "r3.txt", "a.txt", "Rsub", "sub", "Rx.dat"}},
        PatternRow{"InTheWorkingFolder", "R?.txt", "LIST", {"R1.txt", "R2.txt"}},
        PatternRow{"InTheRoot", "/R*.dat", "LIST /", {"Rx.dat"}},
        PatternRow{"DeepFolder", "/a/b/c/*.txt", "LIST /a/b/c", {"R1.txt", "R2.txt", "r3.txt", "a.txt"}}),
    [](const ::testing::TestParamInfo<PatternRow>& info) { return std::string(info.param.name); });

// ---- empty listings and whether a folder is there

struct EmptyListingRow {
  const char* name;
  std::function<void(FakeFtpServer&)> script;  // after the login
  bool exists;
  long error;
};
void PrintTo(const EmptyListingRow& row, std::ostream* os) { *os << row.name; }

class ExistDirectoryTest : public ListingQueryTest, public ::testing::WithParamInterface<EmptyListingRow> {};

void ListReplies(FakeFtpServer& s, const std::string& command, const std::string& body) {
  s.Expect("TYPE A", "200 ok").Expect("PASV").Pasv().Expect(command, "150 ok").DataSend(body).DataClose().Reply("226 ok");
}

TEST_P(ExistDirectoryTest, Answers) {
  ASSERT_TRUE(LoginOk());
  GetParam().script(m_server);
  m_server.Expect("PWD", "257 \"/next\" is cwd");
  EXPECT_EQ(m_ftp->ExistDirectory("/pub/dir"), GetParam().exists);
  EXPECT_EQ(m_ftp->ErrorNumber(), GetParam().error) << m_ftp->ErrorInfo();
  EXPECT_EQ(m_ftp->GetCurrentDirectory(), "/next");
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ExistDirectoryTest,
    ::testing::Values(
        EmptyListingRow{"FolderWithEntries",
                        [](FakeFtpServer& s) { ListReplies(s, "LIST /pub/dir", Line('-', 1, "x")); }, true, 0},
        EmptyListingRow{"EmptyFolderConfirmed",
                        [](FakeFtpServer& s) {
                          ListReplies(s, "LIST /pub/dir", "");
                          s.Expect("PWD", "257 \"/home\" is cwd")
                              .Expect("CWD /pub/dir", "250 ok")
                              .Expect("CWD /home", "250 ok");
                        },
                        true, 0},
        EmptyListingRow{"MissingFolderListedEmpty",
                        [](FakeFtpServer& s) {
                          ListReplies(s, "LIST /pub/dir", "");
                          s.Expect("PWD", "257 \"/home\" is cwd").Expect("CWD /pub/dir", "550 Failed to change directory.");
                        },
                        false, kErrRemoteFolderMissing},
        EmptyListingRow{"MissingFolderRefused",
                        [](FakeFtpServer& s) {
                          s.Expect("TYPE A", "200 ok").Expect("PASV").Pasv().Expect("LIST /pub/dir",
                                                                                    "550 No such file or directory.");
                        },
                        false, 16550}),
    [](const ::testing::TestParamInfo<EmptyListingRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pellan
