#include "version/version_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace trawlex::version {
namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedSize = 52;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16);
}
size_t Align4(size_t n) {
  return (n + 3) & ~size_t{3};
}

/// UTF-16LE code units to UTF-8.
std::string Utf16ToUtf8(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

/// UTF-8 to UTF-16LE code units; a malformed byte stands for itself.
std::vector<uint16_t> Utf8ToUtf16(const std::string& text) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    uint32_t cp = c;
    size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra > 0 && i + extra < text.size()) {
      cp = c & (0x3F >> extra);
      for (size_t k = 1; k <= extra; ++k)
        cp = (cp << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    } else {
      extra = 0;
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<uint16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<uint16_t>(cp));
    }
  }
  return out;
}

/// One node of the block: key, kind (1 = text), value bytes and children.
struct Node {
  std::string key;
  uint16_t type = 0;
  std::vector<uint8_t> value;
  std::vector<Node> children;
};

/// Parses the node at `offset`; `end` bounds it. Returns false on malformed data.
bool ParseNode(const uint8_t* data, size_t offset, size_t end, int depth, Node* node,
               size_t* node_length) {
  if (depth > 4 || offset + 6 > end) return false;
  const size_t length = U16(data + offset);
  const size_t value_length = U16(data + offset + 2);
  node->type = U16(data + offset + 4);
  if (length < 6 || offset + length > end) return false;
  const size_t node_end = offset + length;
  size_t pos = offset + 6;
  std::vector<uint16_t> key;
  while (true) {
    if (pos + 2 > node_end) return false;
    const uint16_t unit = U16(data + pos);
    pos += 2;
    if (unit == 0) break;
    key.push_back(unit);
  }
  node->key = Utf16ToUtf8(key);
  pos = Align4(pos);
  const size_t value_bytes = node->type == 1 ? value_length * 2 : value_length;
  if (value_bytes > 0) {
    if (pos > node_end) return false;
    const size_t available = std::min(value_bytes, node_end - pos);
    node->value.assign(data + pos, data + pos + available);
    pos += available;
  }
  pos = Align4(pos);
  while (pos + 6 <= node_end) {
    Node child;
    size_t child_length = 0;
    if (!ParseNode(data, pos, node_end, depth + 1, &child, &child_length)) return false;
    node->children.push_back(std::move(child));
    pos = Align4(pos + child_length);
  }
  *node_length = length;
  return true;
}

std::string TextValue(const Node& node) {
  std::vector<uint16_t> units;
  for (size_t i = 0; i + 1 < node.value.size(); i += 2) {
    const uint16_t unit = U16(node.value.data() + i);
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Utf16ToUtf8(units);
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v));
  Put16(out, static_cast<uint16_t>(v >> 16));
}
void Pad4(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

void WriteNode(std::vector<uint8_t>& out, const Node& node, size_t value_length) {
  const size_t start = out.size();
  Put16(out, 0);
  Put16(out, static_cast<uint16_t>(value_length));
  Put16(out, node.type);
  for (uint16_t unit : Utf8ToUtf16(node.key)) Put16(out, unit);
  Put16(out, 0);
  Pad4(out);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const Node& child : node.children) {
    Pad4(out);
    size_t child_value_length = child.value.size();
    if (child.type == 1) child_value_length = child.value.size() / 2;
    WriteNode(out, child, child_value_length);
  }
  const size_t length = out.size() - start;
  out[start] = static_cast<uint8_t>(length);
  out[start + 1] = static_cast<uint8_t>(length >> 8);
}

Node TextNode(const std::string& key, const std::string& value) {
  Node node{key, 1, {}, {}};
  for (uint16_t unit : Utf8ToUtf16(value)) Put16(node.value, unit);
  Put16(node.value, 0);
  return node;
}

/// Compares two texts with ASCII letters case-insensitive, as resource language names are.
bool SameAsciiText(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

/// Random access to the bytes of an executable image, held in memory or read from a file.
class ImageBytes {
 public:
  virtual ~ImageBytes() = default;
  [[nodiscard]] virtual uint64_t size() const = 0;
  /// Copies `length` bytes from `offset` into `out`; false unless all of them are there.
  virtual bool Read(uint64_t offset, size_t length, uint8_t* out) const = 0;

  [[nodiscard]] bool Fits(uint64_t offset, uint64_t length) const {
    return offset <= size() && length <= size() - offset;
  }
  /// `length` bytes from `offset`, or nullopt when they are not all there.
  [[nodiscard]] std::optional<std::vector<uint8_t>> Bytes(uint64_t offset, uint64_t length) const {
    if (!Fits(offset, length)) return std::nullopt;
    std::vector<uint8_t> out(static_cast<size_t>(length));
    if (!Read(offset, out.size(), out.data())) return std::nullopt;
    return out;
  }
};

class MemoryImage final : public ImageBytes {
 public:
  explicit MemoryImage(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  [[nodiscard]] uint64_t size() const override { return bytes_.size(); }
  bool Read(uint64_t offset, size_t length, uint8_t* out) const override {
    if (!Fits(offset, length)) return false;
    if (length > 0) std::memcpy(out, bytes_.data() + offset, length);
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
};

/// A regular file read with pread, so that a file that shrinks meanwhile gives a failed read
/// rather than a fault, and only the few pieces that are looked at are read.
class FileImage final : public ImageBytes {
 public:
  FileImage(const std::string& path, std::string* err) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
      if (err) *err = "Cannot open \"" + path + "\": " + std::strerror(errno) + ".";
      return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (err) *err = "\"" + path + "\" is not a readable file.";
      ::close(fd_);
      fd_ = -1;
      return;
    }
    size_ = static_cast<uint64_t>(st.st_size);
  }
  ~FileImage() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FileImage(const FileImage&) = delete;
  FileImage& operator=(const FileImage&) = delete;

  [[nodiscard]] bool ok() const { return fd_ >= 0; }
  [[nodiscard]] uint64_t size() const override { return size_; }
  bool Read(uint64_t offset, size_t length, uint8_t* out) const override {
    if (!Fits(offset, length)) return false;
    while (length > 0) {
      const ssize_t got = ::pread(fd_, out, length, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      offset += static_cast<uint64_t>(got);
      length -= static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

/// A version block's length is a 16-bit number; more than that is never needed.
constexpr uint64_t kMaxBlockBytes = 0x10000;

std::optional<std::vector<uint8_t>> FindBlockInPe(const ImageBytes& image) {
  const auto dos = image.Bytes(0, 0x40);
  if (!dos || (*dos)[0] != 'M' || (*dos)[1] != 'Z') return std::nullopt;
  const uint64_t pe = U32(dos->data() + 0x3C);
  const auto file_header = image.Bytes(pe, 24);
  if (!file_header || U32(file_header->data()) != 0x00004550) return std::nullopt;
  const size_t sections = U16(file_header->data() + 6);
  const size_t optional_size = U16(file_header->data() + 20);
  const uint64_t opt_at = pe + 24;
  if (optional_size < 2) return std::nullopt;
  const auto opt = image.Bytes(opt_at, optional_size);
  if (!opt) return std::nullopt;
  const uint16_t magic = U16(opt->data());
  size_t count_at, dirs_at;
  if (magic == 0x10B) {
    count_at = 92, dirs_at = 96;
  } else if (magic == 0x20B) {
    count_at = 108, dirs_at = 112;
  } else {
    return std::nullopt;
  }
  if (optional_size < dirs_at + 3 * 8 || U32(opt->data() + count_at) < 3) return std::nullopt;
  const uint32_t rsrc_rva = U32(opt->data() + dirs_at + 2 * 8);
  if (rsrc_rva == 0) return std::nullopt;

  const auto table = image.Bytes(opt_at + optional_size, sections * 40);
  if (!table) return std::nullopt;
  auto to_offset = [&](uint32_t rva) -> std::optional<uint64_t> {
    for (size_t i = 0; i < sections; ++i) {
      const uint8_t* s = table->data() + i * 40;
      const uint32_t va = U32(s + 12);
      const uint32_t extent = std::max(U32(s + 8), U32(s + 16));
      if (rva >= va && rva - va < extent) {
        const uint64_t offset = uint64_t{U32(s + 20)} + (rva - va);
        if (offset < image.size()) return offset;
      }
    }
    return std::nullopt;
  };
  const auto rsrc = to_offset(rsrc_rva);
  if (!rsrc) return std::nullopt;

  // Walks type (16 = version), name and language levels, taking the first entry below type.
  uint64_t dir = *rsrc;
  for (int level = 0; level < 3; ++level) {
    const auto head = image.Bytes(dir, 16);
    if (!head) return std::nullopt;
    const size_t entries = size_t{U16(head->data() + 12)} + U16(head->data() + 14);
    const auto list = image.Bytes(dir + 16, entries * 8);
    if (!list) return std::nullopt;
    std::optional<uint32_t> next;
    for (size_t i = 0; i < entries; ++i) {
      const uint8_t* e = list->data() + i * 8;
      if (level == 0 && U32(e) != 16) continue;
      next = U32(e + 4);
      break;
    }
    if (!next) return std::nullopt;
    const bool subdirectory = (*next & 0x80000000u) != 0;
    if (subdirectory != (level < 2)) return std::nullopt;
    dir = *rsrc + (*next & 0x7FFFFFFFu);
  }
  const auto entry = image.Bytes(dir, 16);
  if (!entry) return std::nullopt;
  const auto data = to_offset(U32(entry->data()));
  const uint64_t length = U32(entry->data() + 4);
  if (!data || !image.Fits(*data, length)) return std::nullopt;
  return image.Bytes(*data, std::min(length, kMaxBlockBytes));
}

std::optional<std::vector<uint8_t>> FindBlockInElf(const ImageBytes& image) {
  const auto head = image.Bytes(0, std::min<uint64_t>(image.size(), 0x40));
  if (!head || head->size() < 0x34) return std::nullopt;
  const uint8_t* d = head->data();
  if (d[0] != 0x7F || d[1] != 'E' || d[2] != 'L' || d[3] != 'F') return std::nullopt;
  const bool is64 = d[4] == 2;
  const bool big_endian = d[5] == 2;
  auto get = [big_endian](const uint8_t* p, size_t width) -> uint64_t {
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) {
      const uint64_t byte = p[i];
      v |= big_endian ? byte << (8 * (width - 1 - i)) : byte << (8 * i);
    }
    return v;
  };
  if (is64 && head->size() < 0x40) return std::nullopt;
  const uint64_t shoff = is64 ? get(d + 0x28, 8) : get(d + 0x20, 4);
  const uint64_t shentsize = is64 ? get(d + 0x3A, 2) : get(d + 0x2E, 2);
  const uint64_t shnum = is64 ? get(d + 0x3C, 2) : get(d + 0x30, 2);
  const uint64_t shstrndx = is64 ? get(d + 0x3E, 2) : get(d + 0x32, 2);
  const uint64_t min_entry = is64 ? 64 : 40;
  if (shentsize < min_entry || shstrndx >= shnum || !image.Fits(shoff, shnum * shentsize)) {
    return std::nullopt;
  }
  struct Section {
    uint64_t name, type, offset, length;
  };
  auto section = [&](uint64_t index) -> std::optional<Section> {
    const auto s = image.Bytes(shoff + index * shentsize, min_entry);
    if (!s) return std::nullopt;
    const uint8_t* p = s->data();
    return Section{get(p, 4), get(p + 4, 4), is64 ? get(p + 24, 8) : get(p + 16, 4),
                   is64 ? get(p + 32, 8) : get(p + 20, 4)};
  };
  const auto strtab = section(shstrndx);
  if (!strtab || !image.Fits(strtab->offset, strtab->length)) return std::nullopt;
  const std::string wanted = kVersionSectionName;
  for (uint64_t i = 0; i < shnum; ++i) {
    const auto s = section(i);
    if (!s) return std::nullopt;
    if (s->name >= strtab->length || wanted.size() + 1 > strtab->length - s->name) continue;
    const auto name = image.Bytes(strtab->offset + s->name, wanted.size() + 1);
    if (!name || std::memcmp(name->data(), wanted.c_str(), wanted.size() + 1) != 0) continue;
    if (s->type == 8 /* no bits */ || !image.Fits(s->offset, s->length)) return std::nullopt;
    return image.Bytes(s->offset, std::min(s->length, kMaxBlockBytes));
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> VersionResource::QueryString(const std::string& language,
                                                        const std::string& key) const {
  for (const auto& table : string_tables) {
    if (!SameAsciiText(table.language, language)) continue;
    for (const auto& [name, value] : table.strings) {
      if (name == key) return value;
    }
  }
  return std::nullopt;
}

std::optional<VersionResource> ParseVersionBlock(const uint8_t* data, size_t size,
                                                 std::string* err) {
  Node root;
  size_t length = 0;
  if (!ParseNode(data, 0, size, 0, &root, &length) || root.key != "VS_VERSION_INFO") {
    if (err) *err = "The version block is malformed.";
    return std::nullopt;
  }
  VersionResource resource;
  if (root.value.size() >= kFixedSize) {
    const uint8_t* v = root.value.data();
    FixedFileInfo f;
    uint32_t* fields[] = {&f.signature,       &f.struc_version,      &f.file_version_ms,
                          &f.file_version_ls, &f.product_version_ms, &f.product_version_ls,
                          &f.file_flags_mask, &f.file_flags,         &f.file_os,
                          &f.file_type,       &f.file_subtype,       &f.file_date_ms,
                          &f.file_date_ls};
    for (size_t i = 0; i < std::size(fields); ++i) *fields[i] = U32(v + 4 * i);
    resource.fixed = f;
  }
  for (const Node& child : root.children) {
    if (child.key == "StringFileInfo") {
      for (const Node& table : child.children) {
        VersionStringTable strings{table.key, {}};
        for (const Node& entry : table.children) {
          strings.strings.emplace_back(entry.key, TextValue(entry));
        }
        resource.string_tables.push_back(std::move(strings));
      }
    } else if (child.key == "VarFileInfo") {
      for (const Node& var : child.children) {
        if (var.key != "Translation") continue;
        for (size_t i = 0; i + 3 < var.value.size(); i += 4) {
          resource.translations.push_back(U32(var.value.data() + i));
        }
      }
    }
  }
  return resource;
}

std::vector<uint8_t> BuildVersionBlock(const VersionResource& resource) {
  Node root{"VS_VERSION_INFO", 0, {}, {}};
  if (resource.fixed) {
    const FixedFileInfo& f = *resource.fixed;
    for (uint32_t v : {f.signature, f.struc_version, f.file_version_ms, f.file_version_ls,
                       f.product_version_ms, f.product_version_ls, f.file_flags_mask, f.file_flags,
                       f.file_os, f.file_type, f.file_subtype, f.file_date_ms, f.file_date_ls}) {
      Put32(root.value, v);
    }
  }
  if (!resource.string_tables.empty()) {
    Node info{"StringFileInfo", 1, {}, {}};
    for (const auto& table : resource.string_tables) {
      Node strings{table.language, 1, {}, {}};
      for (const auto& [key, value] : table.strings)
        strings.children.push_back(TextNode(key, value));
      info.children.push_back(std::move(strings));
    }
    root.children.push_back(std::move(info));
  }
  if (!resource.translations.empty()) {
    Node var{"Translation", 0, {}, {}};
    for (uint32_t t : resource.translations) Put32(var.value, t);
    Node info{"VarFileInfo", 1, {}, {}};
    info.children.push_back(std::move(var));
    root.children.push_back(std::move(info));
  }
  std::vector<uint8_t> out;
  WriteNode(out, root, root.value.size());
  return out;
}

std::optional<std::vector<uint8_t>> FindVersionBlockInPe(std::span<const uint8_t> image) {
  return FindBlockInPe(MemoryImage(image));
}

std::optional<std::vector<uint8_t>> FindVersionBlockInElf(std::span<const uint8_t> image) {
  return FindBlockInElf(MemoryImage(image));
}

std::optional<VersionResource> ReadVersionResource(const std::string& path, std::string* err) {
  const FileImage file(path, err);
  if (!file.ok()) return std::nullopt;
  auto block = FindBlockInPe(file);
  if (!block) block = FindBlockInElf(file);
  if (!block) {
    if (err) *err = "\"" + path + "\" has no version resource.";
    return std::nullopt;
  }
  return ParseVersionBlock(block->data(), block->size(), err);
}

std::optional<VersionResource> ReadOwnVersionResource(std::string* err) {
  return ReadVersionResource("/proc/self/exe", err);
}

VersionWords ReadFileVersionWords(const std::string& path) {
  const auto resource = ReadVersionResource(path, nullptr);
  if (!resource || !resource->fixed || resource->fixed->signature != kFixedSignature) return {};
  return {static_cast<int32_t>(resource->fixed->file_version_ms),
          static_cast<int32_t>(resource->fixed->file_version_ls)};
}

}  // namespace trawlex::version
