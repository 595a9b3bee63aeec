#pragma once

#include <cstddef>
#include <cstdint>

// The record through which the FTP server asks the plug-in a question. The
// plug-in reads and writes it in place; texts are NUL-terminated 8-bit text,
// but the plug-in never relies on a NUL being there.
extern "C" {
struct ClientEvent {
    int32_t code;
    int32_t flag;
    char userName[40];
    char data[512];
    char address[64];
};
}

static_assert(offsetof(ClientEvent, code) == 0);
static_assert(offsetof(ClientEvent, flag) == 4);
static_assert(offsetof(ClientEvent, userName) == 8);
static_assert(offsetof(ClientEvent, data) == 48);
static_assert(offsetof(ClientEvent, address) == 560);
static_assert(sizeof(ClientEvent) == 624);

namespace kestrix::plugin {

// The questions the server asks, by event code.
namespace code {
inline constexpr int32_t kLoginMessageFile = 1;
inline constexpr int32_t kHomeDirectory = 2;
inline constexpr int32_t kPasswordCheck = 3;
inline constexpr int32_t kAddressAllowed = 4;
inline constexpr int32_t kFileWrite = 5;
inline constexpr int32_t kFileRead = 6;
inline constexpr int32_t kFileDelete = 7;
inline constexpr int32_t kListDirectory = 9;
inline constexpr int32_t kListDirectoryToo = 10;
inline constexpr int32_t kRemoveDirectory = 11;
inline constexpr int32_t kMakeDirectory = 12;
inline constexpr int32_t kHideHiddenFiles = 13;
inline constexpr int32_t kRelativePaths = 14;
inline constexpr int32_t kRatioType = 15;
inline constexpr int32_t kRatioDown = 16;
inline constexpr int32_t kRatioUp = 17;
inline constexpr int32_t kRatioCredit = 18;
inline constexpr int32_t kRatioFree = 19;
inline constexpr int32_t kUseQuota = 20;
inline constexpr int32_t kQuotaCurrent = 21;
inline constexpr int32_t kQuotaMax = 22;
inline constexpr int32_t kAlwaysLogin = 23;
inline constexpr int32_t kOneLoginPerAddress = 24;
inline constexpr int32_t kAddressListed = 25;
inline constexpr int32_t kSpeedLimit = 26;
inline constexpr int32_t kPasswordChange = 27;
inline constexpr int32_t kIdleTimeout = 28;
inline constexpr int32_t kMaxConcurrent = 29;
inline constexpr int32_t kMaxLoginsPerAddress = 33;
inline constexpr int32_t kPasswordCheckToo = 34;
inline constexpr int32_t kFileAppend = 35;
inline constexpr int32_t kSignOnFile = 36;
inline constexpr int32_t kSignOffFile = 37;
inline constexpr int32_t kMaintenance = 38;
inline constexpr int32_t kSessionTimeout = 39;
}  // namespace code

// True for the codes the plug-in answers: 1..39 without 8 and 30..32.
constexpr bool isAnsweredCode(int32_t c) {
    return c >= 1 && c <= 39 && c != 8 && (c < 30 || c > 32);
}

}  // namespace kestrix::plugin
