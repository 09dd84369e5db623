#pragma once

#include "recovery/found_file.h"

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

/// The found files of one kind, in the order the scan appended them (ascending LBA).
/// The scan appends from its own thread while a window reads: every access locks.
class TFoundTypeList {
 public:
  TFoundTypeList() = default;
  explicit TFoundTypeList(int type) : type_(type) {}
  TFoundTypeList(const TFoundTypeList&) = delete;
  TFoundTypeList& operator=(const TFoundTypeList&) = delete;

  [[nodiscard]] std::string_view TypeName() const { return FileTypeTag(type_); }
  [[nodiscard]] int Type() const { return type_; }

  [[nodiscard]] std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return files_.size();
  }
  /// Record i; i must be below Count().
  [[nodiscard]] TfileExt At(std::size_t i) const {
    std::lock_guard lock(mutex_);
    return files_[i];
  }
  /// A copy of the records from `first` on.
  [[nodiscard]] std::vector<TfileExt> Files(std::size_t first = 0) const {
    std::lock_guard lock(mutex_);
    if (first >= files_.size()) return {};
    return {files_.begin() + static_cast<std::ptrdiff_t>(first), files_.end()};
  }
  void Append(const TfileExt& file) {
    std::lock_guard lock(mutex_);
    files_.push_back(file);
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    files_.clear();
  }

 private:
  int type_ = 0;
  mutable std::mutex mutex_;
  std::vector<TfileExt> files_;
};

/// The rows of the file-type list: row k holds the found files of catalogue entry k.
class FoundTypeRows {
 public:
  FoundTypeRows() {
    for (int k = 0; k < kFileTypeCount; ++k)
      rows_[static_cast<std::size_t>(k)] = std::make_unique<TFoundTypeList>(k);
  }
  [[nodiscard]] TFoundTypeList& operator[](int k) { return *rows_[static_cast<std::size_t>(k)]; }
  [[nodiscard]] const TFoundTypeList& operator[](int k) const {
    return *rows_[static_cast<std::size_t>(k)];
  }
  [[nodiscard]] static constexpr int size() { return kFileTypeCount; }
  /// Files found in all rows.
  [[nodiscard]] std::size_t TotalCount() const {
    std::size_t n = 0;
    for (const auto& row : rows_) n += row->Count();
    return n;
  }

 private:
  std::array<std::unique_ptr<TFoundTypeList>, kFileTypeCount> rows_;
};
