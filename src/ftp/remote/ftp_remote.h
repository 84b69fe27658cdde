// FtpRemote: the remote folders and files, on top of the session. The
// command operations on single entries (delete, rename, make and remove
// folders, change and read the working directory, SIZE), listings over the
// data connection, and the questions answered from listings.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "ftp/remote/ftp_file.h"
#include "ftp/session/ftp_session.h"

namespace pellan {

class CommandRun;
class ListingRun;

class FtpRemote : public FtpSession {
 public:
  // ---- remote operations
  bool DeleteFile(const std::string& remotePath);
  bool RemoveDirectory(const std::string& remotePath);
  bool RenameFile(const std::string& oldFileName, const std::string& newFileName);
  bool SetCurrentDirectory(const std::string& directoryPath);
  std::string GetCurrentDirectory();
  std::string GetParentDirectory();
  bool CreateDirectory(const std::string& directoryPath, bool recursive);
  // SIZE: the size in bytes, -1 when the server answers 550, -2 otherwise.
  double GetRemoteFileSize(const std::string& remotePath);

  // ---- listings and remote queries
  // The entries of a remote folder ("dir/"), file, or pattern ("dir/R*");
  // null for an empty listing or on failure (ErrorNumber tells which).
  std::unique_ptr<CFtpFiles> GetRemoteFilesInfo(const std::string& path);
  std::unique_ptr<CFtpFile> GetFtpFileInfo(const std::string& remotePath);
  std::unique_ptr<CFtpFiles> GetFtpDirectoryInfo(const std::string& directoryPath);
  bool ExistDirectory(const std::string& directoryName);
  double GetFtpFileSize(const std::string& remotePath);

  // ---- for tests
  void SetMaxListingBytes(size_t bytes) { m_maxListingBytes = bytes; }

 protected:
  bool DispatchReply(int code) override;
  void CommandSent(const std::string& verb) override;
  void DataSetupStarting() override;
  void DataConnected() override;
  void DataAccepted() override;
  void DataArrived() override;
  void DataClosed() override;
  void DataFailed() override;
  void CutOperation() override;
  bool UsesDataConnection() const override { return m_lngOperation == kOpList; }
  bool UnansweredFails() const override;

  // The common frame of the command operations (after the arguments are
  // checked): connect, refuse a second operation, send, wait. A RNFR's RNTO
  // takes `nextArgument`.
  bool RunCommandOperation(long operation, const std::string& command, const std::string& argument,
                           const std::string& nextArgument = std::string());
  // Whether a remote folder exists, asked with CWD into it and back; no
  // OnError while asking.
  bool FolderExistsByCwd(const std::string& path);
  // Drops `path` and everything below it (and, when asked, the folders
  // above it) from the created-directories memory; true when any was held.
  bool ForgetCreatedDirectory(const std::string& path, bool withAncestors);
  std::unique_ptr<CFtpFiles> ListParentOf(const std::string& path, const char* failureLine, bool* failed);

 private:
  // The layer's reply table and what its rows do.
  static const ReplyRow<FtpRemote> kReplies[];
  void ActPwd(int code);
  void ActMkdRefused(int code);
  void ActSendRnto(int code);
  void ActDeleRefused(int code);
  void ActSendSize(int code);
  void ActSizeKnown(int code);
  void ActSizeRefused500(int code);
  void ActSizeMissing(int code);
  void ActSizeFailed(int code);
  void ActListTypeAgain(int code);
  void ActListType425(int code);
  void ActListType550(int code);
  void ActListPortOk(int code);
  void ActListDone(int code);
  void ActList550(int code);
  void ActListFailed(int code);
  // Starts the listing's own use of a data connection just made.
  void ListingDataOpened();
  void FinishListingWhenComplete();

  std::string NextArgument() const;
  // Sets the size the operation under way learned, if it asks for one.
  void SetAnsweredSize(double size);

  CommandRun* m_command = nullptr;  // owned by the operation's call
  // The folders this session made or found, "|"-separated.
  std::string m_createdDirectories = "|";
  size_t m_maxListingBytes = kMaxListingBytes;
  ListingRun* m_listing = nullptr;  // the listing under way, owned by it
};

}  // namespace pellan
