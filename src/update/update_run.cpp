// The operations of one update run: control file, decision, instructions, texts, file list,
// downloads with cabinet extraction and patching, and the restart through the updater.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "update/cab_extract.h"
#include "update/lz_expand.h"
#include "update/prefix_expansion.h"
#include "update/status_messages.h"
#include "update/web_update.h"

extern char** environ;

namespace trawlex::update {
namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparator);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparator);
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

std::string UpperExt(const std::string& path) {
  const std::string name = BaseName(path);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : AsciiUpper(name.substr(dot));
}

/// Splits a command line at blanks; double quotes hold blanks together and are dropped.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> out;
  std::string word;
  bool quoted = false, any = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) out.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) out.push_back(word);
  return out;
}

/// Starts `argv` in a session of its own, so that it outlives this program.
bool SpawnDetached(const std::vector<std::string>& argv, std::string* err, pid_t* pid_out) {
  if (argv.empty()) {
    if (err) *err = "no program named";
    return false;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  const int rc = argv[0].find('/') == std::string::npos
                     ? posix_spawnp(&pid, argv[0].c_str(), nullptr, &attr, args.data(), environ)
                     : posix_spawn(&pid, argv[0].c_str(), nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    if (err) *err = "\"" + argv[0] + "\": " + std::strerror(rc);
    return false;
  }
  if (pid_out) *pid_out = pid;
  return true;
}

}  // namespace

const std::string& TWebUpdate::RunDirectory() {
  if (!run_dir_.empty()) {
    struct stat st {};
    if (::lstat(run_dir_.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
      return run_dir_;
    run_dir_.clear();
  }
  std::string base;
  ConvertPrefix("TMP", base);
  if (base.empty()) base = "/tmp";
  std::string templ = base + "/trawlex-finder-run-XXXXXX";
  if (::mkdtemp(templ.data())) run_dir_ = templ;  // mkdtemp makes it 0700
  return run_dir_;
}

bool TWebUpdate::IsAppComponent(const std::string& name) const {
  const std::string wanted = AsciiUpper(name);
  for (const std::string& comp : SplitCommandLine(app_comps_)) {
    if (AsciiUpper(BaseName(comp)) == wanted) return true;
  }
  return false;
}

DateTime TWebUpdate::GetLocalDate() {
  // No registry place is kept on this platform: the local file's age stands for the release.
  const std::string local = LocalPath(ExpandPrefixes(control_.Update().localversion));
  if (!local.empty()) {
    if (const auto age = FileLastWriteTime(local)) return *age;
  }
  return DefaultDateTime();
}

void TWebUpdate::GetControlFileURL(std::string& url) {
  url = ExpandPrefixes(URL);
}

int TWebUpdate::GetControlFile() {
  std::string url;
  GetControlFileURL(url);
  app_update_ = silent_restart_ = restart_needed_ = false;
  restart_command_.clear();
  app_comps_.clear();
  control_ = ControlFile();
  const std::string& dir = RunDirectory();
  DownloadOutcome outcome;
  bool ok = false;
  if (!dir.empty()) {
    try {
      ok = DownloadFile(url, false, dir + kPathSeparator, {}, &outcome);
    } catch (const std::system_error& e) {
      ReportRefused(url, e.what());
    }
  }
  std::optional<ControlFile> loaded;
  if (ok) {
    control_file_path_ = outcome.path;
    std::string err;
    loaded = ControlFile::Load(outcome.path, &err);
    if (!loaded) ReportRefused(url, err);
  }
  if (!loaded) {
    ReportStatus(925, "", 2, 0);
    return 4;
  }
  ReportStatus(926, "", 3, 0);
  control_ = std::move(*loaded);
  int result = 0;
  if (SignatureCheck && control_.Update().signature != Signature) {
    ReportStatus(927, "", 11, 4);
    result = 5;
  }
  const ApplicationSection app = control_.Application();
  app_update_ = app.appupdate == 1;
  const std::string appname = ExpandPrefixes(app.appname);
  if (appname.empty()) app_update_ = false;
  const size_t blank = appname.find(' ');
  const std::string program = appname.substr(0, blank);
  std::string params = blank == std::string::npos ? "" : appname.substr(blank + 1);
  if (OnSetAppParams) OnSetAppParams(*this, params);
  restart_command_ = params.empty() ? program : program + " " + params;
  if (restart_command_.find(' ') != std::string::npos) {
    restart_command_ = "\"" + restart_command_ + "\"";
  }
  app_comps_ = ExpandPrefixes(app.appcomps);
  silent_restart_ = app.silentrestart == 1;
  return result;
}

int TWebUpdate::CheckNewVersion() {
  decision_ = FindUpdateKind(control_);
  return decision_.result;
}

bool TWebUpdate::StartCommand(const std::vector<std::string>& argv, std::string* err) {
  if (Hooks.StartProgram) return Hooks.StartProgram(argv, err);
  pid_t pid = -1;
  return SpawnDetached(argv, err, &pid);
}

int TWebUpdate::ProcessActions() {
  const ActionSection action = control_.Action();
  int result = 0;
  if (!action.msg.empty()) {
    ReportStatus(934, "", 3, 0);
    if (Hooks.Information) Hooks.Information(ExpandLineBreaks(action.msg));
  }
  if (!action.htmldlg.empty()) {
    const std::string url = ExpandPrefixes(action.htmldlg);
    ReportStatus(935, "", 7, 0);
    std::string err = "no HTML dialog is available";
    if (!Hooks.ShowHtmlDialog || !Hooks.ShowHtmlDialog(url, &err)) {
      throw std::runtime_error("The page \"" + url + "\" cannot be shown: " + err);
    }
  }
  if (!action.runbefore.empty()) {
    std::string err;
    StartCommand(SplitCommandLine(ExpandPrefixes(action.runbefore)), &err);
  }
  if (OnCustomProcess) {
    const CustomSection custom = control_.Custom();
    OnCustomProcess(*this, custom.processmsg, custom.processparam);
  }
  if (!action.query.empty()) {
    ReportStatus(936, "", 3, 0);
    const bool yes = Hooks.AskYesNo && Hooks.AskYesNo(ExpandLineBreaks(action.query));
    if (!yes) {
      app_update_ = false;
      result = -1;
    }
  }
  if (!action.showURL.empty()) {
    // The page goes to a browser and so to the web site: proxy credentials stay out of it.
    const std::string url = ExpandPrefixes(action.showURL);
    ReportStatus(942, "", 3, 0);
    if (Hooks.OpenURL) Hooks.OpenURL(url);
  }
  return result;
}

std::optional<std::vector<std::string>> TWebUpdate::FetchText(const std::string& url) {
  const std::string& dir = RunDirectory();
  if (dir.empty()) return std::nullopt;
  DownloadOutcome outcome;
  if (!DownloadFile(url, false, dir + kPathSeparator, {}, &outcome)) return std::nullopt;
  std::ifstream in(outcome.path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  in.close();
  std::remove(outcome.path.c_str());
  return lines;
}

std::optional<std::vector<std::string>> TWebUpdate::GetWhatsNew() {
  const std::string file = control_.WhatsNew().file;
  if (file.empty()) return std::nullopt;
  ReportStatus(937, "", 12, 0);
  return FetchText(ExpandPrefixes(file));
}

std::optional<std::vector<std::string>> TWebUpdate::GetEULA() {
  const std::string file = control_.Eula().file;
  if (file.empty()) return std::nullopt;
  ReportStatus(939, "", 13, 0);
  return FetchText(ExpandPrefixes(file));
}

int TWebUpdate::ShowWhatsNewDialog(const std::vector<std::string>& list) {
  if (OnDownloadedWhatsNew) {
    int res = 0;
    OnDownloadedWhatsNew(*this, list, res);
    return res == 1 ? 0 : -1;
  }
  const WhatsNewSection section = control_.WhatsNew();
  TextDialogContent dialog{section.caption, list, section.okbtn, section.cancelbtn, "", false};
  if (Hooks.ShowTextDialog && Hooks.ShowTextDialog(dialog)) return 0;
  ReportStatus(938, "", 14, 0);
  return -1;
}

int TWebUpdate::ShowEULADialog(const std::vector<std::string>& list) {
  if (OnDownloadedEULA) {
    int res = 0;
    OnDownloadedEULA(*this, list, res);
    return res == 1 ? 0 : -1;
  }
  const EulaSection section = control_.Eula();
  TextDialogContent dialog{section.caption,   list,          section.accept,
                           section.notaccept, section.okbtn, true};
  return Hooks.ShowTextDialog && Hooks.ShowTextDialog(dialog) ? 0 : -1;
}

int TWebUpdate::GetFileList() {
  file_list_.Clear();
  const int32_t count = control_.FileCount();
  if (count > 0) ReportStatus(943, "", 3, 0);
  for (int32_t i = 1; i <= count; ++i) file_list_.Add() = MakeFileDescription(control_.File(i));
  return count;
}

int TWebUpdate::FilterFileList() {
  for (size_t i = 0; i < file_list_.Count();) {
    if (IsFileEntryKept(file_list_.Item(i))) {
      ++i;
    } else {
      file_list_.Delete(i);
    }
  }
  if (OnGetFileList) {
    std::vector<std::string> list;
    for (size_t i = 0; i < file_list_.Count(); ++i) list.push_back(file_list_.Item(i).Description);
    OnGetFileList(*this, list);
    for (size_t i = list.size(); i-- > 0;) {
      if (list[i].empty() && i < file_list_.Count()) file_list_.Delete(i);
    }
  }
  return file_list_.Count() == 0 ? -1 : 0;
}

bool TWebUpdate::RunPatchTool(const std::string& patch, const std::string& target,
                              std::string* err) {
  pid_t pid = -1;
  if (!SpawnDetached({"./patcher.exe", patch, target}, err, &pid)) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (err)
    *err = "the patch tool failed (error " + std::to_string(WEXITSTATUS(status) + 8192) + ")";
  return false;
}

int TWebUpdate::DownloadFiles() {
  TWebUpdateUpdate mode = UpdateUpdate;
  cancelled_ = false;
  for (size_t i = 0; i < file_list_.Count(); ++i) {
    const TFileDescription entry = file_list_.Item(i);
    const std::string name = FileNameFromURL(entry.URL);
    if (mode == TWebUpdateUpdate::wuuPromptAll) {
      if (!Hooks.AskYesNo || !Hooks.AskYesNo(FormatStatusMessage(909, "") + name)) continue;
    } else if (mode == TWebUpdateUpdate::wuuPromptOnce) {
      if (!Hooks.AskYesNo || !Hooks.AskYesNo(FormatStatusMessage(910, ""))) break;
    }
    file_list_.ActiveItem = static_cast<int>(i);
    std::string url = entry.URL;
    if (OnBeforeFileDownload)
      OnBeforeFileDownload(*this, static_cast<int>(i) + 1, entry.Description, url);

    std::string why;
    DownloadOutcome outcome;
    bool ok = false;
    refused_reported_ = false;
    if (!entry.TargetDir.empty() && !MakeTargetFolder(entry.TargetDir, &why)) {
      ReportRefused(entry.URL, why);
    } else if (const std::string dir = entry.TargetDir.empty() ? "." : entry.TargetDir;
               ::access(dir.c_str(), W_OK) != 0) {
      ReportRefused(entry.URL, "its target folder \"" + dir +
                                   "\" cannot be written by this user (" + std::strerror(errno) +
                                   "); an installed program is updated by whoever installed it");
    } else {
      try {
        ok = DownloadFile(entry.URL, entry.Compressed, entry.TargetDir, entry.Expected(), &outcome);
      } catch (const std::system_error& e) {
        ReportRefused(entry.URL, e.what());
      }
    }
    if (ok) {
      const std::string final_name = BaseName(outcome.path);
      const bool component = IsAppComponent(final_name);
      if (component) restart_needed_ = true;
      const std::string ext = UpperExt(outcome.path);
      if (ext == ".CAB" && ExtractCAB && !component) {
        std::string err;
        const std::string into = entry.TargetDir.empty() ? DirName(outcome.path) : entry.TargetDir;
        if (!ExtractCabinet(outcome.path, into, &err)) {
          ReportStatus(947, outcome.path + " (" + err + ")", 8, 0);
        } else if (!KeepIntermediateFiles) {
          std::remove(outcome.path.c_str());
        }
      } else if (ext == ".PAT" && ApplyPatch && !entry.LocalVersion.empty() && !component) {
        std::string err;
        if (RunPatchTool(outcome.path, entry.LocalVersion, &err)) {
          if (!KeepIntermediateFiles) std::remove(outcome.path.c_str());
        } else {
          ReportStatus(947, outcome.path + " (" + err + ")", 8, 0);
        }
      }
    } else {
      if (cancelled_) break;
      if (!refused_reported_) ReportStatus(946, entry.URL, 2, 0);
      app_update_ = false;
    }
    if (mode == TWebUpdateUpdate::wuuPromptOnce) mode = TWebUpdateUpdate::wuuSilent;
  }
  return 0;
}

std::string TWebUpdate::ExtractUpdater(std::string* err) {
  const std::string& dir = RunDirectory();
  if (dir.empty()) {
    *err = "no private folder can be made for it";
    return {};
  }
  if (UpdaterResource.empty()) {
    *err = "this program carries no updater";
    return {};
  }
  const std::string packed = dir + "/upd.ex_";
  {
    const int fd = ::open(packed.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      *err = "\"" + packed + "\" cannot be written (" + std::strerror(errno) + ")";
      return {};
    }
    const ssize_t n = ::write(fd, UpdaterResource.data(), UpdaterResource.size());
    if (::close(fd) != 0 || n != static_cast<ssize_t>(UpdaterResource.size())) {
      std::remove(packed.c_str());
      *err = "\"" + packed + "\" cannot be written";
      return {};
    }
  }
  std::string expanded;
  if (!LzExpandFile(packed, &expanded, err)) {
    std::remove(packed.c_str());
    return {};
  }
  ::chmod(expanded.c_str(), 0700);
  return expanded;
}

std::vector<std::string> TWebUpdate::UpdaterArguments(const std::string& updater) const {
  std::vector<std::string> argv = {updater, std::to_string(::getpid())};
  // The quoted restart command arrives as one argument without its quotes.
  std::string restart = restart_command_;
  if (restart.size() >= 2 && restart.front() == '"' && restart.back() == '"') {
    restart = restart.substr(1, restart.size() - 2);
  }
  argv.push_back(restart.empty() ? "null" : restart);
  if (app_update_) {
    for (const std::string& comp : SplitCommandLine(app_comps_)) argv.push_back(comp);
  }
  return argv;
}

void TWebUpdate::DoRestart() {
  bool cancel = false;
  if (OnProgressCancel) OnProgressCancel(*this, cancel);
  if (cancel) return;
  bool allow = true;
  if (OnAppRestart) {
    OnAppRestart(*this, allow);
  } else if (!silent_restart_) {
    allow = Hooks.AskYesNo && Hooks.AskYesNo(FormatStatusMessage(911, ""));
  }
  if (!allow) return;
  std::string err;
  const std::string updater = ExtractUpdater(&err);
  if (updater.empty() || !StartCommand(UpdaterArguments(updater), &err)) {
    ReportStatus(950, err, 9, errno);
  }
  if (OnAppDoClose) {
    OnAppDoClose(*this);
  } else if (EndApplication) {
    EndApplication();
  } else {
    std::exit(0);
  }
}

}  // namespace trawlex::update
