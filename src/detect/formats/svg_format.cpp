#include "detect/formats/svg_format.h"
#include "detect/file_kind.h"
#include "detect/formats/format_bytes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t kLongestName = 32;

bool IsSpace(std::uint8_t b) {
  return b == ' ' || b == '\t' || b == '\n' || b == '\r';
}

bool IsLineEnd(std::uint8_t b) {
  return b == '\r' || b == '\n';
}

/// Follows UTF-8 text a byte at a time: no control byte but tab and line ends, no byte that cannot
/// be UTF-8, no overlong form, surrogate or code point past U+10FFFF.
class TextCheck {
 public:
  /// False when `b` cannot follow the bytes before it in text.
  bool Take(std::uint8_t b) {
    if (need_ > 0) {
      if (b < low_ || b > high_) return false;
      --need_;
      low_ = 0x80;
      high_ = 0xBF;
      return true;
    }
    if (b < 0x80) return b >= 0x20 ? b != 0x7F : (b == '\t' || b == '\n' || b == '\r');
    low_ = 0x80;
    high_ = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need_ = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need_ = 2;
      if (b == 0xE0) low_ = 0xA0;
      if (b == 0xED) high_ = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need_ = 3;
      if (b == 0xF0) low_ = 0x90;
      if (b == 0xF4) high_ = 0x8F;
    } else {
      return false;
    }
    return true;
  }
  /// Whether the last character is whole.
  [[nodiscard]] bool Whole() const { return need_ == 0; }

 private:
  int need_ = 0;
  std::uint8_t low_ = 0x80, high_ = 0xBF;
};

/// Printable ASCII, tab and line ends, but for "<" and the quotes: the bytes of text and quoted
/// values that may be passed over quickly.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain{};
  for (int b = 0x20; b < 0x7F; ++b) plain[static_cast<std::size_t>(b)] = true;
  for (int b : {'\t', '\n', '\r'}) plain[static_cast<std::size_t>(b)] = true;
  for (int b : {'<', '"', '\''}) plain[static_cast<std::size_t>(b)] = false;
  return plain;
}();

/// Whether the `n` bytes are text.
bool IsText(const std::uint8_t* p, std::size_t n) {
  TextCheck text;
  for (std::size_t i = 0; i < n; ++i)
    if (!text.Take(p[i])) return false;
  return true;
}

/// The first element's name after the XML declaration, processing instructions, comments and the
/// document type, within the first `available` bytes; empty when not seen.
std::string_view RootName(const std::uint8_t* d, std::size_t available) {
  const std::size_t n = std::min(available, kStartCheckBytes);
  const std::string_view text(reinterpret_cast<const char*>(d), n);
  std::size_t i = 0;
  while (i < n) {
    if (IsSpace(d[i])) {
      ++i;
      continue;
    }
    if (d[i] != '<' || i + 1 >= n) return {};
    const std::string_view rest = text.substr(i);
    std::size_t skip = std::string_view::npos;
    if (rest.starts_with("<?")) {
      skip = rest.find("?>");
      if (skip != std::string_view::npos) skip += 2;
    } else if (rest.starts_with("<!--")) {
      skip = rest.find("-->", 4);
      if (skip != std::string_view::npos) skip += 3;
    } else if (rest.starts_with("<!")) {
      // A document type, maybe with an internal subset in brackets.
      int brackets = 0;
      for (std::size_t j = 2; j < rest.size(); ++j) {
        if (rest[j] == '[') ++brackets;
        if (rest[j] == ']') --brackets;
        if (rest[j] == '>' && brackets <= 0) {
          skip = j + 1;
          break;
        }
      }
    } else {
      std::size_t end = 1;
      while (end < rest.size() && end <= kLongestName && !IsSpace(d[i + end]) && rest[end] != '>' &&
             rest[end] != '/')
        ++end;
      if (end >= rest.size() || end > kLongestName) return {};
      return rest.substr(1, end - 1);
    }
    if (skip == std::string_view::npos) return {};
    i += skip;
  }
  return {};
}

bool IsSvgName(std::string_view name) {
  return name == "svg" || (name.size() > 4 && name.ends_with(":svg"));
}

/// Text to the end tag of the root element, counting the elements of the root's name nested in it;
/// the line end after it belongs to the file. Comments, CDATA sections, processing instructions,
/// declarations and quoted attribute values are passed over. The text breaks at the first byte that
/// cannot be text.
class SvgFinder final : public EndFinder {
 public:
  explicit SvgFinder(std::string_view root) {
    root_size_ = std::min(root.size(), sizeof root_);
    std::memcpy(root_, root.data(), root_size_);
  }

  EndVerdict Feed(std::span<const std::uint8_t> data) override {
    const std::uint8_t* p = data.data();
    const std::size_t n = data.size();
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t b = p[i];
      if (state_ == State::kTrail) {
        if (line_ends_ < 2 && IsLineEnd(b) && !(line_ends_ == 1 && b == '\r')) {
          line_ends_ = b == '\n' ? 2 : 1;
          end_ = fed_ + i + 1;
          continue;
        }
        return EndsAt(end_);
      }
      if (text_.Whole()) {
        if (kPlain[b] && (state_ == State::kText || (state_ == State::kTag && quote_ != 0))) {
          // Plain text or a quoted value: on to the next byte that matters.
          while (i + 1 < n && kPlain[p[i + 1]]) ++i;
          continue;
        }
        character_ = fed_ + i;
      }
      if (!text_.Take(b)) return BrokenAt(character_);
      Step(b);
      if (state_ == State::kTrail) end_ = fed_ + i + 1;
    }
    fed_ += n;
    return NeedMore();
  }

  EndVerdict Finish(std::uint64_t fed) override {
    return state_ == State::kTrail ? EndsAt(end_) : BrokenAt(fed);
  }

 private:
  enum class State {
    kText,
    kOpen,       ///< after "<"
    kBang,       ///< after "<!": a comment, CDATA section or declaration
    kName,       ///< an element's name
    kCloseName,  ///< the name of an end tag
    kTag,        ///< the rest of a start tag
    kCloseTag,   ///< the rest of an end tag
    kComment,
    kCdata,
    kInstruction,
    kDeclaration,
    kTrail,  ///< the root has ended
  };

  /// Moves on by one byte of markup or text.
  void Step(std::uint8_t b) {
    switch (state_) {
      case State::kText:
        if (b == '<') state_ = State::kOpen;
        return;
      case State::kOpen:
        if (b == '?') {
          state_ = State::kInstruction;
          seen_ = 0;
        } else if (b == '!') {
          state_ = State::kBang;
          seen_ = 0;
        } else if (b == '/') {
          StartName(State::kCloseName);
        } else if (b == '<') {
          // Stray "<": the next one opens.
        } else {
          StartName(State::kName);
          NameByte(b);
        }
        return;
      case State::kBang: {
        // "<!--", "<![CDATA[" or a declaration.
        if (seen_ == 0) kind_ = b == '-' ? 0 : b == '[' ? 1 : 2;
        const std::string_view target = kind_ == 0 ? "--" : "[CDATA[";
        if (kind_ != 2 && b == static_cast<std::uint8_t>(target[seen_])) {
          if (++seen_ == target.size()) {
            state_ = kind_ == 0 ? State::kComment : State::kCdata;
            seen_ = 0;
          }
          return;
        }
        state_ = State::kDeclaration;
        brackets_ = 0;
        quote_ = 0;
        Declaration(b);
        return;
      }
      case State::kName:
      case State::kCloseName:
        if (IsSpace(b) || b == '>' || b == '/') {
          is_root_ = name_matches_ && matched_ == root_size_;
          const bool close = state_ == State::kCloseName;
          state_ = close ? State::kCloseTag : State::kTag;
          quote_ = 0;
          last_ = 0;
          if (close)
            CloseTag(b);
          else
            Tag(b);
          return;
        }
        if (b == '<') {
          state_ = State::kOpen;
          return;
        }
        NameByte(b);
        return;
      case State::kTag:
        Tag(b);
        return;
      case State::kCloseTag:
        CloseTag(b);
        return;
      case State::kComment:
        // "-->"
        if (b == '-') {
          seen_ = std::min<std::size_t>(seen_ + 1, 2);
        } else {
          if (b == '>' && seen_ == 2) state_ = State::kText;
          seen_ = 0;
        }
        return;
      case State::kCdata:
        // "]]>"
        if (b == ']') {
          seen_ = std::min<std::size_t>(seen_ + 1, 2);
        } else {
          if (b == '>' && seen_ == 2) state_ = State::kText;
          seen_ = 0;
        }
        return;
      case State::kInstruction:
        if (b == '>' && seen_ == 1) state_ = State::kText;
        seen_ = b == '?' ? 1 : 0;
        return;
      case State::kDeclaration:
        Declaration(b);
        return;
      case State::kTrail:
        return;
    }
  }

  void StartName(State state) {
    state_ = state;
    matched_ = 0;
    name_matches_ = true;
  }
  void NameByte(std::uint8_t b) {
    if (name_matches_ && matched_ < root_size_ && b == static_cast<std::uint8_t>(root_[matched_]))
      ++matched_;
    else
      name_matches_ = false;
  }

  /// A byte of a start tag after its name: quoted values are passed over; ">" ends it, "/>" closes
  /// the element at once.
  void Tag(std::uint8_t b) {
    if (quote_ != 0) {
      if (b == quote_) quote_ = 0;
      return;
    }
    if (b == '"' || b == '\'') {
      quote_ = b;
    } else if (b == '>') {
      state_ = State::kText;
      if (!is_root_) return;
      if (last_ != '/') {
        ++depth_;
      } else if (depth_ == 0) {
        state_ = State::kTrail;  // a root of no content
      }
      return;
    } else if (b == '<') {
      state_ = State::kOpen;  // a tag left open: the next markup begins
      return;
    }
    if (!IsSpace(b)) last_ = b;
  }

  void CloseTag(std::uint8_t b) {
    if (b != '>') return;
    state_ = State::kText;
    if (!is_root_ || depth_ == 0) return;
    if (--depth_ == 0) state_ = State::kTrail;
  }

  /// A declaration to its ">", passing over quoted text and a bracketed internal subset.
  void Declaration(std::uint8_t b) {
    if (quote_ != 0) {
      if (b == quote_) quote_ = 0;
    } else if (b == '"' || b == '\'') {
      quote_ = b;
    } else if (b == '[') {
      ++brackets_;
    } else if (b == ']') {
      if (brackets_ > 0) --brackets_;
    } else if (b == '>' && brackets_ == 0) {
      state_ = State::kText;
    }
  }

  char root_[kLongestName]{};
  std::size_t root_size_ = 0;
  State state_ = State::kText;
  TextCheck text_;
  std::uint64_t fed_ = 0, character_ = 0, end_ = 0;
  std::uint64_t depth_ = 0;
  std::size_t seen_ = 0, matched_ = 0;
  int kind_ = 0, brackets_ = 0, line_ends_ = 0;
  std::uint8_t quote_ = 0, last_ = 0;
  bool name_matches_ = false, is_root_ = false;
};

/// "<svg" and a space, ">" or "/"; the first 32 bytes are text (a short drawing may be followed by
/// anything).
bool SvgStart(const std::uint8_t* d, std::size_t available) {
  if (available < 5 || std::memcmp(d, "<svg", 4) != 0) return false;
  if (!IsSpace(d[4]) && d[4] != '>' && d[4] != '/') return false;
  return IsText(d, std::min<std::size_t>(available, 32));
}

std::unique_ptr<EndFinder> SvgEnd(const std::uint8_t* d, std::size_t available) {
  const std::string_view root = RootName(d, available);
  return std::make_unique<SvgFinder>(root.empty() || root.size() > kLongestName ? "svg" : root);
}

}  // namespace

std::string_view SvgName(const std::uint8_t* data, std::size_t available) {
  return IsSvgName(RootName(data, available)) ? "SVG" : std::string_view{};
}

extern const FileKind kSvgKind;
const FileKind kSvgKind{.tag = "SVG",
                        .description = "SVG drawing",
                        .check = SvgStart,
                        .make_finder = SvgEnd,
                        .first_bytes = "<",
                        .preview = KindPreview::kText};
