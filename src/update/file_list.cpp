#include "update/file_list.h"

namespace trawlex::update {

TFileDescription& TFileList::Add() {
  items_.push_back(std::make_unique<TFileDescription>());
  return *items_.back();
}

void TFileList::Delete(size_t index) {
  if (index < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TFileList::Clear() {
  items_.clear();
  ActiveItem = 0;
}

int64_t TFileList::TotalSize() const {
  int64_t total = 0;
  for (const auto& item : items_) total += item->FileSize;
  return total;
}

int64_t TFileList::CompletedSize() const {
  int64_t total = 0;
  for (size_t i = 0; i < items_.size() && static_cast<int64_t>(i) < ActiveItem; ++i) {
    total += items_[i]->FileSize;
  }
  return total;
}

}  // namespace trawlex::update
