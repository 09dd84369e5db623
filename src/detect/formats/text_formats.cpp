#include "detect/file_catalogue.h"
#include "detect/formats/record_walker.h"
#include "detect/formats/svg_format.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>

using namespace document_walk;

namespace {

/// Bytes a text file may hold: printable ASCII, tab, line ends, form feed, escape and
/// every byte of 128 and up (code pages, UTF-8). NUL and the other controls end text.
constexpr std::array<bool, 256> kText = [] {
  std::array<bool, 256> text{};
  for (int b = 0x20; b < 256; ++b) text[static_cast<std::size_t>(b)] = b != 0x7F;
  for (int b : {0x09, 0x0A, 0x0C, 0x0D, 0x1B}) text[static_cast<std::size_t>(b)] = true;
  return text;
}();

/// Text bytes other than braces and the backslash.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain = kText;
  for (int b : {'{', '}', '\\'}) plain[static_cast<std::size_t>(b)] = false;
  return plain;
}();

/// The length of the text run at the start of `p`.
std::size_t TextRun(const std::uint8_t* p, std::size_t n) {
  std::size_t i = 0;
  while (i < n && kText[p[i]]) ++i;
  return i;
}

bool IsLineEnd(std::uint8_t b) {
  return b == '\r' || b == '\n';
}

/// A text file closed by a marker ("</html>", the root's end tag, "%%EOF"); the line end
/// after the marker belongs to it. With `last`, a later marker in the same text run (within
/// a bounded reach) moves the end on. Without any marker the text is broken where it stops.
class MarkedTextFinder final : public EndFinder {
 public:
  MarkedTextFinder(std::string marker, bool fold_case, bool last)
      : marker_(std::move(marker)), search_(marker_, fold_case), last_(last) {}

  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    const std::uint8_t* p = data.data();
    const std::size_t n = data.size();
    std::size_t i = 0;
    while (i < n) {
      if (line_end_) {
        if (line_ends_ < 2 && IsLineEnd(p[i]) && !(line_ends_ == 1 && p[i] == '\r')) {
          line_ends_ = p[i] == '\n' ? 2 : 1;
          ++i;
          end_ = fed_ + i;
          continue;
        }
        line_end_ = false;
        if (!last_) return EndsAt(end_);
      }
      const std::size_t run = TextRun(p + i, n - i);
      const std::size_t hit = search_.Find(p + i, run);
      if (hit != MarkerSearch::kNotFound) {
        i += hit;
        end_ = fed_ + i;
        line_end_ = true;
        line_ends_ = 0;
        continue;
      }
      i += run;
      if (i < n || (end_ > 0 && fed_ + i - end_ > kReach)) return Stop(fed_ + i);
    }
    fed_ += n;
    return NeedMore();
  }

  /// The disk ended while the text still went on past the last marker: cut short.
  EndVerdict Finish(std::uint64_t fed) override {
    return line_end_ || fed == end_ ? Stop(fed) : BrokenAt(fed);
  }

 private:
  static constexpr std::uint64_t kReach = 1 << 20;
  EndVerdict Stop(std::uint64_t text_end) const {
    return end_ > 0 ? EndsAt(end_) : BrokenAt(text_end);
  }
  std::string marker_;
  MarkerSearch search_;
  bool last_;
  bool line_end_ = false;
  int line_ends_ = 0;
  std::uint64_t fed_ = 0, end_ = 0;
};

/// A group of braces closed by its matching brace; a backslash escapes the next byte.
class RtfFinder final : public EndFinder {
 public:
  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    const std::uint8_t* p = data.data();
    const std::size_t n = data.size();
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t b = p[i];
      if (closed_) {
        if (line_ends_ < 2 && IsLineEnd(b) && !(line_ends_ == 1 && b == '\r')) {
          line_ends_ = b == '\n' ? 2 : 1;
          continue;
        }
        return EndsAt(fed_ + i);
      }
      if (!kText[b]) return BrokenAt(fed_ + i);
      if (escaped_) {
        escaped_ = false;
      } else if (b == '\\') {
        escaped_ = true;
      } else if (b == '{') {
        ++depth_;
      } else if (b == '}' && --depth_ == 0) {
        closed_ = true;
      } else {
        // Plain text up to the next brace, backslash or non-text byte.
        while (i + 1 < n && kPlain[p[i + 1]]) ++i;
      }
    }
    fed_ += n;
    return NeedMore();
  }
  EndVerdict Finish(std::uint64_t fed) override { return closed_ ? EndsAt(fed) : BrokenAt(fed); }

 private:
  std::uint64_t fed_ = 0, depth_ = 0;
  bool escaped_ = false, closed_ = false;
  int line_ends_ = 0;
};

/// A metafile of addresses, one a line: text up to the first byte that cannot be text.
/// Text after the last line end counts only when it reads as one more address (printable
/// ASCII holding "://", or a "#" comment); random bytes that happen to be text-like
/// after the file's last line are left out.
class AddressListFinder final : public EndFinder {
 public:
  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    for (std::size_t i = 0; i < data.size(); ++i) {
      const std::uint8_t b = data[i];
      if (!kText[b]) return EndsAt(End(fed_ + i));
      if (IsLineEnd(b)) {
        // After its first line a list holds addresses, comments and blank lines: a line of
        // anything else is what follows the file, though its bytes look like text.
        if (!line_.empty() && line_end_ != 0 && !IsAddress()) return EndsAt(line_end_);
        line_end_ = fed_ + i + 1;
        line_.clear();
        address_like_ = true;
        continue;
      }
      if (line_.size() < kLongestAddress)
        line_.push_back(static_cast<char>(b));
      else
        address_like_ = false;
      address_like_ = address_like_ && b >= 0x20 && b < 0x7F;
    }
    fed_ += data.size();
    return NeedMore();
  }
  EndVerdict Finish(std::uint64_t fed) override { return EndsAt(End(fed)); }

 private:
  static constexpr std::size_t kLongestAddress = 2048;

  /// Where the file ends when its text stops at `stop`.
  [[nodiscard]] std::uint64_t End(std::uint64_t stop) const {
    if (line_end_ == 0 || line_.empty()) return stop;
    return IsAddress() ? stop : line_end_;
  }
  /// The line so far is an address or a comment.
  [[nodiscard]] bool IsAddress() const {
    return address_like_ && (line_.find("://") != std::string::npos || line_.front() == '#');
  }

  std::uint64_t fed_ = 0;
  std::uint64_t line_end_ = 0;  ///< just past the last line end
  std::string line_;            ///< the line after it, so far
  bool address_like_ = true;
};

/// The first 32 bytes are text: a short file may be followed by anything.
bool OpensAsText(const std::uint8_t* data, std::size_t available) {
  const std::size_t n = std::min<std::size_t>(available, 32);
  return TextRun(data, n) == n;
}

/// The root element's name: the first tag after the declaration, comments, processing
/// instructions and the document type. Empty when not within the bytes seen.
std::string XmlRootName(const std::uint8_t* data, std::size_t available) {
  std::size_t i = 0;
  const std::size_t n = std::min<std::size_t>(available, kStartCheckBytes);
  while (i < n) {
    const auto* lt = static_cast<const std::uint8_t*>(std::memchr(data + i, '<', n - i));
    if (lt == nullptr) return {};
    i = static_cast<std::size_t>(lt - data) + 1;
    if (i >= n) return {};
    if (data[i] == '?' || data[i] == '!') continue;
    std::string name;
    while (i < n && name.size() < 60 && data[i] != '>' && data[i] != '/' && !std::isspace(data[i]))
      name.push_back(static_cast<char>(data[i++]));
    return name;
  }
  return {};
}

}  // namespace

bool HtmlStart(const std::uint8_t* data, std::size_t available) {
  return OpensAsText(data, available);
}
std::unique_ptr<EndFinder> HtmlEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<MarkedTextFinder>("</html>", true, false);
}

bool XmlStart(const std::uint8_t* data, std::size_t available) {
  return available >= 8 && (data[5] == ' ' || data[5] == '\t' || IsLineEnd(data[5])) &&
         OpensAsText(data, available);
}
std::unique_ptr<EndFinder> XmlEnd(const std::uint8_t* data, std::size_t available) {
  const std::string root = XmlRootName(data, available);
  if (root.empty()) return nullptr;
  return std::make_unique<MarkedTextFinder>("</" + root + ">", false, false);
}

bool RtfStart(const std::uint8_t* data, std::size_t available) {
  return available >= 6 && data[5] >= '0' && data[5] <= '9' && OpensAsText(data, available);
}
std::unique_ptr<EndFinder> RtfEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<RtfFinder>();
}

bool PsStart(const std::uint8_t* data, std::size_t available) {
  return OpensAsText(data, available);
}
std::unique_ptr<EndFinder> PsEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  // The mark opens its own line; "(%%EOF)" inside a procedure is no end.
  return std::make_unique<MarkedTextFinder>("\n%%EOF", false, true);
}

bool RamStart(const std::uint8_t* data, std::size_t available) {
  return OpensAsText(data, available);
}
std::unique_ptr<EndFinder> RamEnd(const std::uint8_t* /*data*/, std::size_t /*available*/) {
  return std::make_unique<AddressListFinder>();
}

const FileKind kEpsOrPsKind{.tag = "EPSorPS",
                            .description = "PostScript or EPS document",
                            .check = PsStart,
                            .make_finder = PsEnd,
                            .preview = KindPreview::kText};
const FileKind kHtmlKind{.tag = "HTML",
                         .description = "HTML page",
                         .check = HtmlStart,
                         .make_finder = HtmlEnd,
                         .preview = KindPreview::kText};
const FileKind kRamKind{.tag = "RAM",
                        .description = "RealAudio metafile",
                        .check = RamStart,
                        .make_finder = RamEnd,
                        .preview = KindPreview::kText};
const FileKind kRtfKind{.tag = "RTF",
                        .description = "Rich Text document",
                        .check = RtfStart,
                        .make_finder = RtfEnd,
                        .preview = KindPreview::kText};
const FileKind kXmlKind{.tag = "XML",
                        .description = "XML document",
                        .check = XmlStart,
                        .make_finder = XmlEnd,
                        .name = SvgName,
                        .preview = KindPreview::kText};
