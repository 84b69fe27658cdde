// One listing under way: its argument, the bytes read so far (straight from
// the data socket), and which of the data end and the server's reply came.
// It lives as long as the listing and goes with it.
#pragma once

#include <string>

#include "net/byte_sink.h"

namespace pellan {

class ListingRun {
 public:
  enum class Step {
    kStarting,     // TYPE sent
    kOpeningData,  // PASV or PORT sent
    kListSent,     // LIST sent: data and the reply to come
    kEnded,
  };

  explicit ListingRun(std::string listArgument) : argument(std::move(listArgument)) {}
  ~ListingRun() { MoveTo(Step::kEnded); }
  ListingRun(const ListingRun&) = delete;
  ListingRun& operator=(const ListingRun&) = delete;

  Step CurrentStep() const { return m_step; }
  // The one way from step to step; logged when the engine log is verbose.
  void MoveTo(Step next);
  bool Complete() const { return dataClosed && replyDone; }

  const std::string argument;
  ByteSink buffer;
  bool dataClosed = false, replyDone = false;

 private:
  Step m_step = Step::kStarting;
};

}  // namespace pellan
