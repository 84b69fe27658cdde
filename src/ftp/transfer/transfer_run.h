// One attempt at one file, up or down. What the attempt learns (its bytes,
// the local file, which of the data end and the server's reply came) lives
// here and goes with the attempt, so none of it reaches the next file.
#pragma once

#include <string>

#include "net/byte_sink.h"
#include "platform/clock.h"
#include "support/scoped_value.h"

namespace pellan {

class TransferRun {
 public:
  enum class Step {
    kStarting,     // TYPE sent
    kOpeningData,  // PASV or PORT sent
    kCommandSent,  // RETR or STOR sent
    kSending,      // an upload's bytes going out
    kEnded,        // confirmed, or failed
  };

  TransferRun(bool upload, double startBytes);
  ~TransferRun();
  TransferRun(const TransferRun&) = delete;
  TransferRun& operator=(const TransferRun&) = delete;

  Step CurrentStep() const { return m_step; }
  // The one way from step to step; each change goes to the engine log when
  // the log is verbose.
  void MoveTo(Step next);
  void CloseLocalFile();

  const bool upload;
  int localFile = -1;
  double bytesDone;          // received (download) or handed to the socket (upload)
  double expectedSize = 0;   // the size the download expects; 0 unknown
  MonoTime lastSample;       // progress: when the speed was last sampled
  double sampleBytes;        // and at how many bytes
  bool confirmed = false;    // the server confirmed the whole file
  // A download ends once both its data connection and the reply are over.
  bool dataClosed = false, replyDone = false;
  // What the data socket read for the download and the disk has not yet
  // taken: the socket reads straight into it, so a chunk is never copied.
  ByteSink received;
  bool targetPending = false;  // target checked, not yet created or cut
  bool targetTouched = false;  // this attempt created or cut the target
  // An upload sends once its data connection is up and STOR is accepted.
  bool dataReady = false, storAccepted = false;
  std::string sendBuffer;
  std::string storPath;  // where the upload's STOR writes

 private:
  Step m_step = Step::kStarting;
};

}  // namespace pellan
