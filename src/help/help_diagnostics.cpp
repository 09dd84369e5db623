#include "help/help_diagnostics.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "help/help_engine.h"

namespace trawlex::help {
namespace {

namespace fs = std::filesystem;

struct DiagnosticsState {
  HelpDiagnostics values;
  bool started = false;
};

DiagnosticsState& State() {
  static DiagnosticsState state;
  return state;
}

std::string WithoutTrailingSlashes(std::string folder) {
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : WithoutTrailingSlashes(path.substr(0, slash));
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

/// The folder of the program as the command line names it; a bare name was found on PATH.
std::string RunFolder(const std::string& program) {
  if (program.find('/') != std::string::npos) return FolderOf(program);
  const char* search = std::getenv("PATH");
  std::string_view rest = search ? search : "";
  while (!program.empty() && !rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string folder(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0)
      return WithoutTrailingSlashes(folder);
  }
  return {};
}

/// Whether files can be made in `folder`: a probe file is created there and deleted again.
bool IsWritableFolder(const std::string& folder) {
  const std::string probe = folder + "/$_Temp_$.$$$";
  const int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
  }
  // A file of that name that is not ours stays; the folder's permission answers instead.
  return errno == EEXIST && ::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) == 0;
}

/// The user's locale for one category, or the C locale when the environment names none valid.
class UserLocale {
 public:
  explicit UserLocale(int mask) : locale_(::newlocale(mask, "", nullptr)) {
    if (locale_ == nullptr) locale_ = ::newlocale(mask, "C", nullptr);
  }
  ~UserLocale() {
    if (locale_ != nullptr) ::freelocale(locale_);
  }
  UserLocale(const UserLocale&) = delete;
  UserLocale& operator=(const UserLocale&) = delete;
  [[nodiscard]] locale_t get() const { return locale_; }

 private:
  locale_t locale_;
};

std::string LocalTimeText(const char* format) {
  const UserLocale locale(LC_TIME_MASK);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[128] = {};
  if (locale.get() == nullptr || ::strftime_l(text, sizeof text, format, &local, locale.get()) == 0)
    std::strftime(text, sizeof text, format, &local);
  return text;
}

/// The Windows locale number that stands for the user's locale ("de_DE.UTF-8" is 0x0407).
unsigned LocaleNumber() {
  static constexpr std::pair<std::string_view, unsigned> kLocales[] = {
      {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009},
      {"en_IE", 0x1809}, {"en_NZ", 0x1409}, {"de_DE", 0x0407}, {"de_CH", 0x0807},
      {"de_AT", 0x0C07}, {"fr_FR", 0x040C}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C},
      {"fr_CH", 0x100C}, {"es_ES", 0x0C0A}, {"es_MX", 0x080A}, {"it_IT", 0x0410},
      {"nl_NL", 0x0413}, {"nl_BE", 0x0813}, {"pt_BR", 0x0416}, {"pt_PT", 0x0816},
      {"sv_SE", 0x041D}, {"da_DK", 0x0406}, {"nb_NO", 0x0414}, {"fi_FI", 0x040B},
      {"pl_PL", 0x0415}, {"cs_CZ", 0x0405}, {"hu_HU", 0x040E}, {"ru_RU", 0x0419},
      {"uk_UA", 0x0422}, {"el_GR", 0x0408}, {"tr_TR", 0x041F}, {"ja_JP", 0x0411},
      {"ko_KR", 0x0412}, {"zh_CN", 0x0804}, {"zh_TW", 0x0404}};
  const char* name = std::getenv("LC_ALL");
  if (name == nullptr || *name == '\0') name = std::getenv("LANG");
  const std::string_view locale = name ? name : "";
  const std::string_view base = locale.substr(0, locale.find_first_of(".@"));
  if (base.empty() || base == "C" || base == "POSIX") return 0x0409;
  for (const auto& [key, number] : kLocales)
    if (key == base) return number;
  // A language alone, or a country not listed: the language's first listed country.
  const std::string_view language = base.substr(0, base.find('_'));
  for (const auto& [key, number] : kLocales)
    if (key.substr(0, key.find('_')) == language) return number;
  return 0x0000;
}

std::string Hex4(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
  return text;
}

std::string DecimalSeparator() {
  const UserLocale locale(LC_NUMERIC_MASK);
  const char* radix = locale.get() ? ::nl_langinfo_l(RADIXCHAR, locale.get()) : nullptr;
  return radix && *radix ? std::string(radix) : std::string(".");
}

std::string ReadLink(const char* link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.string();
}

void WriteReport(const HelpDiagnostics& d, const std::string& exe_path) {
  const unsigned lcid = LocaleNumber();
  const auto line = [](const char* label, const std::string& value) {
    WriteDebugLine(std::string(label) + "\t" + value);
  };
  line("!Filename:             ", DebugFilePath());
  line("!Date:                 ", LocalTimeText("%x %X"));
  line("!SysLocale.DefaultLCID:", Hex4(lcid));
  line("!SysLocale.PriLangID:  ", Hex4(lcid & 0x3FF));
  line("!SysLocale.SubLangID:  ", Hex4((lcid & 0xFFFF) >> 10));
  line("!DecimalSeparator:     ", DecimalSeparator());
  WriteDebugLine("-");
  line("!EXE Path =          ", exe_path);
  line("!_RunDir =           ", d._RunDir);
  line("!_ModuleName =       ", d._ModuleName);
  line("!_ModuleDir =        ", d._ModuleDir);
  WriteDebugLine("-");
  line("!_hhInstalled =      ", d._hhInstalled ? "YES" : "NO");
  line("!_hhVerStr =         ", d._hhVerStr);
  line("!_hhFriendlyVerStr = ", d._hhFriendlyVerStr);
  WriteDebugLine("-");
  line("!_ieInstalled =      ", d._ieInstalled ? "YES" : "NO");
  line("!_ieVerStr =         ", d._ieVerStr);
  line("!_ieFriendlyVerStr = ", d._ieFriendlyVerStr);
  WriteDebugLine("=");
}

}  // namespace

DiagnosticsSources ProgramDiagnosticsSources(int argc, const char* const* argv) {
  DiagnosticsSources sources;
  sources.exe_path = ReadLink("/proc/self/exe");
  // The help system is linked into the program, so the program is its module.
  sources.module_path = sources.exe_path;
  for (int i = 0; i < argc; ++i) sources.arguments.emplace_back(argv[i]);
  sources.help_engine_path = FindHelpControlPath();
  sources.browser_component_path = FindSharedLibraryPath(kBrowserComponentLibrary, true);
  const char* temp = std::getenv("TMPDIR");
  sources.temp_folder = temp && *temp ? temp : "/tmp";
  return sources;
}

void StartHelpDiagnostics(const DiagnosticsSources& sources) {
  DiagnosticsState& state = State();
  HelpDiagnostics d;
  d._ModuleName = sources.module_path;
  d._ModuleDir = FolderOf(sources.module_path);
  d._RunDir = sources.arguments.empty() ? std::string() : RunFolder(sources.arguments.front());

  if (IsFolder(d._ModuleDir.empty() ? "/" : d._ModuleDir) && IsWritableFolder(d._ModuleDir)) {
    d.DebugDir = d._ModuleDir;
  } else {
    d.DebugDir = WithoutTrailingSlashes(IsFolder(sources.temp_folder) ? sources.temp_folder
                                                                      : std::string("/tmp"));
  }

  std::error_code ec;
  d.DebugMode =
      fs::exists(d._ModuleDir + "/" + kDebugSwitchFile, ec) || HasDebugArgument(sources.arguments);

  d.hh_version = ReadFileVersion(sources.help_engine_path);
  d._hhVerStr = d.hh_version.text;
  d._hhInstalled = !d._hhVerStr.empty();
  d._hhFriendlyVerStr = HelpEngineFriendlyVersion(d.hh_version);

  d.ie_version = AdjustBrowserComponentVersion(ReadFileVersion(sources.browser_component_path));
  d._ieVerStr = d.ie_version.text;
  d._ieInstalled = !d._ieVerStr.empty();
  d._ieFriendlyVerStr = BrowserFriendlyVersion(d.ie_version);

  state.values = std::move(d);
  state.started = true;
  ::unlink(DebugFilePath().c_str());
  if (state.values.DebugMode) WriteReport(state.values, sources.exe_path);
}

void StopHelpDiagnostics() {
  State() = DiagnosticsState{};
}

const HelpDiagnostics& Diagnostics() {
  return State().values;
}

bool DebugMode() {
  return State().values.DebugMode;
}

std::string DebugFilePath() {
  return State().values.DebugDir + kDebugFileName;
}

bool HasDebugArgument(const std::vector<std::string>& arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    std::string lower = arguments[i];
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "/debug" || lower == "-debug") return true;
  }
  return false;
}

std::string FormatDebugLine(std::string_view text, std::string_view time_text) {
  std::string line(text);
  if (line == "-" || line == "=") line.assign(80, line.front());
  if (!line.empty() && (line.front() == '!' || line.front() == '-' || line.front() == '=')) {
    line.erase(0, 1);
  } else {
    line += "   ";
    line += time_text;
  }
  return line;
}

void WriteDebugLine(std::string_view text) {
  if (!State().started) return;
  const std::string line = FormatDebugLine(text, LocalTimeText("%X")) + "\n";
  const int fd = ::open(DebugFilePath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

HelpStartup::HelpStartup(int argc, const char* const* argv) {
  if (kAutoLoadHelpEngine) LoadHelpEngine();
  StartHelpDiagnostics(ProgramDiagnosticsSources(argc, argv));
}

HelpStartup::~HelpStartup() {
  StopHelpDiagnostics();
  UnloadHelpEngine();
}

}  // namespace trawlex::help
