#include "ftp/transfer/transfer_run.h"

#include <unistd.h>

#include "support/error_record.h"

namespace pellan {

namespace {

const char* StepName(TransferRun::Step step) {
  switch (step) {
    case TransferRun::Step::kStarting: return "starting";
    case TransferRun::Step::kOpeningData: return "opening data";
    case TransferRun::Step::kCommandSent: return "command sent";
    case TransferRun::Step::kSending: return "sending";
    case TransferRun::Step::kEnded: return "ended";
  }
  return "?";
}

}  // namespace

TransferRun::TransferRun(bool isUpload, double startBytes)
    : upload(isUpload), bytesDone(startBytes), lastSample(CurrentClock().Now()), sampleBytes(startBytes) {}

TransferRun::~TransferRun() {
  MoveTo(Step::kEnded);
  CloseLocalFile();
}

void TransferRun::MoveTo(Step next) {
  if (next == m_step) return;
  LogStep(upload ? "Upload" : "Download", StepName(m_step), StepName(next));
  m_step = next;
}

void TransferRun::CloseLocalFile() {
  if (localFile >= 0) {
    close(localFile);
    localFile = -1;
  }
}

}  // namespace pellan
