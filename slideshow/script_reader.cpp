#include "slideshow/script_reader.h"

#include "core/text.h"

namespace pv {

namespace {

bool IsBlank(uint8_t c) { return c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '='; }

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

ScriptCursor::ScriptCursor(const uint8_t* data, size_t size)
    : data_(data), size_(data ? size : 0), longest_(size_ > 0 ? size_ - 1 : 0) {}

bool ScriptCursor::IsSeparator(size_t at) const {
  return IsBlank(data_[at]) || (data_[at] == '/' && at + 1 < size_ && (data_[at + 1] == '*' || data_[at + 1] == '/'));
}

bool ScriptCursor::SkipSeparators() {
  while (at_ < size_) {
    const uint8_t c = data_[at_];
    if (IsBlank(c) || c == ';') {
      ++at_;
    } else if (c == '/' && at_ + 1 < size_ && data_[at_ + 1] == '/') {
      at_ += 2;
      while (at_ < size_ && data_[at_] != '\r' && data_[at_] != '\n') ++at_;
    } else if (c == '/' && at_ + 1 < size_ && data_[at_ + 1] == '*') {
      // From the opening star, so that "/*/" is a whole comment.
      size_t k = at_ + 1;
      while (k + 1 < size_ && !(data_[k] == '*' && data_[k + 1] == '/')) ++k;
      at_ = k + 1 < size_ ? k + 2 : size_;
    } else {
      return true;
    }
  }
  return false;
}

bool ScriptCursor::Scan() {
  const size_t start = at_;
  while (at_ < size_ && at_ - start < longest_) {
    if (IsSeparator(at_)) return true;
    if (data_[at_] == ';') return false;
    ++at_;
  }
  return false;
}

ScriptToken ScriptCursor::ReadToken() {
  ScriptToken token;
  if (at_ >= size_) return token;
  const size_t start = at_;
  token.start = start;
  token.separated = Scan();
  size_t from = start, to = at_;
  token.quoted = data_[start] == '"' && start + 1 < size_ && data_[start + 1] != '"';
  if (token.quoted) {
    // Quoted: whole scans until one stops right after a closing quote.
    while (!(at_ > start + 1 && data_[at_ - 1] == '"')) {
      if (!SkipSeparators()) break;
      token.separated = Scan();
    }
    from = start + 1;
    to = at_ > start + 1 && data_[at_ - 1] == '"' ? at_ - 1 : at_;
  }
  if (to > from && to - from <= longest_ && to - from <= kMaxScriptToken)
    token.text = std::string_view(reinterpret_cast<const char*>(data_) + from, to - from);
  return token;
}

ScriptToken ScriptCursor::NextToken() { return SkipSeparators() ? ReadToken() : ScriptToken{}; }

void ScriptCursor::SkipStatement(const ScriptToken& last) {
  for (ScriptToken t = last; t.Valid() && t.separated;) t = NextToken();
}

bool ReadScriptHeader(ScriptCursor& cursor) {
  for (const char* word : {"Pixvane", "SlideShow"}) {
    const ScriptToken t = cursor.NextToken();
    if (!t.Valid() || !t.separated || !EqualsIgnoringCase(t.text, word)) return false;
  }
  // Anything up to the "{" is ignored; a statement's end also ends the search.
  for (ScriptToken t = cursor.NextToken(); t.Valid() && !(t.text == "{" && !t.quoted) && t.separated;) t = cursor.NextToken();
  return true;
}

std::wstring ScriptNameToPath(std::string_view token, const std::function<bool(const std::wstring&)>& exists) {
  constexpr size_t kMaxPath = 259;
  const auto* bytes = reinterpret_cast<const uint8_t*>(token.data());
  std::wstring path(TruncateText(Windows1252ToWide(bytes, token.size()), kMaxPath));
  if (!exists(path)) path = std::wstring(TruncateText(Utf8ToWide(bytes, token.size()), kMaxPath));
  return path;
}

}  // namespace pv
