#pragma once
// The lexical side of slideshow scripts: a cursor over the whole file in
// memory, its tokens, the header check and the turning of a name token into
// a path. The player reads statements with it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pv {

// The longest token the player keeps.
inline constexpr size_t kMaxScriptToken = 1 << 20;

struct ScriptToken {
  std::string_view text;   // without the quotes of a quoted token
  size_t start = 0;        // where the token's first byte lies in the file
  bool quoted = false;
  bool separated = false;  // ended at a separator; false at ";" or the end
  // Zero length, or longer than the file allows: the block ends.
  bool Valid() const { return !text.empty(); }
  // The block punctuation is the first byte of an unquoted token.
  bool Opens() const { return Valid() && !quoted && text[0] == '{'; }
  bool Closes() const { return Valid() && !quoted && text[0] == '}'; }
};

class ScriptCursor {
 public:
  ScriptCursor(const uint8_t* data, size_t size);

  // Passes separators and comments; false at the end of the file.
  bool SkipSeparators();
  // The token at the cursor (the quoted rule included), leaving the cursor
  // where its scan stopped.
  ScriptToken ReadToken();
  // SkipSeparators then ReadToken; an invalid token at the end.
  ScriptToken NextToken();
  // Skips the tokens of a statement whose last token was `last`.
  void SkipStatement(const ScriptToken& last);

  size_t Position() const { return at_; }
  void SetPosition(size_t at) { at_ = at < size_ ? at : size_; }

 private:
  // ScanToken: true when the token ended at a separator.
  bool Scan();
  bool IsSeparator(size_t at) const;

  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  size_t longest_;  // the file length minus one
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Checks "Pixvane" "SlideShow" (case ignored, each followed by a separator)
// and skips to just after the "{" that opens the body. False when the header
// is wrong; a file that ends before "{" leaves the cursor at its end.
bool ReadScriptHeader(ScriptCursor& cursor);

// A name token as a path of at most 259 units: Windows-1252 first, UTF-8
// when no file of the first reading exists.
std::wstring ScriptNameToPath(std::string_view token, const std::function<bool(const std::wstring&)>& exists);

}  // namespace pv
