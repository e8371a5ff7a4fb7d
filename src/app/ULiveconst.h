// The updater's fixed names and texts: file and folder names shared with the
// main application, the settings keys, the server paths, the single-instance
// mutex and the window's Chinese texts (UTF-8, the system code page here).
//
// Constants only; usable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace app {

// --- Files and folders of the application folder ------------------------------

inline constexpr std::string_view kSettingsFileName = "sms.ini";
inline constexpr std::string_view kSettingsSection = "tarvo";
inline constexpr std::string_view kStagingFolderName = "liveupdate";
// The downloaded update list, inside the staging folder.
inline constexpr std::string_view kLocalListFileName = "tmp.ini";
// The manifest and signature as fetched, inside the staging folder.
inline constexpr std::string_view kLocalSumsFileName = "livelist.sums";
inline constexpr std::string_view kLocalSignatureFileName = "livelist.sums.sig";
// The updater's own files in the staging folder: its log (and the log before
// it), the installation's journal and lock, and the folder where the
// installation keeps old files and prepares new ones.
inline constexpr std::string_view kLogFileName = "liveupdate.log";
inline constexpr std::string_view kOldLogFileName = "liveupdate.log.1";
inline constexpr std::string_view kJournalFileName = "install.journal";
inline constexpr std::string_view kInstallLockFileName = "install.lock";
inline constexpr std::string_view kInstallWorkFolderName = ".install";
inline constexpr std::string_view kMainApplicationName = "tarvo.exe";
// The two names the updater alternates between: the running copy is one of them,
// a new version of the updater is written to the other.
inline constexpr std::string_view kUpdaterName1 = "liveupdate1.exe";
inline constexpr std::string_view kUpdaterName2 = "liveupdate2.exe";

// --- Settings keys (section kSettingsSection of kSettingsFileName) ------------

inline constexpr std::string_view kKeyVersion = "ver";
inline constexpr std::string_view kKeyUpdaterName = "Liveupdate";
inline constexpr std::string_view kKeyFirstRun = "firstrun";
// Base64 of the publisher's 32-byte Ed25519 public key. When it is set the
// updater installs only what a site signed with that key vouches for.
inline constexpr std::string_view kKeyPublicKey = "PublicKey";

// --- Update list --------------------------------------------------------------

// Keys of an update-list section: "file1", "file2", ... read up to this number.
inline constexpr std::string_view kListKeyPrefix = "file";
inline constexpr int kListMaxEntries = 10000;
// An entry's kind that marks it as invalid (and what text that is no number reads as).
inline constexpr int kInvalidKind = -1;

// --- Update server --------------------------------------------------------------

inline constexpr std::string_view kServerListPath = "/tarvo/livelist.txt";
inline constexpr std::string_view kServerFilePath = "/tarvo/file/";
// The signed manifest beside the list, and its detached signature.
inline constexpr std::string_view kServerSumsPath = "/tarvo/livelist.sums";
inline constexpr std::string_view kServerSignaturePath = "/tarvo/livelist.sums.sig";
// Overrides the build-time base URL (scheme, host, optional port, no trailing '/').
inline constexpr std::string_view kServerEnvironmentVariable = "LIVEUPDATE_SERVER";

// --- Single instance ------------------------------------------------------------

inline constexpr std::string_view kInstanceMutexName = "{C3D66803-80E4-447C-90B1-26196B8C3C48}";

// --- Texts ------------------------------------------------------------------------

// Application title once this copy holds the single-instance mutex.
inline constexpr std::string_view kShortTitle = "自动升级";
// Application title and window caption once the window is created.
inline constexpr std::string_view kTitle = "QuorinPellix自动升级";
// The caption stored with the window, seen only before the window is set up.
inline constexpr std::string_view kStoredCaption = "Quorin自动升级";
// The label while the update list is fetched (five dots).
inline constexpr std::string_view kFetchingListText = "获取更新列表.....";
// The label while a file is fetched: prefix + path as written in the list + suffix.
inline constexpr std::string_view kDownloadingPrefix = "下载文件";
inline constexpr std::string_view kDownloadingSuffix = "...";
// The caption after the user confirmed closing during a run.
inline constexpr std::string_view kTerminatingCaption = "正在终止升级，请稍等...";

// The close question: caption, the five lines (joined by one carriage return
// each, none at the end) and the message box flags (Yes/No plus information).
inline constexpr std::string_view kCloseQuestionCaption = "信息";
inline constexpr std::string_view kCloseQuestionLines[] = {
    "强烈建议您稍侯，软件正在自动更新！",
    "您现在关闭将终止此次更新！",
    "如果是因为长时间没有响应！",
    "您可以执行关闭！等下次启动时再更新！",
    "确实要关闭吗？",
};
inline constexpr int kCloseQuestionFlags = 68;
inline constexpr int kAnswerYes = 6;
// The five lines as the message box shows them.
std::string CloseQuestionText();

// The window's download control: tries per worker and agent text.
inline constexpr int kDownloaderTryCount = 10;
inline constexpr std::string_view kDownloaderAgent = "QuorinPellix LiveUpdate";

// The pause between the last download and installation, in milliseconds.
inline constexpr int kInstallPauseMs = 200;

}  // namespace app
