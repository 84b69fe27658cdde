// The remote queries built on listings, against the scripted server: the
// exact commands each query sends, patterns applied by the client to a
// listing of the folder, folders and files whose paths hold a blank (listed
// from inside their folder), paths that name a file, and empty listings
// (a folder only once a CWD into it shows it is there).
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scripted_session.h"

namespace pellan {
namespace {

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
  std::string commands;  // every command after the login, joined by "|"
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
  std::string script, sent;
  std::vector<std::string> data;
  size_t next = 0;
  for (std::string rest = row.commands + "|", a; !rest.empty(); rest.erase(0, rest.find('|') + 1)) {
    const std::string c = rest.substr(0, rest.find('|'));
    a = c == "TYPE A" ? "200 ok"
        : c == "PWD"  ? "257 \"/\" is cwd"
        : c == "PASV" ? ""
                      : row.answers.at(next++);
    const bool body = c.rfind("LIST", 0) == 0 && a != "550";
    if (body) data.push_back(a);
    a = a == "550" ? "550 No such file or directory." : a;
    script += "|" + c + (c == "PASV" ? "" : body ? ">150 ok|<data>|226 ok" : ">" + a);
  }
  m_server.Script(script.substr(1), data);
  EXPECT_EQ(row.query(*m_ftp), row.result);
  EXPECT_EQ(m_ftp->ErrorNumber(), row.error) << m_ftp->ErrorInfo();
  EXPECT_FALSE(m_ftp->Busy());
  for (const std::string& c : Sent()) sent += (sent.empty() ? "" : "|") + c;
  EXPECT_EQ(sent, row.commands);
}

std::function<std::string(FtpLibrary&)> Exists(std::string path) {
  return [path](FtpLibrary& f) { return f.ExistDirectory(path) ? "yes" : "no"; };
}
std::function<std::string(FtpLibrary&)> Dir(std::string path) {
  return [path](FtpLibrary& f) { return Joined(f.GetFtpDirectoryInfo(path).get()); };
}
// A pattern row: the argument, the LIST sent, the names that match.
QueryRow Pattern(const char* name, const char* argument, const char* list, const char* names) {
  return QueryRow{name, [argument](FtpLibrary& f) { return Joined(f.GetRemoteFilesInfo(argument).get()); },
                  std::string("TYPE A|PASV|") + list, {kPubListing}, names, 0};
}
const char* kAll = "R1.txt,R2.txt,r3.txt,a.txt,Rsub,sub,Rx.dat";

INSTANTIATE_TEST_SUITE_P(
    Queries, RemoteQueryTest,
    ::testing::Values(
        Pattern("StarInTheMiddle", "pub/R*.t?t", "LIST pub", "R1.txt,R2.txt"),
        Pattern("NoWildcardGoesToTheServer", "pub/R1", "LIST pub/R1", kAll),
        Pattern("InTheWorkingFolder", "R?.txt", "LIST", "R1.txt,R2.txt"),
        Pattern("InTheRoot", "/R*.dat", "LIST /", "Rx.dat"),
        Pattern("DeepFolder", "/a/b/c/*.txt", "LIST /a/b/c", "R1.txt,R2.txt,r3.txt,a.txt"),
        QueryRow{"EmptyFolderConfirmedByCwd", Exists("/pub/dir"), "TYPE A|PASV|LIST /pub/dir|PWD|CWD /pub/dir|CWD /",
                 {"", "250 ok", "250 ok"}, "yes", 0},
        QueryRow{"MissingFolderListedEmpty", Exists("/pub/dir"), "TYPE A|PASV|LIST /pub/dir|PWD|CWD /pub/dir",
                 {"", "550 Failed to change directory."}, "no", kErrRemoteFolderMissing},
        QueryRow{"PatternWithABlank", Dir("/pub/R *"), "TYPE A|PASV|LIST /pub", {kSpacedListing}, "R x.txt,R sub", 0},
        QueryRow{"MissingFolderWithABlank", Exists("/my dir"), "CWD /my dir/", {"550 Failed to change directory."},
                 "no", 16550},
        QueryRow{"FileListedByItsPathIsNoFolder", Exists("/pub/a.txt"), "TYPE A|PASV|LIST /pub/a.txt|PWD|CWD /pub/a.txt",
                 {Line('-', 7, "/pub/a.txt"), "550 Not a directory."}, "no", kErrRemoteFolderMissing},
        QueryRow{"PatternInAFile", Dir("/pub/R1.txt/R*"), "TYPE A|PASV|LIST /pub/R1.txt|PWD|CWD /pub/R1.txt",
                 {Line('-', 5, "R1.txt"), "550 Not a directory."}, "-", kErrRemoteFolderMissing},
        QueryRow{"FolderHoldingAFolderOfItsName", Exists("/pub/x"), "TYPE A|PASV|LIST /pub/x", {Line('d', 4096, "x")},
                 "yes", 0},
        QueryRow{"FolderHoldingAFileOfItsName", Exists("/pub/x"), "TYPE A|PASV|LIST /pub/x|PWD|CWD /pub/x|CWD /",
                 {Line('-', 1, "x"), "250 ok", "250 ok"}, "yes", 0},
        QueryRow{"FolderHoldingOtherFiles", Exists("/pub/x"), "TYPE A|PASV|LIST /pub/x", {Line('-', 1, "y")}, "yes",
                 0}),
    [](const ::testing::TestParamInfo<QueryRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pellan
