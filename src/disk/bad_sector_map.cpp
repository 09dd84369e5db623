#include "disk/bad_sector_map.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kHeader =
    "# Trawlex bad-sector map\n"
    "# One range per line: FIRST-LAST STATE\n"
    "# FIRST and LAST are 512-byte sector numbers (LBAs), both included.\n"
    "# STATE is \"skipped\" (passed over, not tried yet) or \"bad\" (tried, failed).\n";

bool ParseNumber(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

const char* SectorStateName(SectorState state) {
  return state == SectorState::kSkipped ? "skipped" : "bad";
}

void BadSectorMap::RemoveLocked(std::uint64_t first, std::uint64_t end) {
  auto it = runs_.upper_bound(first);
  if (it != runs_.begin()) {
    auto before = std::prev(it);
    if (before->second.end > first) {
      const Run run = before->second;
      before->second.end = first;
      if (run.end > end) runs_.emplace(end, run);
      if (before->first == first) runs_.erase(before);
    }
  }
  it = runs_.lower_bound(first);
  while (it != runs_.end() && it->first < end) {
    if (it->second.end > end) {
      const Run run = it->second;
      runs_.erase(it);
      runs_.emplace(end, run);
      break;
    }
    it = runs_.erase(it);
  }
}

void BadSectorMap::Mark(std::uint64_t first, std::uint64_t end, SectorState state) {
  if (first >= end) return;
  std::lock_guard lock(mutex_);
  RemoveLocked(first, end);
  auto it = runs_.emplace(first, Run{end, state}).first;
  auto next = std::next(it);
  if (next != runs_.end() && next->first == it->second.end && next->second.state == state) {
    it->second.end = next->second.end;
    runs_.erase(next);
  }
  if (it != runs_.begin()) {
    auto before = std::prev(it);
    if (before->second.end == it->first && before->second.state == state) {
      before->second.end = it->second.end;
      runs_.erase(it);
    }
  }
}

void BadSectorMap::MarkGood(std::uint64_t first, std::uint64_t end) {
  if (first >= end) return;
  std::lock_guard lock(mutex_);
  RemoveLocked(first, end);
}

void BadSectorMap::Clear() {
  std::lock_guard lock(mutex_);
  runs_.clear();
}

std::optional<SectorState> BadSectorMap::StateOf(std::uint64_t lba) const {
  const auto range = NextKnown(lba, lba + 1);
  if (!range) return std::nullopt;
  return range->state;
}

std::optional<SectorRange> BadSectorMap::NextKnown(std::uint64_t first, std::uint64_t end) const {
  std::lock_guard lock(mutex_);
  auto it = runs_.upper_bound(first);
  if (it != runs_.begin() && std::prev(it)->second.end > first) it = std::prev(it);
  if (it == runs_.end() || it->first >= end) return std::nullopt;
  return SectorRange{std::max(it->first, first), std::min(it->second.end, end), it->second.state};
}

std::uint64_t BadSectorMap::Count(SectorState state) const {
  std::lock_guard lock(mutex_);
  std::uint64_t n = 0;
  for (const auto& [first, run] : runs_)
    if (run.state == state) n += run.end - first;
  return n;
}

std::vector<SectorRange> BadSectorMap::Ranges() const {
  std::lock_guard lock(mutex_);
  std::vector<SectorRange> out;
  out.reserve(runs_.size());
  for (const auto& [first, run] : runs_) out.push_back({first, run.end, run.state});
  return out;
}

std::vector<SectorRange> BadSectorMap::Ranges(SectorState state) const {
  std::vector<SectorRange> out = Ranges();
  std::erase_if(out, [state](const SectorRange& r) { return r.state != state; });
  return out;
}

bool BadSectorMap::Parse(const std::string& text, std::vector<SectorRange>& out, std::string* err) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& why) {
    if (err) *err = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string range, state_word, extra;
    if (!(words >> range) || range.front() == '#') continue;
    words >> state_word >> extra;
    if (!extra.empty()) return fail("unexpected \"" + extra + "\" after the state");
    SectorState state = SectorState::kBad;
    if (state_word == "skipped") {
      state = SectorState::kSkipped;
    } else if (!state_word.empty() && state_word != "bad") {
      return fail("unknown state \"" + state_word + "\" (expected skipped or bad)");
    }
    const std::string_view view(range);
    const auto dash = view.find('-');
    std::uint64_t first = 0, last = 0;
    if (!ParseNumber(view.substr(0, dash), first) ||
        !ParseNumber(dash == std::string_view::npos ? view : view.substr(dash + 1), last))
      return fail("\"" + range + "\" is not FIRST-LAST with decimal sector numbers");
    if (last < first) return fail("the range " + range + " ends before it starts");
    if (last == UINT64_MAX)
      return fail("the sector number " + std::to_string(last) + " is too large");
    out.push_back({first, last + 1, state});
  }
  return true;
}

std::string BadSectorMap::Format() const {
  std::string text = kHeader;
  for (const SectorRange& r : Ranges())
    text += std::to_string(r.first) + "-" + std::to_string(r.end - 1) + " " +
            SectorStateName(r.state) + "\n";
  return text;
}

bool BadSectorMap::Load(const std::string& path, std::string* err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (err) *err = "cannot open " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<SectorRange> ranges;
  std::string why;
  if (!Parse(text.str(), ranges, &why)) {
    if (err) *err = path + ": " + why;
    return false;
  }
  Clear();
  for (const SectorRange& r : ranges) Mark(r.first, r.end, r.state);
  return true;
}

bool BadSectorMap::Save(const std::string& path, std::string* err) const {
  const std::string temp = path + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << Format();
    out.flush();
    if (!out) {
      if (err) *err = "cannot write " + temp;
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    if (err) *err = "cannot rename " + temp + " to " + path;
    std::remove(temp.c_str());
    return false;
  }
  return true;
}
