#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "help/sitemap.h"

struct chmFile;

namespace trawlex::help {

/// A compiled help file read through the loaded help engine. Paths inside it start with "/"
/// ("/main.htm", "/images/drive.png"). Nothing can be read once the engine is unloaded.
class ChmFile {
 public:
  ~ChmFile();
  ChmFile(const ChmFile&) = delete;
  ChmFile& operator=(const ChmFile&) = delete;

  /// Nullptr and a sentence in `err` when the engine is not loaded, the file is missing, or it
  /// is no compiled help file.
  [[nodiscard]] static std::unique_ptr<ChmFile> Open(const std::string& path, std::string* err);

  [[nodiscard]] const std::string& path() const { return path_; }

  /// The object at `path`, found without regard to case; nullopt when there is none.
  [[nodiscard]] std::optional<std::string> Read(const std::string& path) const;
  /// The path under which `path` is stored (its case may differ); nullopt when absent.
  [[nodiscard]] std::optional<std::string> Find(const std::string& path) const;

  /// The file's own objects (pages, pictures, style sheets), without its internal files.
  [[nodiscard]] const std::vector<std::string>& ObjectPaths() const { return objects_; }
  /// Every object, internal ones ("/#SYSTEM", "::DataSpace/...") included.
  [[nodiscard]] const std::vector<std::string>& AllObjectPaths() const { return all_objects_; }

  [[nodiscard]] const std::string& Title() const { return title_; }
  /// The page the file opens on ("/main.htm"); empty when it names none.
  [[nodiscard]] const std::string& DefaultTopic() const { return default_topic_; }

  /// The context map as stored: each number with the topic text the compiler wrote for it.
  [[nodiscard]] const std::vector<std::pair<uint32_t, std::string>>& ContextMap() const {
    return context_map_;
  }
  /// The page that context number `context` opens. Compilers store the topic as a path of the
  /// machine that built the file, so it is found here by its file name; nullopt when the map
  /// has no such number or the file holds no such page.
  [[nodiscard]] std::optional<std::string> ContextTopic(uint32_t context) const;

  /// The topic list: the file's sitemap, or, when it has none, one entry per page by title.
  [[nodiscard]] std::vector<SitemapEntry> Contents() const;

 private:
  ChmFile(std::string path, chmFile* handle, void (*close)(chmFile*));
  void ReadSystemFile();
  void ReadContextMap();

  std::string path_;
  chmFile* handle_;
  void (*close_)(chmFile*);  ///< kept: the engine stays mapped after it is unloaded
  std::vector<std::string> all_objects_;
  std::vector<std::string> objects_;
  std::string title_;
  std::string default_topic_;
  std::string contents_file_;
  std::vector<std::pair<uint32_t, std::string>> context_map_;
};

}  // namespace trawlex::help
