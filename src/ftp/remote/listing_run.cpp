#include "ftp/remote/listing_run.h"

#include "support/error_record.h"

namespace pellan {

namespace {

const char* StepName(ListingRun::Step step) {
  switch (step) {
    case ListingRun::Step::kStarting: return "starting";
    case ListingRun::Step::kOpeningData: return "opening data";
    case ListingRun::Step::kListSent: return "LIST sent";
    case ListingRun::Step::kEnded: return "ended";
  }
  return "?";
}

}  // namespace

void ListingRun::MoveTo(Step next) {
  if (next == m_step) return;
  LogStep("Listing", StepName(m_step), StepName(next));
  m_step = next;
}

}  // namespace pellan
