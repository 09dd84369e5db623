#include "help/chm_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "help/chm_engine.h"
#include "help/help_engine.h"

namespace trawlex::help {
namespace {

/// Internal objects are not the author's: "/#SYSTEM", "/$OBJINST", "::DataSpace/...", folders.
bool IsOwnObject(const std::string& path) {
  return path.size() > 1 && path[0] == '/' && path[1] != '#' && path[1] != '$' &&
         path.back() != '/';
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view FileNameOf(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

uint32_t ReadLe32(const std::string& data, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(data[at + i]);
  return value;
}

uint16_t ReadLe16(const std::string& data, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(data[at]) | static_cast<uint8_t>(data[at + 1])
                                                                    << 8);
}

/// The text up to the first NUL.
std::string CString(const std::string& data, size_t at, size_t size) {
  const std::string field = data.substr(at, size);
  return field.substr(0, field.find('\0'));
}

std::string Rooted(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  if (!path.empty() && path.front() != '/') path.insert(0, "/");
  return path;
}

}  // namespace

std::unique_ptr<ChmFile> ChmFile::Open(const std::string& path, std::string* err) {
  const auto fail = [&](std::string text) -> std::unique_ptr<ChmFile> {
    if (err) *err = std::move(text);
    return nullptr;
  };
  const ChmEngineEntries* engine = ChmEngine();
  if (engine == nullptr)
    return fail(std::string("The help engine (") + kHelpEngineLibrary + ") is not installed.");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return fail("No such file: " + path + ".");
  chmFile* handle = engine->open(path.c_str());
  if (handle == nullptr) return fail("Not a compiled help file: " + path + ".");

  std::unique_ptr<ChmFile> file(new ChmFile(path, handle, engine->close));
  const auto collect = [](chmFile*, chmUnitInfo* unit, void* context) -> int {
    static_cast<std::vector<std::string>*>(context)->emplace_back(unit->path);
    return CHM_ENUMERATOR_CONTINUE;
  };
  engine->enumerate(handle, CHM_ENUMERATE_ALL, collect, &file->all_objects_);
  for (const std::string& object : file->all_objects_)
    if (IsOwnObject(object)) file->objects_.push_back(object);
  file->ReadSystemFile();
  file->ReadContextMap();
  return file;
}

ChmFile::ChmFile(std::string path, chmFile* handle, void (*close)(chmFile*))
    : path_(std::move(path)), handle_(handle), close_(close) {}

ChmFile::~ChmFile() {
  close_(handle_);
}

std::optional<std::string> ChmFile::Find(const std::string& path) const {
  const std::string rooted = Rooted(path);
  for (const std::string& object : all_objects_)
    if (object == rooted) return object;
  for (const std::string& object : all_objects_)
    if (EqualNoCase(object, rooted)) return object;
  return std::nullopt;
}

std::optional<std::string> ChmFile::Read(const std::string& path) const {
  const ChmEngineEntries* engine = ChmEngine();
  const std::optional<std::string> stored = Find(path);
  if (engine == nullptr || !stored) return std::nullopt;
  chmUnitInfo unit{};
  if (engine->resolve_object(handle_, stored->c_str(), &unit) != CHM_RESOLVE_SUCCESS)
    return std::nullopt;
  // The help files this program reads are a few MB at most; a larger object is refused.
  constexpr LONGUINT64 kLargestObject = 64u << 20;
  if (unit.length > kLargestObject) return std::nullopt;
  std::string data(static_cast<size_t>(unit.length), '\0');
  if (unit.length == 0) return data;
  const LONGINT64 got =
      engine->retrieve_object(handle_, &unit, reinterpret_cast<unsigned char*>(data.data()), 0,
                              static_cast<LONGINT64>(unit.length));
  if (got != static_cast<LONGINT64>(unit.length)) return std::nullopt;
  return data;
}

void ChmFile::ReadSystemFile() {
  // "#SYSTEM": a version word, then records of a 16-bit code, a 16-bit length and the data.
  const std::optional<std::string> system = Read("/#SYSTEM");
  if (!system || system->size() < 4) return;
  for (size_t at = 4; at + 4 <= system->size();) {
    const uint16_t code = ReadLe16(*system, at);
    const uint16_t size = ReadLe16(*system, at + 2);
    at += 4;
    if (at + size > system->size()) break;
    if (code == 0) contents_file_ = Rooted(CString(*system, at, size));
    if (code == 2) default_topic_ = Rooted(CString(*system, at, size));
    if (code == 3) title_ = CString(*system, at, size);
    at += size;
  }
}

void ChmFile::ReadContextMap() {
  // "#IVB": the length of what follows, then pairs of a context number and the offset of its
  // topic in "#STRINGS".
  const std::optional<std::string> ivb = Read("/#IVB");
  const std::optional<std::string> strings = Read("/#STRINGS");
  if (!ivb || !strings || ivb->size() < 4) return;
  const size_t end = std::min<size_t>(ivb->size(), 4 + static_cast<size_t>(ReadLe32(*ivb, 0)));
  for (size_t at = 4; at + 8 <= end; at += 8) {
    const uint32_t context = ReadLe32(*ivb, at);
    const uint32_t offset = ReadLe32(*ivb, at + 4);
    if (offset >= strings->size()) continue;
    context_map_.emplace_back(context, strings->c_str() + offset);
  }
}

std::optional<std::string> ChmFile::ContextTopic(uint32_t context) const {
  for (const auto& [number, topic] : context_map_) {
    if (number != context) continue;
    std::string_view target = topic;
    if (const size_t anchor = target.find('#'); anchor != std::string_view::npos)
      target = target.substr(0, anchor);
    const std::string_view name = FileNameOf(target);
    if (name.empty()) continue;
    // A page at the root of the file wins over one of the same name further down.
    if (auto at_root = Find("/" + std::string(name))) return at_root;
    for (const std::string& object : objects_)
      if (EqualNoCase(FileNameOf(object), name)) return object;
  }
  return std::nullopt;
}

std::vector<SitemapEntry> ChmFile::Contents() const {
  std::string sitemap_path = contents_file_;
  if (sitemap_path.empty() || !Find(sitemap_path)) {
    sitemap_path.clear();
    for (const std::string& object : objects_)
      if (object.size() > 4 && EqualNoCase(object.substr(object.size() - 4), ".hhc"))
        sitemap_path = object;
  }
  if (!sitemap_path.empty())
    if (const auto html = Read(sitemap_path)) {
      std::vector<SitemapEntry> entries = ParseSitemap(*html);
      if (!entries.empty()) return entries;
    }

  std::vector<SitemapEntry> pages;
  for (const std::string& object : objects_) {
    const std::string_view name = FileNameOf(object);
    const size_t dot = name.rfind('.');
    const std::string_view extension = dot == std::string_view::npos ? "" : name.substr(dot);
    if (!EqualNoCase(extension, ".htm") && !EqualNoCase(extension, ".html")) continue;
    const std::optional<std::string> html = Read(object);
    std::string title = html ? HtmlTitle(*html) : std::string();
    pages.push_back({title.empty() ? std::string(name) : title, object.substr(1), 0});
  }
  return pages;
}

}  // namespace trawlex::help
