#include "recovery/dfxml_report.h"

#include "disk/disk_info.h"
#include "recovery/sha256.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <libxml/xmlversion.h>
#include <libxml/xmlwriter.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#ifndef TRAWLEX_VERSION
#error "TRAWLEX_VERSION must be the project's version"
#endif

namespace {

constexpr char kDfxmlNamespace[] =
    "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
constexpr char kDublinCoreNamespace[] = "http://purl.org/dc/elements/1.1/";

/// Length of the UTF-8 sequence at the front of `s` when it encodes a character XML 1.0
/// allows, else 0.
std::size_t XmlCharLength(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return (b0 >= 0x20 || b0 == '\t' || b0 == '\n' || b0 == '\r') ? 1 : 0;
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b & 0x3F);
  }
  static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[n]) return 0;  // overlong
  if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
  if (cp == 0xFFFE || cp == 0xFFFF || cp > 0x10FFFF) return 0;
  return n;
}

/// `text` with every byte that is not part of a character XML may hold written as \xNN,
/// so that odd bytes in a device path or command line cannot spoil the report.
std::string XmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t n = XmlCharLength(text);
    if (n > 0) {
      out.append(text.substr(0, n));
      text.remove_prefix(n);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[0]));
      out += escaped;
      text.remove_prefix(1);
    }
  }
  return out;
}

/// xs:dateTime in UTC, for example 2026-12-10T10:11:41Z.
std::string DateTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

extern "C" void IgnoreLibxmlError(void*, const char*, ...) {}

/// The xmlTextWriter calls of one report; the first failure sticks.
class ReportWriter {
 public:
  explicit ReportWriter(xmlTextWriterPtr writer) : writer_(writer) {}
  [[nodiscard]] bool Ok() const { return ok_; }

  void Check(int rc) { ok_ = ok_ && rc >= 0; }
  void Start(const char* name) { Check(xmlTextWriterStartElement(writer_, Name(name))); }
  void End() { Check(xmlTextWriterEndElement(writer_)); }
  void Attribute(const char* name, const std::string& value) {
    Check(xmlTextWriterWriteAttribute(writer_, Name(name), Text(XmlText(value))));
  }
  void Element(const char* name, const std::string& value) {
    Check(xmlTextWriterWriteElement(writer_, Name(name), Text(XmlText(value))));
  }
  void Element(const char* name, std::uint64_t value) { Element(name, std::to_string(value)); }
  void String(const std::string& value) {
    Check(xmlTextWriterWriteString(writer_, Text(XmlText(value))));
  }

 private:
  static const xmlChar* Name(const char* name) { return reinterpret_cast<const xmlChar*>(name); }
  static const xmlChar* Text(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
  }

  xmlTextWriterPtr writer_;
  bool ok_ = true;
};

void WriteCreator(ReportWriter& w, const ReportSource& source) {
  w.Start("creator");
  w.Element("program", source.program);
  w.Element("version", source.program_version.empty() ? std::string(TrawlexVersion())
                                                      : source.program_version);
  w.Start("execution_environment");
  utsname names{};
  if (::uname(&names) == 0) {
    w.Element("os_sysname", names.sysname);
    w.Element("os_release", names.release);
    w.Element("os_version", names.version);
    w.Element("host", names.nodename);
    w.Element("arch", names.machine);
  }
  w.Element("command_line", source.command_line);
  w.Element("uid", static_cast<std::uint64_t>(::getuid()));
  w.Element("start_time", DateTime(source.start_time));
  w.End();
  w.Start("library");
  w.Attribute("name", "libxml2");
  w.Attribute("version", LIBXML_DOTTED_VERSION);
  w.End();
  w.Start("trawlex:options");
  w.Element("trawlex:real_ends", source.real_ends ? 1u : 0u);
  w.Element("trawlex:size_limit_mb", source.size_limit_mb);
  w.Element("trawlex:retry_passes", static_cast<std::uint64_t>(std::max(source.retry_passes, 0)));
  w.End();
  w.Element("trawlex:end_time", DateTime(source.end_time));
  w.End();
}

void WriteSource(ReportWriter& w, const ReportSource& source) {
  w.Start("source");
  w.Element("image_filename", source.image_filename);
  w.Element("trawlex:image_size", source.image_size);
  w.Element("trawlex:sector_size", source.sector_size);
  w.Element("trawlex:sector_count", source.sector_count);
  w.Element("trawlex:sectors_examined", source.sectors_examined);
  w.Element("trawlex:unreadable_sectors", source.unreadable_sectors);
  w.End();
}

void WriteFileObject(ReportWriter& w, const ReportFile& file) {
  w.Start("fileobject");
  w.Element("filename", file.name);
  w.Element("name_type", "r");
  w.Element("filesize", file.len);
  w.Start("byte_runs");
  const std::vector<ByteRun> runs =
      file.runs.empty() ? std::vector<ByteRun>{{file.img_offset, file.len}} : file.runs;
  std::uint64_t file_offset = 0;
  for (const ByteRun& run : runs) {
    w.Start("byte_run");
    w.Attribute("file_offset", std::to_string(file_offset));
    w.Attribute("img_offset", std::to_string(run.offset));
    w.Attribute("len", std::to_string(run.length));
    w.End();
    file_offset += run.length;
  }
  w.End();
  w.Start("hashdigest");
  w.Attribute("type", "sha256");
  w.String(file.sha256_hex);
  w.End();
  // An undeleted file ends where its file system says.
  w.Element("trawlex:end_reason", file.source == "undeleted"
                                      ? std::string("file-system")
                                      : std::string(EndReasonName(file.end)));
  w.Element("trawlex:incomplete", file.incomplete ? 1u : 0u);
  w.Start("trawlex:source");
  if (file.file_system) {
    w.Attribute("file_system", file.file_system->type);
    w.Attribute("file_system_offset", std::to_string(file.file_system->offset));
    if (file.file_system->partition > 0)
      w.Attribute("partition", std::to_string(file.file_system->partition));
  }
  w.String(file.source);
  w.End();
  if (!file.saved_as.empty()) w.Element("trawlex:saved_as", file.saved_as);
  if (!file.check.empty()) w.Element("trawlex:check", file.check);
  w.End();
}

}  // namespace

bool SavedFileEntry(const TfileExt& file, const std::string& folder, ReportFile* entry,
                    std::string* err, const FoundPlace& place) {
  entry->name = place.FileName(file);
  entry->img_offset = place.DiskLBA(file.LBA) * kSectorSize;
  const std::string path = folder + "/" + entry->name;
  std::string problem;
  if (!Sha256File(path, &entry->sha256_hex, &problem, &entry->len)) {
    if (err) *err = "cannot read " + path + ": " + problem;
    return false;
  }
  entry->runs = place.DiskRuns(file, entry->len);
  if (entry->runs.size() == 1) entry->runs.clear();  // one piece: img_offset says it
  entry->end = file.End;
  entry->incomplete = file.End == EndReason::kBroken || file.End == EndReason::kLimit ||
                      file.End == EndReason::kDiskEnd || entry->len < file.Size;
  return true;
}

bool WriteRecoveryReport(const std::string& folder, const ReportSource& source,
                         const std::vector<std::vector<TfileExt>>& work,
                         const std::vector<std::string>& written, std::string* err,
                         const FoundPlace& place, const FreeSpaceLayout* layout,
                         const std::vector<UndeletedFile>& undeleted) {
  std::unordered_map<std::string, const TfileExt*> by_name;
  for (const auto& list : work)
    for (const TfileExt& file : list) by_name.emplace(place.FileName(file), &file);
  std::unordered_map<std::string, const UndeletedFile*> by_path;
  for (const UndeletedFile& file : undeleted) by_path.emplace(file.saved_path, &file);
  std::vector<ReportFile> entries;
  entries.reserve(written.size());
  for (const std::string& name : written) {
    ReportFile entry;
    if (const auto it = by_name.find(name); it != by_name.end()) {
      if (!SavedFileEntry(*it->second, folder, &entry, err, place)) return false;
      if (layout) entry.file_system = layout->FileSystemAt(entry.img_offset);
    } else if (const auto named = by_path.find(name); named != by_path.end() && layout) {
      const UndeletedFile& file = *named->second;
      const std::string path = folder + "/" + file.saved_path;
      std::string problem;
      if (!Sha256File(path, &entry.sha256_hex, &problem, &entry.len)) {
        if (err) *err = "cannot read " + path + ": " + problem;
        return false;
      }
      entry.name = file.entry.path;
      entry.saved_as = file.saved_path;
      entry.source = "undeleted";
      entry.file_system = &layout->file_systems[file.entry.file_system];
      entry.img_offset = file.DiskOffset(*layout);
      std::uint64_t left = entry.len;
      for (const ByteRun& run : file.entry.runs) {
        if (left == 0) break;
        entry.runs.push_back({run.offset, std::min(left, run.length)});
        left -= entry.runs.back().length;
      }
      if (entry.runs.size() == 1) entry.runs.clear();
      entry.incomplete = entry.len < file.entry.size;
      entry.check = std::string(UndeleteCheckName(file.check));
    } else {
      continue;
    }
    entries.push_back(std::move(entry));
  }
  return WriteDfxmlReport(folder + "/report.xml", source, entries, err);
}

const char* TrawlexVersion() {
  return TRAWLEX_VERSION;
}

std::string CommandLineText(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i > 0) line += ' ';
    const bool plain = !arg.empty() && arg.find_first_not_of(
                                           "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                           "0123456789@%+=:,./_-") == std::string_view::npos;
    if (plain) {
      line += arg;
      continue;
    }
    line += '\'';
    for (const char ch : arg) {
      if (ch == '\'') {
        line += "'\\''";
      } else {
        line += ch;
      }
    }
    line += '\'';
  }
  return line;
}

bool WriteDfxmlReport(const std::string& path, const ReportSource& source,
                      const std::vector<ReportFile>& files, std::string* err) {
  // libxml2 prints its own I/O errors; the caller gets the reason in `err` instead.
  struct QuietLibxml {
    QuietLibxml() : saved(xmlGenericError), context(xmlGenericErrorContext) {
      xmlSetGenericErrorFunc(nullptr, IgnoreLibxmlError);
    }
    ~QuietLibxml() { xmlSetGenericErrorFunc(context, saved); }
    xmlGenericErrorFunc saved;
    void* context;
  } quiet;
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    if (err) *err = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }
  int error_number = 0;
  bool ok = false;
  if (xmlOutputBufferPtr out = xmlOutputBufferCreateFd(fd, nullptr)) {
    // The writer owns `out` from here; freeing it flushes but leaves `fd` open.
    if (xmlTextWriterPtr writer = xmlNewTextWriter(out)) {
      ReportWriter w(writer);
      w.Check(xmlTextWriterSetIndent(writer, 1));
      w.Check(xmlTextWriterSetIndentString(writer, reinterpret_cast<const xmlChar*>("  ")));
      w.Check(xmlTextWriterStartDocument(writer, "1.0", "UTF-8", nullptr));
      w.Check(xmlTextWriterStartElementNS(writer, nullptr,
                                          reinterpret_cast<const xmlChar*>("dfxml"),
                                          reinterpret_cast<const xmlChar*>(kDfxmlNamespace)));
      w.Attribute("xmlns:dc", kDublinCoreNamespace);
      w.Attribute("xmlns:trawlex", kTrawlexDfxmlNamespace);
      w.Attribute("version", kDfxmlVersion);
      w.Start("metadata");
      w.Element("dc:type", "Carve Report");
      w.End();
      WriteCreator(w, source);
      WriteSource(w, source);
      for (const ReportFile& file : files) {
        WriteFileObject(w, file);
        if (!w.Ok()) break;
      }
      w.End();
      w.Check(xmlTextWriterEndDocument(writer));
      w.Check(xmlTextWriterFlush(writer));
      error_number = errno;
      ok = w.Ok();
      xmlFreeTextWriter(writer);
    } else {
      xmlOutputBufferClose(out);
    }
  }
  if (ok && (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0)) {
    ok = false;
    error_number = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    error_number = errno;
  }
  if (!ok) {
    if (err)
      *err = "cannot write " + temp + ": " + std::strerror(error_number ? error_number : EIO);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    if (err) *err = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}
