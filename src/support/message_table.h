// The engine's 43 message texts in four languages. Texts hold the
// placeholders {0} to {4}, filled by whoever shows them.
#pragma once

namespace pellan {

constexpr int kMessageRows = 43;
constexpr int kMessageLanguages = 4;

// Language columns.
enum MessageLanguage : int {
  kLangEnglish = 0,
  kLangSimplifiedChinese = 1,
  kLangTraditionalChinese = 2,
  kLangJapanese = 3,
};

// Rows the engine names in code.
enum MessageRow : int {
  kRowHostnameRequired = 0,
  kRowUnableToResolveHost = 1,
  kRowLoginFailed = 2,
  kRowConnecting = 3,
  kRowConnectFailed = 4,
  kRowNotConnected = 5,
  kRowPreviousUnfinished = 6,
  kRowCanceled = 7,
  kRowFileNotFound = 8,
  kRowFolderNotFound = 9,
  kRowNoRemotePath = 10,
  kRowNoLocalPath = 11,
  kRowInvalidPath = 12,
  kRowFileExists = 13,
  kRowInputFilename = 14,
  kRowNewFilename = 15,
  kRowNoSavePath = 16,
  kRowCreateFolderFailed = 17,
  kRowTypeNotAllowed = 18,
  kRowTypeForbidden = 19,
  kRowTimedOut = 20,
  kRowUnknownError = 21,
  kRowReplacePrompt = 22,  // rows 22..32: a file-replace prompt nothing shows
  kRowHostNotFound = 33,
  kRowConnectTimeout = 34,
  kRowConnectionRefused = 35,
  kRowPermissionDenied = 36,
  kRowFileTooBig = 37,
  kRowExit = 38,
  kRowCreateFileFailed = 39,
  kRowOpenFileFailed = 40,
  kRowRetryAfter = 41,
  kRowRetransfer = 42,
};

// The built-in text of `row` in `language`; a language outside 0..3 reads
// English, a row outside the table "".
const char* MessageTableText(int language, int row);

}  // namespace pellan
