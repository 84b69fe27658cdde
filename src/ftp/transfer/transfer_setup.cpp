// The transfer layer's construction, its watchdog, and the transfer
// properties' store rules.
#include "ftp/transfer/ftp_transfers.h"
#include "support/text.h"

namespace pellan {

namespace {

// "*.jpg; *.gif" -> ".jpg..gif": the engines look for "." + ext + "." in
// "." + list + ".". The blanks around an item go too: ".jpg. .gif" would
// read back as a list nobody wrote.
std::string NormaliseTypeList(const std::string& v) {
  std::string out, item;
  bool first = true;
  for (char c : TrimBlanks(v) + ";") {
    if (c == '*') continue;
    if (c != ';' && c != ',') {
      item += c;
      continue;
    }
    out += (first ? "" : ".") + TrimBlanks(item);
    first = false;
    item.clear();
  }
  return out;
}

}  // namespace

FtpTransfers::FtpTransfers() {
  m_timeouter = LoopTimer(Milliseconds(5000), InCallback([this] { TimeouterTick(); }), false);
}

FtpTransfers::~FtpTransfers() {
  m_timeouter.SetEnabled(false);
  OnTransfer = nullptr;
}

void FtpTransfers::SessionOpened() {
  m_renameRefused = false;
  m_timeouter.SetInterval(Milliseconds(5000));
  m_timeouter.SetEnabled(true);
}

void FtpTransfers::SetOverWrite(bool v) {
  m_overWrite = v;
  m_replacePrompt = false;
}

void FtpTransfers::SetFileTypeAllow(const std::string& v) { m_fileTypeAllow = NormaliseTypeList(v); }

void FtpTransfers::SetFileTypeForbid(const std::string& v) { m_fileTypeForbid = NormaliseTypeList(v); }

}  // namespace pellan
