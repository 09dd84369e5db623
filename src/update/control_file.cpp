#include "update/control_file.h"

#include "version/version_words.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <vector>

namespace trawlex::update {
namespace {

using namespace std::chrono;

std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

/// Unsigned decimal of at most `max_digits` digits.
std::optional<uint32_t> ParseNumber(const std::string& text, size_t max_digits) {
  const std::string t = TrimBlanks(text);
  if (t.empty() || t.size() > max_digits) return std::nullopt;
  uint32_t value = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

std::string Pad(unsigned value, size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

DateTime ToLocalDateTime(time_t t) {
  std::tm local{};
  if (!::localtime_r(&t, &local)) return DateTime{seconds{t}};
  const year_month_day ymd{year{local.tm_year + 1900},
                           month{static_cast<unsigned>(local.tm_mon + 1)},
                           day{static_cast<unsigned>(local.tm_mday)}};
  return DateTime{local_days{ymd}} + hours{local.tm_hour} + minutes{local.tm_min} +
         seconds{local.tm_sec};
}

}  // namespace

DateTime DefaultDateTime() {
  return local_days{year{1980} / January / 1};
}

std::optional<DateTime> ParseDateText(const std::string& text, const std::string& format,
                                      char separator) {
  // The order of day, month and year comes from where each letter first appears.
  const std::string upper = AsciiUpper(format);
  std::array<std::pair<size_t, char>, 3> order = {
      {{upper.find('D'), 'D'}, {upper.find('M'), 'M'}, {upper.find('Y'), 'Y'}}};
  if (std::any_of(order.begin(), order.end(),
                  [](const auto& p) { return p.first == std::string::npos; })) {
    order = {{{0, 'D'}, {1, 'M'}, {2, 'Y'}}};
  }
  std::sort(order.begin(), order.end());

  const std::vector<std::string> parts = version::SplitText(TrimBlanks(text), separator);
  if (parts.size() != 3) return std::nullopt;
  unsigned d = 0, m = 0;
  int y = 0;
  for (size_t i = 0; i < 3; ++i) {
    const auto value = ParseNumber(parts[i], order[i].second == 'Y' ? 4 : 2);
    if (!value) return std::nullopt;
    switch (order[i].second) {
      case 'D':
        d = *value;
        break;
      case 'M':
        m = *value;
        break;
      default:
        y = static_cast<int>(*value);
        if (TrimBlanks(parts[i]).size() <= 2) y += y < 50 ? 2000 : 1900;
    }
  }
  const year_month_day ymd{year{y}, month{m}, day{d}};
  if (!ymd.ok()) return std::nullopt;
  return DateTime{local_days{ymd}};
}

std::optional<seconds> ParseTimeText(const std::string& text, const std::string& /*format*/,
                                     char separator) {
  const std::vector<std::string> parts = version::SplitText(TrimBlanks(text), separator);
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  const auto h = ParseNumber(parts[0], 2);
  const auto n = ParseNumber(parts[1], 2);
  const auto s = parts.size() == 3 ? ParseNumber(parts[2], 2) : std::optional<uint32_t>(0);
  if (!h || !n || !s || *h > 23 || *n > 59 || *s > 59) return std::nullopt;
  return hours{*h} + minutes{*n} + seconds{*s};
}

DateTime ParseDateTimeText(const std::string& date, const std::string& time,
                           const std::string& date_format, char date_separator,
                           const std::string& time_format, char time_separator) {
  DateTime result = ParseDateText(date, date_format, date_separator).value_or(DefaultDateTime());
  if (!time.empty()) {
    if (const auto t = ParseTimeText(time, time_format, time_separator)) result += *t;
  }
  return result;
}

std::string FormatDateText(DateTime when, const std::string& format, char separator) {
  const year_month_day ymd{floor<days>(when)};
  std::string out;
  for (size_t i = 0; i < format.size();) {
    const char c = static_cast<char>(format[i] & ~0x20);  // upper-case letter
    size_t run = 1;
    while (i + run < format.size() && format[i + run] == format[i]) ++run;
    if (c == 'D') {
      out += Pad(static_cast<unsigned>(ymd.day()), run >= 2 ? 2 : 1);
    } else if (c == 'M') {
      out += Pad(static_cast<unsigned>(ymd.month()), run >= 2 ? 2 : 1);
    } else if (c == 'Y') {
      const int y = static_cast<int>(ymd.year());
      out += run <= 2 ? Pad(static_cast<unsigned>(y % 100), 2) : Pad(static_cast<unsigned>(y), 4);
    } else if (format[i] == '/') {
      out.append(run, separator);
    } else {
      out.append(format, i, run);
    }
    i += run;
  }
  return out;
}

DateTime CurrentLocalDateTime() {
  return ToLocalDateTime(system_clock::to_time_t(system_clock::now()));
}

std::optional<DateTime> FileLastWriteTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return ToLocalDateTime(st.st_mtime);
}

std::string ExpandLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<ControlFile> ControlFile::Load(const std::string& path, std::string* err) {
  auto profile = ProfileFile::Load(path, err);
  if (!profile) return std::nullopt;
  return ControlFile(std::move(*profile));
}

UpdateSection ControlFile::Update() const {
  const auto& p = profile_;
  UpdateSection s;
  s.signature = p.ReadString("update", "signature", "");
  s.descr = p.ReadString("update", "descr", "");
  s.date = p.ReadString("update", "date", "");
  s.time = p.ReadString("update", "time", "");
  s.localversion = p.ReadString("update", "localversion", "");
  s.unconditional = p.ReadString("update", "unconditional", "");
  s.newversion = p.ReadString("update", "newversion", "");
  s.newsize = p.ReadInteger("update", "newsize", 0);
  s.newchecksum = p.ReadInteger("update", "newchecksum", -1);
  return s;
}

ApplicationSection ControlFile::Application() const {
  ApplicationSection s;
  s.appupdate = profile_.ReadInteger("application", "appupdate", 0);
  s.appname = profile_.ReadString("application", "appname", "");
  s.appcomps = profile_.ReadString("application", "appcomps", "");
  s.silentrestart = profile_.ReadInteger("application", "silentrestart", 0);
  return s;
}

ActionSection ControlFile::Action() const {
  ActionSection s;
  s.msg = profile_.ReadString("action", "msg", "");
  s.htmldlg = profile_.ReadString("action", "htmldlg", "");
  s.runbefore = profile_.ReadString("action", "runbefore", "");
  s.query = profile_.ReadString("action", "query", "");
  s.showURL = profile_.ReadString("action", "showURL", "");
  return s;
}

CustomSection ControlFile::Custom() const {
  CustomSection s;
  s.validatemsg = profile_.ReadString("custom", "validatemsg", "");
  s.validateparam = profile_.ReadString("custom", "validateparam", "");
  s.processmsg = profile_.ReadString("custom", "processmsg", "");
  s.processparam = profile_.ReadString("custom", "processparam", "");
  return s;
}

WhatsNewSection ControlFile::WhatsNew() const {
  WhatsNewSection s;
  s.file = profile_.ReadString("whatsnew", "file", "");
  s.caption = profile_.ReadString("whatsnew", "caption", "");
  s.okbtn = profile_.ReadString("whatsnew", "okbtn", s.okbtn);
  s.cancelbtn = profile_.ReadString("whatsnew", "cancelbtn", s.cancelbtn);
  return s;
}

EulaSection ControlFile::Eula() const {
  EulaSection s;
  s.file = profile_.ReadString("eula", "file", "");
  s.caption = profile_.ReadString("eula", "caption", "");
  s.okbtn = profile_.ReadString("eula", "okbtn", s.okbtn);
  s.accept = profile_.ReadString("eula", "accept", s.accept);
  s.notaccept = profile_.ReadString("eula", "notaccept", s.notaccept);
  return s;
}

int32_t ControlFile::FileCount() const {
  return profile_.ReadInteger("files", "count", 0);
}

FileSection ControlFile::File(int index) const {
  const std::string section = "file" + std::to_string(index);
  FileSection s;
  s.url = profile_.ReadString(section, "url", "");
  s.localversion = profile_.ReadString(section, "localversion", "");
  s.newversion = profile_.ReadString(section, "newversion", "");
  s.newsize = profile_.ReadInteger(section, "newsize", 0);
  s.newchecksum = profile_.ReadInteger(section, "newchecksum", -1);
  s.customversion = profile_.ReadString(section, "customversion", "");
  s.date = profile_.ReadString(section, "date", "");
  s.time = profile_.ReadString(section, "time", "");
  s.descr = profile_.ReadString(section, "descr", "");
  s.targetdir = profile_.ReadString(section, "targetdir", "");
  s.compressed = profile_.ReadInteger(section, "compressed", 0);
  s.filesize = profile_.ReadInteger(section, "filesize", 0);
  s.sha256 = profile_.ReadString(section, "sha256", "");
  return s;
}

}  // namespace trawlex::update
