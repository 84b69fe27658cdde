// The values a host of the FTP control reads: its states, the operation
// under way, and the engine's own error numbers.
#pragma once

#include <cstddef>

namespace pellan {

// Values of FtpState.
enum FtpStateValue : long {
  kFtpReady = 0,
  kFtpClosed = 1,
  kFtpConnecting = 2,
  kFtpConnected = 3,
  kFtpLoggingIn = 4,
  kFtpLoggedIn = 5,
  kFtpChangingDirectory = 6,
  kFtpDeleting = 7,
  kFtpRemovingDirectory = 8,
  kFtpMakingDirectory = 9,
  kFtpRenaming = 10,
  kFtpOpeningData = 11,
  kFtpListing = 13,
  kFtpDownloading = 15,
  kFtpUploading = 17,
  kFtpQuitting = 19,
  kFtpQueryingSize = 20,
};

// Values of the operation under way.
enum FtpOperation : long {
  kOpNone = 0,
  kOpConnect = 1,
  kOpPwd = 2,
  kOpCwd = 3,
  kOpMkd = 4,
  kOpRmd = 5,
  kOpRename = 6,
  kOpDele = 7,
  kOpDownload = 8,
  kOpUpload = 9,
  kOpList = 10,
  kOpQuit = 11,
  kOpSize = 12,
  kOpAbort = 13,
};

// A listing longer than this fails (20035) instead of filling memory for as
// long as a hostile server keeps sending; real folders stay far below it.
constexpr size_t kMaxListingBytes = size_t{256} * 1024 * 1024;

// The engine's own error numbers (the texts are in ErrorMessages).
enum FtpErrorNumber : long {
  kErrReplyBase = 16000,        // + the reply code of a refused command
  kErrNoDirectoryInReply = 16001,
  kErrUnknownListType = 16002,
  kErrCannotConnect = 16006,
  kErrConnecting = 16007,
  kErrReconnectFailed = 16008,
  kErrOperationUnfinished = 16009,
  kErrCanceled = 16010,
  kErrConnectionInterrupted = 16011,  // the server closed the connection mid-command
  kErrTimedOut = 20004,
  kErrNoRemotePath = 20005,
  kErrRemoteFileMissing = 20007,
  kErrRemoteFolderMissing = 20008,
  kErrNoWorkingDirectory = 20013,
  kErrUnsafeCommand = 20030,    // an argument holding CR, LF or NUL
  kErrReplyTooLong = 20031,     // a reply over 64 KiB
  kErrBadPasvReply = 20032,     // a 227 reply without an address
  kErrIncompleteTransfer = 20033,  // fewer (or more) bytes than the file holds
  kErrLocalFileLarger = 20034,  // a file to resume is longer than the remote one
  kErrListingTooLong = 20035,   // a listing over kMaxListingBytes
  kErrTlsRefused = 20040,       // TLS was required and the server refused AUTH TLS
  kErrFileTooBig = 20003,
  kErrLocalFileMissing = 20009,
  kErrLocalFolderMissing = 20010,
  kErrInvalidPath = 20011,
  kErrNoLocalPath = 20006,
  kErrNoSavePath = 20019,
  kErrTypeNotAllowed = 20021,
  kErrTypeForbidden = 20022,
  kErrCreateLocalFile = 20023,
  kErrOpenLocalFile = 20024,
};

}  // namespace pellan
