#pragma once
// The program's string table.
namespace res {

constexpr int kTextBanner = 102;
constexpr int kTextDefaultDaytimeUrl = 104;
constexpr int kTextDefaultSntpServer = 105;
constexpr int kTextCaption = 106;
constexpr int kTextFailureFormat = 107;
constexpr int kTextClockSet = 108;
constexpr int kTextSuccessFormat = 109;
constexpr int kTextBigOffset = 110;
constexpr int kTextUnknownAnswer = 111;
constexpr int kTextTimedOut = 112;
constexpr int kTextUnknownHost = 113;
constexpr int kTextNotFound = 114;
constexpr int kTextServerTimeOut = 115;
constexpr int kTextDefaultConfig = 116;
constexpr int kTextNtsUntrusted = 117;
constexpr int kTextNtsNameMismatch = 118;
constexpr int kTextNtsNoService = 119;
constexpr int kTextNtsKeError = 120;
constexpr int kTextNtsKeWarning = 121;
constexpr int kTextNtsNoAead = 122;
constexpr int kTextNtsNoCookie = 123;
constexpr int kTextNtsKeTimeout = 124;
constexpr int kTextNtsBadReply = 125;
constexpr int kTextNtsUnavailable = 126;
constexpr int kTextDefaultNtsServer = 127;
constexpr int kTextNetworkPartFailed = 128;
constexpr int kTextConfinementFailed = 129;
constexpr int kTextTimeBeforeFloor = 140;
constexpr int kTextCertNotYetValid = 141;
constexpr int kTextCertExpired = 142;
constexpr int kTextDelayTooLarge = 143;

}  // namespace res

// The read-only text with that id inside the program, or null when the table
// has none. Nothing is copied and nothing is to be released.
const char16_t* LoadResourceText(int id);
