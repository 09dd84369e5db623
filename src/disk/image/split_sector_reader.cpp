// Raw images split into numbered pieces (disk.001, disk.002, ...) read end to end as one
// disk. Each piece is an ordinary image file read by the device-file back-end.

#include "disk/image/image_readers.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

class SplitSectorReader final : public SectorReader {
 public:
  explicit SplitSectorReader(std::vector<std::unique_ptr<SectorReader>> pieces)
      : pieces_(std::move(pieces)) {
    for (const auto& piece : pieces_) {
      starts_.push_back(size_);
      size_ += piece->SizeBytes();
    }
  }

  ReadResult ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    return Spread(offset, buffer, size,
                  [](SectorReader& piece, std::uint64_t at, void* out, std::size_t n) {
                    return piece.ReadAt(at, out, n);
                  });
  }

  ReadResult ReadUncached(std::uint64_t offset, void* buffer, std::size_t size) override {
    return Spread(offset, buffer, size,
                  [](SectorReader& piece, std::uint64_t at, void* out, std::size_t n) {
                    return piece.ReadUncached(at, out, n);
                  });
  }

  [[nodiscard]] std::string CheckPresent() const override {
    for (const auto& piece : pieces_)
      if (std::string why = piece->CheckPresent(); !why.empty()) return why;
    return {};
  }

  void Forget(std::uint64_t offset, std::uint64_t size) override {
    Visit(offset, size, [](SectorReader& piece, std::uint64_t at, std::uint64_t n) {
      piece.Forget(at, n);
      return true;
    });
  }

  [[nodiscard]] bool IsCached(std::uint64_t offset, std::uint64_t size) const override {
    return Visit(offset, size, [](SectorReader& piece, std::uint64_t at, std::uint64_t n) {
      return piece.IsCached(at, n);
    });
  }

  [[nodiscard]] std::uint64_t SizeBytes() const override { return size_; }

 private:
  /// Calls `fn(piece, offset in piece, length)` for each piece that [offset, offset +
  /// size) touches, in order, while it returns true; true when every call did.
  template <typename Fn>
  bool Visit(std::uint64_t offset, std::uint64_t size, Fn fn) const {
    const std::uint64_t end = std::min(size_, offset + size);
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    for (auto i = static_cast<std::size_t>(it - starts_.begin()) - 1;
         offset < end && i < pieces_.size(); ++i) {
      const std::uint64_t piece_end = starts_[i] + pieces_[i]->SizeBytes();
      if (offset >= piece_end) continue;
      const std::uint64_t n = std::min(end, piece_end) - offset;
      if (!fn(*pieces_[i], offset - starts_[i], n)) return false;
      offset += n;
    }
    return true;
  }

  template <typename Fn>
  ReadResult Spread(std::uint64_t offset, void* buffer, std::size_t size, Fn read) {
    ReadResult result;
    auto* out = static_cast<std::uint8_t*>(buffer);
    Visit(offset, size, [&](SectorReader& piece, std::uint64_t at, std::uint64_t n) {
      const ReadResult part = read(piece, at, out + result.bytes, static_cast<std::size_t>(n));
      result.bytes += part.bytes;
      if (part.bytes == n) return true;
      // A piece that ends before its size at opening has lost bytes: the pieces after
      // it would land at the wrong place, so the read stops here.
      result.error = part.error != 0 ? part.error : EIO;
      return false;
    });
    return result;
  }

  std::vector<std::unique_ptr<SectorReader>> pieces_;
  std::vector<std::uint64_t> starts_;
  std::uint64_t size_ = 0;
};

}  // namespace

std::vector<std::string> SplitImagePieces(const std::string& path) {
  const fs::path first(path);
  const std::string ext = first.extension().string();  // ".001"
  const std::string digits = ext.empty() ? std::string() : ext.substr(1);
  if (digits.size() < 3 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return {};
  if (std::stoull(digits) != 1) return {};
  std::vector<std::string> pieces;
  for (unsigned long long number = 1;; ++number) {
    std::string text = std::to_string(number);
    if (text.size() > digits.size()) break;
    text.insert(0, digits.size() - text.size(), '0');
    fs::path piece = first;
    piece.replace_extension("." + text);
    std::error_code ec;
    if (number > 1 && !fs::exists(piece, ec)) break;
    pieces.push_back(piece.string());
  }
  return pieces;
}

std::unique_ptr<SectorReader> OpenSplitImageReader(const std::vector<std::string>& pieces,
                                                   std::string* err, int* error_number) {
  std::vector<std::unique_ptr<SectorReader>> readers;
  for (const std::string& path : pieces) {
    std::string why;
    auto reader = OpenDeviceReader(path, &why, error_number);
    if (!reader) {
      if (err) *err = pieces.size() > 1 ? path + ": " + why : why;
      return nullptr;
    }
    readers.push_back(std::move(reader));
  }
  return std::make_unique<SplitSectorReader>(std::move(readers));
}
