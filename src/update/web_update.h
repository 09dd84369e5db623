#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "update/control_file.h"
#include "update/file_list.h"
#include "update/transfer.h"

namespace trawlex::update {

enum class TWebUpdateType { ftpUpdate, httpUpdate, fileUpdate };
enum class TWebUpdateConnect {
  wucNoConnect,
  wucConnectPrompt,
  wucConnectSilent,
  wucConnectPromptHangup,
  wucConnectSilentHangup,
  wucNone
};
enum class TWebUpdateUpdate { wuuPromptOnce, wuuPromptAll, wuuSilent };
enum class TWebUpdateVersionCheck { vcUpdateOnly, vcAlways };

/// Where the last URL and update date would be kept; this program leaves it off.
struct TLastURLEntry {
  std::string Key;
  std::string Section;
  bool Save = false;
};

/// Stored for a host; no operation acts on it.
struct TPostUpdateInfo {
  std::string Server;
  std::string Action;
  std::string Data;
  bool Enabled = false;
};

/// Result codes of the update decision.
inline constexpr int kUpdateDateNewer = 6;
inline constexpr int kUpdateNothingNew = 7;
inline constexpr int kUpdateUnconditional = 8;
inline constexpr int kUpdateSizeDiffers = 9;
inline constexpr int kUpdateChecksumDiffers = 10;
inline constexpr int kUpdateNewerVersion = 11;
inline constexpr int kUpdateAcceptedByHost = 12;

/// What the update decision found, kept for the wizard's pages.
struct UpdateDecision {
  int result = kUpdateNothingNew;
  DateTime release_date = DefaultDateTime();
  DateTime installed_date = DefaultDateTime();
  std::string new_version;    ///< as `IsNewerFile` rewrote it
  std::string local_version;  ///< as `IsNewerFile` rewrote it
  std::string description;    ///< `[update]` "descr"
};

/// Where `DownloadFile` put a file.
struct DownloadOutcome {
  std::string path;       ///< the final path, after expansion
  bool expanded = false;  ///< the file was compressed and has been expanded
};

/// One of the engine's own text dialogs (what's new, licence agreement), shown by the host.
struct TextDialogContent {
  std::string caption;
  std::vector<std::string> text;
  std::string accept;  ///< accept button, or the accepting radio button with `radio`
  std::string refuse;  ///< refuse button, or the refusing radio button with `radio`
  std::string close;   ///< with `radio`: the close button
  bool radio = false;
};

/// What an update run shows or starts, supplied by the host so that the engine needs no
/// window toolkit. A hook left empty: nothing is shown, a question counts as No, a dialog as
/// refused, and programs are started by the engine itself.
struct UpdateHostHooks {
  /// An information box with OK.
  std::function<void(const std::string& text)> Information;
  /// A question with Yes and No; true for Yes.
  std::function<bool(const std::string& text)> AskYesNo;
  /// A modal HTML page; false with the reason in `err` when it cannot be shown.
  std::function<bool(const std::string& url, std::string* err)> ShowHtmlDialog;
  /// Starts a program (argv[0] its path), not waiting for it; false with the reason in `err`.
  std::function<bool(const std::vector<std::string>& argv, std::string* err)> StartProgram;
  /// Opens a web page in the desktop's browser.
  std::function<bool(const std::string& url)> OpenURL;
  /// The engine's own what's-new and agreement dialogs; true when accepted.
  std::function<bool(const TextDialogContent& dialog)> ShowTextDialog;
};

/// The live-update engine: connection, transfers, checksums, version test and status reports.
/// Published properties and events are public members named as the component publishes them.
/// All work runs on the calling thread; during a transfer `ProcessMessages`, `OnFileProgress`
/// and `OnProgressCancel` let a window host stay live and cancel within one block. A host may
/// equally drive the engine from a worker thread, and then gets every event on that thread.
///
/// Re-entrancy: while a transfer runs (`DownloadFile`, `CopyLocalFile`, `FTPConnect`), the
/// host's handlers may call `StopConnection`, which cancels the transfer and is carried out
/// once it has unwound, and every operation that starts no transfer. `StartConnection`,
/// `FTPConnect`, `DownloadFile` and `CopyLocalFile` are refused then with `std::logic_error`.
/// The engine must not be destroyed from its own handlers.
///
/// What a download may do: its target must lie inside the program's folder ({APP}), the
/// engine's `TempDirectory` or the system's temporary directory ({TMP}), symbolic links
/// resolved; when `URL` is https, every HTTP download and redirect must be https with a
/// verified certificate; a download that is empty, cut short, larger than allowed, stalled,
/// not expandable or not matching its entry's size, checksum or SHA-256 replaces nothing.
class TWebUpdate {
 public:
  TWebUpdate();
  virtual ~TWebUpdate();
  TWebUpdate(const TWebUpdate&) = delete;
  TWebUpdate& operator=(const TWebUpdate&) = delete;

  // Published properties, with the component's defaults.
  bool ApplyPatch = false;
  std::string DateFormat = "dd/mm/yyyy";
  char DateSeparator = '/';
  bool ExtractCAB = false;
  std::string FTPDirectory;
  bool FTPPassive = false;
  std::string Host;
  bool HTTPKeepAliveAuthentication = false;
  bool KeepIntermediateFiles = false;
  bool Logging = false;
  TLastURLEntry LastURLEntry;
  std::string Password;
  int Port = 21;
  TPostUpdateInfo PostUpdateInfo;
  std::string Proxy;
  std::string ProxyUserID;
  std::string ProxyPassword;
  std::string Signature = "WebUpdate";
  bool SignatureCheck = false;
  std::string TempDirectory = ".";
  std::string TimeFormat = "hh:nn";
  char TimeSeparator = ':';
  TWebUpdateType UpdateType = TWebUpdateType::ftpUpdate;
  TWebUpdateConnect UpdateConnect = TWebUpdateConnect::wucNoConnect;
  TWebUpdateUpdate UpdateUpdate = TWebUpdateUpdate::wuuPromptOnce;
  std::string URL;
  std::string UserID;
  bool UseCRC32 = false;
  TWebUpdateVersionCheck VersionCheck = TWebUpdateVersionCheck::vcUpdateOnly;

  // Limits of this implementation, beyond the component's published set.
  /// PEM file of the certificate authorities trusted for https in place of the system's;
  /// empty: the system's.
  std::string CertificateAuthorities;
  /// The largest file a download may bring when its entry gives no size.
  int64_t MaxDownloadSize = int64_t{1} << 30;
  /// Seconds a transfer may stay below 1 KB/s before it counts as failed.
  int StallTimeout = 60;

  // Published events; the first parameter is always the sender.
  std::function<void(TWebUpdate&, const std::string& filename, int64_t pos, int64_t size)>
      OnFileProgress;
  std::function<void(TWebUpdate&, const std::string& filename)> OnFileDownloaded;
  std::function<void(TWebUpdate&, const std::string& newversion, const std::string& localversion,
                     bool& IsNew)>
      OnFileVersionCheck;
  std::function<void(TWebUpdate&, bool& AllowPostResult)> OnProcessPostResult;
  std::function<void(TWebUpdate&, const std::string& action)> OnProgress;
  std::function<void(TWebUpdate&, bool& cancel)> OnProgressCancel;
  std::function<void(TWebUpdate&, const std::string& statusstr, int statuscode, int errcode)>
      OnStatus;
  std::function<void(TWebUpdate&)> OnThreadUpdateDone;
  std::function<void(TWebUpdate&, bool& allow)> OnAppRestart;
  std::function<void(TWebUpdate&)> OnAppDoClose;
  std::function<void(TWebUpdate&, int FileIdx, const std::string& FileDescription,
                     std::string& URL)>
      OnBeforeFileDownload;
  std::function<void(TWebUpdate&, const std::string& msg, const std::string& param, bool& allow)>
      OnCustomValidate;
  std::function<void(TWebUpdate&, const std::string& msg, const std::string& param)>
      OnCustomProcess;
  std::function<void(TWebUpdate&, std::vector<std::string>& list)> OnGetFileList;
  std::function<void(TWebUpdate&, std::string& path)> OnConvertPrefix;
  std::function<void(TWebUpdate&, std::string& AppParams)> OnSetAppParams;
  std::function<void(TWebUpdate&, const std::vector<std::string>& Text, int& Res)>
      OnDownloadedWhatsNew;
  std::function<void(TWebUpdate&, const std::vector<std::string>& Text, int& Res)> OnDownloadedEULA;
  std::function<void(TWebUpdate&, const std::string& URL, std::string& FName)> OnFileNameFromURL;
  std::function<void(TWebUpdate&)> OnSuccess;

  /// Lets the host handle its pending window events; called once per transferred block and
  /// while a transfer waits for the network. It must not call back into this engine.
  std::function<void()> ProcessMessages;

  /// 0 ready, 1 not connected and `wucNoConnect`, 2 no session, 3 dialling failed.
  virtual int StartConnection();
  /// 0, or -1 when no FTP connection could be made.
  virtual int FTPConnect();
  /// Closes what is open and deletes the fetched control file; safe to call repeatedly. Called
  /// during a transfer, it cancels the transfer and is carried out when that has unwound.
  virtual int StopConnection();
  /// Formats message `id` with `param`, logs it when `Logging` is on and raises `OnStatus`.
  virtual void ReportStatus(int id, const std::string& param, int statuscode, int errcode);
  /// Newer-file test by checksum, size or version resource; rewrites both texts to dotted
  /// versions when it compares versions.
  virtual bool IsNewerFile(std::string& newversion, std::string& localfile, int32_t checksum,
                           int32_t size);
  /// Directory for a prefix name ("WIN", "APP", "TMP", "PF"); empty leaves the name in place.
  virtual void ConvertPrefix(const std::string& name, std::string& value);
  /// Raised when a file is complete under its final name.
  virtual void FileDownloaded(const std::string& filename);

  /// Fetches `url` into `targetdir` over the transport of `UpdateType`, expands it when
  /// `compressed` (SZDD; not a ".CAB"), checks the result against `expected` and only then
  /// puts it in place. False on any failure, with the reason reported; then the previous
  /// target stays as it was. A temporary file that cannot be created or written raises
  /// `std::system_error`; an exception from an event handler passes through once the
  /// temporary files are gone.
  /// `outcome`, when given, learns the final path and whether the file was expanded.
  bool DownloadFile(const std::string& url, bool compressed, const std::string& targetdir,
                    const ExpectedFile& expected = {}, DownloadOutcome* outcome = nullptr);
  /// Copies a local file through a temporary file onto `target`; an empty source is refused
  /// (914) and replaces nothing.
  bool CopyLocalFile(const std::string& source, const std::string& target);
  /// The last part of a URL or path; `OnFileNameFromURL` may change it.
  std::string FileNameFromURL(const std::string& url);
  /// Expands {WIN}, {APP}, {TMP} and {PF} after `OnConvertPrefix`.
  std::string ExpandPrefixes(const std::string& text);
  /// Puts `ProxyUserID` and `ProxyPassword` into an "http://" URL for a web page shown
  /// outside the engine; other URLs are returned unchanged. Downloads never use it: they hand
  /// the credentials to the proxy alone.
  [[nodiscard]] std::string AddProxyCredentials(const std::string& url) const;
  /// Control-file date and time with `DateFormat` and `TimeFormat`.
  [[nodiscard]] DateTime ParseDateTime(const std::string& date, const std::string& time) const;

  /// Decides which kind of update the control file offers (result codes 6 to 12), reporting
  /// each finding.
  UpdateDecision FindUpdateKind(const ControlFile& control);
  /// A `[fileN]` entry with expanded paths and a target directory ending in a separator.
  TFileDescription MakeFileDescription(const FileSection& section);
  /// The file filter: whether an entry is worth downloading.
  bool IsFileEntryKept(const TFileDescription& entry);

  // The update run, in the order a run calls it.
  /// Installed release date: the `[update]` "localversion" file's age, else 1 January 1980.
  DateTime GetLocalDate();
  /// The control file's address, prefixes expanded.
  virtual void GetControlFileURL(std::string& url);
  /// 0 found, 4 not found, 5 invalid signature (`[application]` is read all the same).
  virtual int GetControlFile();
  /// Result codes 6 to 12; the decision stays readable through `Decision()`.
  virtual int CheckNewVersion();
  /// The `[action]` instructions; 0, or -1 when the query was answered No.
  virtual int ProcessActions();
  /// The what's-new text, or nullopt when there is none or it cannot be fetched.
  virtual std::optional<std::vector<std::string>> GetWhatsNew();
  /// The licence agreement text, or nullopt.
  virtual std::optional<std::vector<std::string>> GetEULA();
  /// 0 accepted, -1 refused.
  virtual int ShowWhatsNewDialog(const std::vector<std::string>& list);
  virtual int ShowEULADialog(const std::vector<std::string>& list);
  /// Fills the file list from `[files]`; the "count" read.
  virtual int GetFileList();
  /// Drops the entries that are not newer; -1 when none is left.
  virtual int FilterFileList();
  /// Downloads every entry of the file list, with the prompts of `UpdateUpdate`; 0. Stops at
  /// a cancelled transfer (`Cancelled()` tells).
  virtual int DownloadFiles();
  /// Writes the updater into the private run folder and expands it; its path, or empty
  /// with the reason in `err`.
  virtual std::string ExtractUpdater(std::string* err);
  /// Starts the updater and ends the application (or `OnAppDoClose`). The updater puts the
  /// components in place only when the run left the application-update flag set, so that a
  /// failed download never leads to a half-replaced program.
  void DoRestart();
  /// The updater's arguments: process id, restart command (without its quotes), components.
  [[nodiscard]] std::vector<std::string> UpdaterArguments(const std::string& updater) const;
  /// The private folder (mode 0700, made with mkdtemp) that holds the control file, the
  /// texts and the updater; made on first use, empty when it cannot be made.
  const std::string& RunDirectory();

  UpdateHostHooks Hooks;
  /// The updater program in SZDD form, carried by the host program.
  std::span<const uint8_t> UpdaterResource;
  /// Ends the application when no `OnAppDoClose` is attached; empty: `std::exit(0)`.
  std::function<void()> EndApplication;

  [[nodiscard]] const UpdateDecision& Decision() const { return decision_; }
  [[nodiscard]] const ControlFile& Control() const { return control_; }
  [[nodiscard]] const std::string& ControlFilePath() const { return control_file_path_; }
  /// `[application]` as read by `GetControlFile`, and what the downloads found.
  [[nodiscard]] bool AppUpdate() const { return app_update_; }
  [[nodiscard]] bool SilentRestart() const { return silent_restart_; }
  [[nodiscard]] bool RestartNeeded() const { return restart_needed_; }
  /// The restart command as the control file gives it, in double quotes when it has a blank.
  [[nodiscard]] const std::string& RestartCommand() const { return restart_command_; }
  [[nodiscard]] const std::string& AppComponents() const { return app_comps_; }
  /// Whether `name` is one of the blank-separated names of "appcomps" (any case).
  [[nodiscard]] bool IsAppComponent(const std::string& name) const;

  [[nodiscard]] bool Connected() const { return connected_; }
  /// Whether a transfer is running (the host's handlers are being called from inside it).
  [[nodiscard]] bool Busy() const { return transfer_depth_ > 0; }
  /// Whether downloads must be https: an HTTP update whose control file comes over https.
  [[nodiscard]] bool HttpsOnly() const;
  /// Whether the last transfer was cancelled by the host.
  [[nodiscard]] bool Cancelled() const { return cancelled_; }
  [[nodiscard]] TFileList& FileList() { return file_list_; }

 protected:
  /// Path of the fetched control file, deleted by `StopConnection`.
  std::string control_file_path_;

 private:
  bool AskCancel();
  /// Runs `body` as a transfer: refused when one runs already, and a `StopConnection` asked
  /// for meanwhile is carried out afterwards.
  template <typename Body>
  auto AsTransfer(const char* operation, Body body) -> decltype(body());
  void RefuseDuringTransfer(const char* operation) const;
  /// The path of the installed file, or empty after a failure (reported unless cancelled).
  std::string DownloadFileNow(const std::string& url, bool compressed, const std::string& targetdir,
                              const ExpectedFile& expected);
  bool CopyLocalFileNow(const std::string& source, const std::string& target);
  /// Copies `source` into a new temporary file for `target`; its path, or empty after the
  /// failure has been reported (or the copy cancelled).
  std::string CopyToTempFile(const std::string& source, const std::string& target);
  std::string FetchToTempFile(const std::string& url, const std::string& name,
                              const std::string& target, const ExpectedFile& expected,
                              bool compressed);
  /// Expands and checks the downloaded `temp` and puts it in place; the installed path.
  std::string InstallDownload(const std::string& temp, const std::string& target, bool expand,
                              const ExpectedFile& expected, const std::string& url);
  /// The target resolved inside an allowed folder, or nullopt with the reason in `why`.
  std::optional<std::string> ConfineTarget(const std::string& target, std::string* why);
  /// Reports that `url` was not installed and why (946).
  void ReportRefused(const std::string& url, const std::string& why);
  /// The folders downloads may write into, resolved.
  std::vector<std::string> AllowedRoots();
  /// Makes a download's target folder when it lies inside an allowed folder.
  bool MakeTargetFolder(const std::string& dir, std::string* why);
  /// Downloads one text file into the run folder and reads its lines.
  std::optional<std::vector<std::string>> FetchText(const std::string& url);
  bool StartCommand(const std::vector<std::string>& argv, std::string* err);
  bool RunPatchTool(const std::string& patch, const std::string& target, std::string* err);
  bool ReplaceTarget(const std::string& temp, const std::string& target);
  std::string MakeTempFile(int* fd);
  SessionSettings MakeSessionSettings() const;

  std::unique_ptr<TransferSession> session_;
  std::unique_ptr<TransferSession> ftp_connection_;
  std::string ftp_base_url_;
  std::string ftp_directory_;
  bool ftp_directory_entered_ = false;
  bool connected_ = false;
  bool cancelled_ = false;
  int transfer_depth_ = 0;
  bool stop_pending_ = false;
  TFileList file_list_;
  bool refused_reported_ = false;
  bool last_expanded_ = false;
  std::string run_dir_;
  ControlFile control_;
  UpdateDecision decision_;
  bool app_update_ = false;
  bool silent_restart_ = false;
  bool restart_needed_ = false;
  std::string restart_command_;
  std::string app_comps_;
};

/// The update address this program uses by default: the vendor's server over https.
inline constexpr const char* kDefaultUpdateURL =
    "https://update.ostreltrawlex.com/update/ostreltrawlexfinder.inf";

/// Sets the values that the main window gives its engine at start-up.
void ApplyMainWindowValues(TWebUpdate& engine, const std::string& program_folder);

}  // namespace trawlex::update
