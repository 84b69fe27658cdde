// tolvarftp: FTP commands from scripts and people, over the FtpLibrary control.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <unistd.h>

#include "ftp/ftp_library.h"
#include "platform/code_page.h"
#include "support/error_record.h"
#include "support/encrypt.h"
#include "tools/tolvarftp/command_line.h"
#include "tools/tolvarftp/transfer_report.h"

namespace {

using pellan::FtpLibrary;
using pellan::tool::Options;

std::string ReadPassword(const Options& o) {
  if (!o.passwordFile.empty()) return o.password;  // read (and checked) with the options
  const char* env = std::getenv("TOLVARFTP_PASSWORD");
  return env ? env : "";
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintListing(const pellan::CFtpFiles& files, bool json) {
  if (json) {
    std::string out = "[";
    bool first = true;
    for (const pellan::CFtpFile& f : files) {
      out += first ? "\n  " : ",\n  ";
      first = false;
      out += "{\"name\": " + JsonString(f.FileName()) + ", \"isDirectory\": " + (f.IsDirectory() ? "true" : "false") +
             ", \"size\": " + std::to_string(f.FileSize()) + ", \"lastWriteTime\": " + JsonString(f.LastWriteTime()) +
             ", \"permissions\": " + JsonString(f.Permissions()) + ", \"owner\": " + JsonString(f.Owner()) +
             ", \"group\": " + JsonString(f.Group()) + ", \"target\": " + JsonString(f.FilePath()) + "}";
    }
    out += first ? "]\n" : "\n]\n";
    std::cout << out;
    return;
  }
  // The listing may hold many thousands of lines: they go out in blocks of
  // 32 KiB, one write each, through one buffer.
  constexpr size_t kBlock = 32 * 1024;
  std::string out;
  out.reserve(2 * kBlock);
  for (const pellan::CFtpFile& f : files) {
    if (f.Permissions().empty()) {
      out += f.IsDirectory() ? 'd' : '-';
    } else {
      out += f.Permissions();
    }
    char size[24];
    const auto sizeEnd = std::to_chars(size, size + sizeof size, f.FileSize()).ptr;
    out += ' ';
    out.append(size, sizeEnd);
    out += ' ';
    pellan::AppendListDateText(f.LastWriteDate(), out);
    out += ' ';
    out += f.FileName();
    if (!f.FilePath().empty()) {
      out += " -> ";
      out += f.FilePath();
    }
    out += '\n';
    if (out.size() >= kBlock) {
      std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
      out.clear();
    }
  }
  std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
}

// Runs one command (checked by the parser); false on failure (the control
// holds the error).
bool Run(FtpLibrary& ftp, const std::vector<std::string>& words, bool json) {
  const std::string& verb = words[0];
  if (verb == "pwd") {
    const std::string dir = ftp.GetCurrentDirectory();
    if (dir.empty()) return false;
    std::cout << dir << '\n';
    return true;
  }
  if (verb == "cd") return ftp.SetCurrentDirectory(words[1]);
  if (verb == "mkdir") {
    const bool parents = words[1] == "-p";
    return ftp.CreateDirectory(words[parents ? 2 : 1], parents);
  }
  if (verb == "rmdir") return ftp.RemoveDirectory(words[1]);
  if (verb == "rm") return ftp.DeleteFile(words[1]);
  if (verb == "mv") return ftp.RenameFile(words[1], words[2]);
  if (verb == "size") {
    const double size = ftp.GetRemoteFileSize(words[1]);
    if (size < 0) return false;
    std::cout << static_cast<long long>(size) << '\n';
    return true;
  }
  if (verb == "ls") {
    std::unique_ptr<pellan::CFtpFiles> files = ftp.GetRemoteFilesInfo(words.size() == 2 ? words[1] : std::string());
    if (!files && ftp.ErrorNumber() != 0) return false;
    const pellan::CFtpFiles empty;
    PrintListing(files ? *files : empty, json);
    return true;
  }
  if (verb == "exists-dir") {
    const bool exists = ftp.ExistDirectory(words[1]);
    const long number = ftp.ErrorNumber();
    // "No" is an answer only when the folder is missing; any other error fails.
    if (!exists && number != pellan::kErrRemoteFolderMissing && number != pellan::kErrReplyBase + 550) return false;
    std::cout << (exists ? "yes" : "no") << '\n';
    return true;
  }
  if (verb == "get" || verb == "put") {
    const bool download = verb == "get";
    ftp.SetRemotePath(download ? words[1] : words[2]);
    ftp.SetLocalPath(download ? words[2] : words[1]);
    pellan::tool::TransferReport report(ftp, download, isatty(STDERR_FILENO) == 1, stderr);
    ftp.OnTransfer = [&report] { report.Update(); };
    const bool ok = download ? ftp.DownLoad() : ftp.UpLoad();
    ftp.OnTransfer = nullptr;
    report.Finish(ok);
    return ok;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = pellan::tool::ParseOptions(argc, argv, &error);
  if (!options) {
    std::cerr << "tolvarftp: " << error << '\n';
    return 2;
  }
  if (options->help) {
    std::cout << pellan::tool::kUsage;
    return 0;
  }
  const std::string password = ReadPassword(*options);
  const auto codePage = pellan::ParseCodePage(options->codePage);
  if (!codePage) {
    std::cerr << "tolvarftp: unknown code page '" << options->codePage << "' (UTF-8 or GBK)\n";
    return 2;
  }
  // Only names on the server are in that code page; local paths stay the
  // UTF-8 they were typed in.

  pellan::CEncrypt cipher;
  FtpLibrary ftp;
  ftp.SetCodePage(options->codePage);
  if (options->language >= 0) ftp.SetLanguage(options->language);
  ftp.SetRaiseErrorEvent(false);
  ftp.SetTimeOut(options->timeout);
  ftp.SetPassiveMode(!options->active);
  if (options->overwrite) ftp.SetOverWrite(true);
  ftp.SetUploadTempName(options->tempName);
  ftp.SetReDoTimes(options->retries + 1);
  if (options->maxSizeMb > 0) ftp.SetMaxSize(options->maxSizeMb);
  ftp.SetRateLimit(options->rateLimit);
  ftp.SetExtendedPassive(true);
  ftp.SetTlsMode(options->tls);
  ftp.SetTlsCaFile(options->tlsCa);
  ftp.SetTlsPin(options->tlsPin);
  ftp.SetFileTypeAllow(options->allowTypes);
  ftp.SetFileTypeForbid(options->forbidTypes);
  ftp.SetTransferMode(options->ascii ? 0 : 1);
  ftp.SetKeepConnSecond(options->keepalive);
  ftp.SetServerName(cipher.EncryptSiteInfo(options->host, "base64"));
  ftp.SetRemotePort(options->port != 0 ? options->port : options->tls == 2 ? 990 : 21);
  ftp.SetUserName(options->user.empty() ? std::string() : cipher.EncryptSiteInfo(options->user, "base64"));
  ftp.SetPassWord(password.empty() ? std::string() : cipher.EncryptSiteInfo(password, "base64"));
  if (options->verbose) {
    pellan::SharedErrorRecord().SetVerbose(true);
    ftp.ServerMessage = [](const std::string& message, long type) {
      std::cerr << (type == 0 ? "> " : "< ") << message << '\n';
    };
  }

  if (!ftp.Connect()) {
    std::cerr << "error " << ftp.ErrorNumber() << ": " << ftp.ErrorInfo() << '\n';
    return 1;
  }
  if (options->verbose && !ftp.TlsInfo().empty()) std::cerr << "TLS: " << ftp.TlsInfo() << '\n';
  for (const auto& words : options->commands) {
    if (!Run(ftp, words, options->json)) {
      std::cerr << "error " << ftp.ErrorNumber() << ": " << ftp.ErrorInfo() << '\n';
      ftp.CloseConnection();
      return 1;
    }
  }
  ftp.CloseConnection();
  return 0;
}
