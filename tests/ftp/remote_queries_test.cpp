// The remote queries built on listings, against the scripted server: the
// exact commands each query sends, patterns applied by the client to a
// listing of the folder, folders and files whose paths hold a blank (listed
// from inside their folder), paths that name a file, and empty listings
// (a folder only once a CWD into it shows it is there).
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scripted_session.h"

namespace pellan {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using test::Line;

const std::string kSpacedListing = Line('-', 7, "a b.txt") + Line('-', 1, "R x.txt") + Line('d', 4096, "R sub");

const std::string kPubListing = Line('-', 5, "R1.txt") + Line('-', 3000, "R2.txt") + Line('-', 1, "r3.txt") +
                                Line('-', 7, "a.txt") + Line('d', 4096, "Rsub") + Line('d', 4096, "sub") +
                                Line('-', 9, "Rx.dat");

// What a query answered, as text: names joined by "," for a collection,
// "-" for none.
std::string Joined(const CFtpFiles* files) {
  std::string out = files ? "" : "-";
  if (files) {
    for (const CFtpFile& f : *files) out += (out.empty() ? "" : ",") + f.FileName();
  }
  return out;
}

struct QueryRow {
  const char* name;
  std::function<std::string(FtpLibrary&)> query;
  std::vector<std::string> commands;  // every command after the login
  // The server's answers to the listing and CWD commands, in order: a LIST
  // answer is the body sent over the data connection ("550" refuses it).
  std::vector<std::string> answers;
  std::string result;
  long error;
};
void PrintTo(const QueryRow& row, std::ostream* os) { *os << row.name; }

class RemoteQueryTest : public test::ScriptedSession, public ::testing::WithParamInterface<QueryRow> {};

TEST_P(RemoteQueryTest, SendsAndAnswers) {
  const QueryRow& row = GetParam();
  ASSERT_TRUE(LoginOk());
  // Script the expected commands; CWD and LIST take the next answer.
  size_t answer = 0;
  for (const std::string& command : row.commands) {
    m_server.Expect(command);
    const bool list = command.rfind("LIST", 0) == 0;
    if (command == "TYPE A") {
      m_server.Reply("200 ok");
    } else if (command == "PASV") {
      m_server.Pasv();
    } else if (command == "PWD") {
      m_server.Reply("257 \"/\" is cwd");
    } else {
      ASSERT_LT(answer, row.answers.size()) << command;
      const std::string& a = row.answers[answer++];
      if (list && a != "550") {
        m_server.Reply("150 ok").DataSend(a).DataClose().Reply("226 ok");
      } else if (list) {
        m_server.Reply("550 No such file or directory.");
      } else {
        m_server.Reply(a);
      }
    }
  }
  EXPECT_EQ(row.query(*m_ftp), row.result);
  EXPECT_EQ(m_ftp->ErrorNumber(), row.error) << m_ftp->ErrorInfo();
  EXPECT_FALSE(m_ftp->Busy());
  EXPECT_THAT(Sent(), ElementsAreArray(row.commands));
  EXPECT_THAT(m_server.Failures(), IsEmpty());
}

std::string Exists(FtpLibrary& ftp, const std::string& path) { return ftp.ExistDirectory(path) ? "yes" : "no"; }
// A pattern row: the argument, the LIST sent, the names that match.
QueryRow Pattern(const char* name, const char* argument, const char* list, const char* names) {
  return QueryRow{name, [argument](FtpLibrary& f) { return Joined(f.GetRemoteFilesInfo(argument).get()); },
                  {"TYPE A", "PASV", list}, {kPubListing}, names, 0};
}

INSTANTIATE_TEST_SUITE_P(
    Queries, RemoteQueryTest,
    ::testing::Values(
        Pattern("Star", "pub/R*", "LIST pub", "R1.txt,R2.txt,Rsub,Rx.dat"),
        Pattern("LetterCaseCounts", "pub/r*", "LIST pub", "r3.txt"),
        Pattern("QuestionMarkIsOneCharacter", "pub/R?.txt", "LIST pub", "R1.txt,R2.txt"),
        Pattern("StarInTheMiddle", "pub/R*.t?t", "LIST pub", "R1.txt,R2.txt"),
        Pattern("StarsOnBothSides", "pub/*u*", "LIST pub", "Rsub,sub"),
        Pattern("AllNames", "pub/*", "LIST pub", "R1.txt,R2.txt,r3.txt,a.txt,Rsub,sub,Rx.dat"),
        Pattern("NothingMatches", "pub/Q*", "LIST pub", "-"),
        Pattern("NoWildcardGoesToTheServer", "pub/R1", "LIST pub/R1", "R1.txt,R2.txt,r3.txt,a.txt,Rsub,sub,Rx.dat"),
        Pattern("InTheWorkingFolder", "R?.txt", "LIST", "R1.txt,R2.txt"),
        Pattern("InTheRoot", "/R*.dat", "LIST /", "Rx.dat"),
        Pattern("DeepFolder", "/a/b/c/*.txt", "LIST /a/b/c", "R1.txt,R2.txt,r3.txt,a.txt"),
        QueryRow{"EmptyFolderConfirmedByCwd",
                 [](FtpLibrary& f) { return Exists(f, "/pub/dir"); },
                 {"TYPE A", "PASV", "LIST /pub/dir", "PWD", "CWD /pub/dir", "CWD /"},
                 {"", "250 ok", "250 ok"},
                 "yes",
                 0},
        QueryRow{"MissingFolderListedEmpty",
                 [](FtpLibrary& f) { return Exists(f, "/pub/dir"); },
                 {"TYPE A", "PASV", "LIST /pub/dir", "PWD", "CWD /pub/dir"},
                 {"", "550 Failed to change directory."},
                 "no",
                 kErrRemoteFolderMissing},
        QueryRow{"FolderWithABlankIsListedFromInside",
                 [](FtpLibrary& f) { return Joined(f.GetFtpDirectoryInfo("/my dir").get()); },
                 {"CWD /my dir/", "TYPE A", "PASV", "LIST", "CWD /"},
                 {"250 ok", kSpacedListing, "250 ok"},
                 "a b.txt,R x.txt,R sub",
                 0},
        QueryRow{"PatternInAFolderWithABlank",
                 [](FtpLibrary& f) { return Joined(f.GetFtpDirectoryInfo("/my dir/R*").get()); },
                 {"CWD /my dir/", "TYPE A", "PASV", "LIST", "CWD /"},
                 {"250 ok", kSpacedListing, "250 ok"},
                 "R x.txt,R sub",
                 0},
        QueryRow{"PatternWithABlank",
                 [](FtpLibrary& f) { return Joined(f.GetFtpDirectoryInfo("/pub/R *").get()); },
                 {"TYPE A", "PASV", "LIST /pub"},
                 {kSpacedListing},
                 "R x.txt,R sub",
                 0},
        QueryRow{"FolderWithABlankExists",
                 [](FtpLibrary& f) { return Exists(f, "/my dir"); },
                 {"CWD /my dir/", "TYPE A", "PASV", "LIST", "CWD /"},
                 {"250 ok", kSpacedListing, "250 ok"},
                 "yes",
                 0},
        QueryRow{"MissingFolderWithABlank",
                 [](FtpLibrary& f) { return Exists(f, "/my dir"); },
                 {"CWD /my dir/"},
                 {"550 Failed to change directory."},
                 "no",
                 16550},
        QueryRow{"FileWithABlank",
                 [](FtpLibrary& f) { return std::to_string(static_cast<long long>(f.GetFtpFileSize("/my dir/a b.txt"))); },
                 {"CWD /my dir/", "TYPE A", "PASV", "LIST", "CWD /"},
                 {"250 ok", kSpacedListing, "250 ok"},
                 "7",
                 0},
        QueryRow{"FileIsNoFolder",
                 [](FtpLibrary& f) { return Exists(f, "/pub/a.txt"); },
                 {"TYPE A", "PASV", "LIST /pub/a.txt", "PWD", "CWD /pub/a.txt"},
                 {Line('-', 7, "a.txt"), "550 Not a directory."},
                 "no",
                 kErrRemoteFolderMissing},
        QueryRow{"FileListedByItsPathIsNoFolder",
                 [](FtpLibrary& f) { return Exists(f, "/pub/a.txt"); },
                 {"TYPE A", "PASV", "LIST /pub/a.txt", "PWD", "CWD /pub/a.txt"},
                 {Line('-', 7, "/pub/a.txt"), "550 Not a directory."},
                 "no",
                 kErrRemoteFolderMissing},
        QueryRow{"PatternInAFile",
                 [](FtpLibrary& f) { return Joined(f.GetFtpDirectoryInfo("/pub/R1.txt/R*").get()); },
                 {"TYPE A", "PASV", "LIST /pub/R1.txt", "PWD", "CWD /pub/R1.txt"},
                 {Line('-', 5, "R1.txt"), "550 Not a directory."},
                 "-",
                 kErrRemoteFolderMissing},
        QueryRow{"MissingFolderRefused",
                 [](FtpLibrary& f) { return Exists(f, "/pub/nope"); },
                 {"TYPE A", "PASV", "LIST /pub/nope"},
                 {"550"},
                 "no",
                 16550},
        QueryRow{"FolderHoldingAFolderOfItsName",
                 [](FtpLibrary& f) { return Exists(f, "/pub/x"); },
                 {"TYPE A", "PASV", "LIST /pub/x"},
                 {Line('d', 4096, "x")},
                 "yes",
                 0},
        QueryRow{"FolderHoldingAFileOfItsName",
                 [](FtpLibrary& f) { return Exists(f, "/pub/x"); },
                 {"TYPE A", "PASV", "LIST /pub/x", "PWD", "CWD /pub/x", "CWD /"},
                 {Line('-', 1, "x"), "250 ok", "250 ok"},
                 "yes",
                 0},
        QueryRow{"FolderHoldingOtherFiles",
                 [](FtpLibrary& f) { return Exists(f, "/pub/x"); },
                 {"TYPE A", "PASV", "LIST /pub/x"},
                 {Line('-', 1, "y")},
                 "yes",
                 0}),
    [](const ::testing::TestParamInfo<QueryRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pellan
