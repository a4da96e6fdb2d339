#include "jet/sql_lexer.h"

namespace jet::sql {
namespace {

bool IsNameStart(unsigned char c) {
  // Bytes above 0x7f belong to UTF-8 letters (ñ, á ...) of Spanish names.
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool IsNamePart(unsigned char c) { return IsNameStart(c) || IsDigit(c); }

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

}  // namespace

bool IsWord(const Token& t, std::string_view word) {
  if (t.kind != TokenKind::kName || t.text.size() != word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char a = t.text[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    char b = word[i];
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  size_t i = 0;
  auto push = [&](TokenKind kind, std::string text, size_t start) {
    out.push_back(Token{kind, std::move(text), start, i});
  };
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t start = i;
    if (IsSpace(c)) {
      ++i;
      continue;
    }
    if (IsNameStart(c)) {
      while (i < s.size() && IsNamePart(static_cast<unsigned char>(s[i]))) ++i;
      push(TokenKind::kName, std::string(s.substr(start, i - start)), start);
      continue;
    }
    if (IsDigit(c) || (c == '.' && i + 1 < s.size() && IsDigit(static_cast<unsigned char>(s[i + 1])))) {
      while (i < s.size() && IsDigit(static_cast<unsigned char>(s[i]))) ++i;
      if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(static_cast<unsigned char>(s[i]))) ++i;
      }
      if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && IsDigit(static_cast<unsigned char>(s[j]))) {
          i = j;
          while (i < s.size() && IsDigit(static_cast<unsigned char>(s[i]))) ++i;
        }
      }
      // "12abc" is not a number followed by a name.
      if (i < s.size() && IsNameStart(static_cast<unsigned char>(s[i]))) {
        while (i < s.size() && IsNamePart(static_cast<unsigned char>(s[i]))) ++i;
        push(TokenKind::kBad, std::string(s.substr(start, i - start)), start);
        continue;
      }
      push(TokenKind::kNumber, std::string(s.substr(start, i - start)), start);
      continue;
    }
    if (c == '\'' || c == '"') {
      std::string text;
      ++i;
      bool closed = false;
      while (i < s.size()) {
        if (static_cast<unsigned char>(s[i]) == c) {
          if (i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == c) {
            text.push_back(s[i]);
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        text.push_back(s[i++]);
      }
      push(closed ? TokenKind::kString : TokenKind::kBad, closed ? text : std::string(s.substr(start)), start);
      continue;
    }
    if (c == '[' || c == '#') {
      const char close = c == '[' ? ']' : '#';
      size_t stop = s.find(close, i + 1);
      if (stop == std::string_view::npos) {
        i = s.size();
        push(TokenKind::kBad, std::string(s.substr(start)), start);
        continue;
      }
      i = stop + 1;
      std::string text(s.substr(start + 1, stop - start - 1));
      push(c == '[' ? TokenKind::kQuotedName : TokenKind::kDate, std::move(text), start);
      continue;
    }
    if (c == '<' || c == '>') {
      ++i;
      if (i < s.size() && (s[i] == '=' || (c == '<' && s[i] == '>'))) ++i;
      push(TokenKind::kSymbol, std::string(s.substr(start, i - start)), start);
      continue;
    }
    static constexpr std::string_view kSingles = "(),.;*+-/\\^&=?!";
    ++i;
    push(kSingles.find(static_cast<char>(c)) != std::string_view::npos ? TokenKind::kSymbol
                                                                        : TokenKind::kBad,
         std::string(1, static_cast<char>(c)), start);
  }
  out.push_back(Token{TokenKind::kEnd, "", s.size(), s.size()});
  return out;
}

}  // namespace jet::sql
