// Tokens of the engine's SQL. Names and keywords are one kind of token (the
// parser tells them apart by text, without regard to case); a [bracketed]
// name is never a keyword. Literal text keeps its source form so error
// messages can quote it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace jet::sql {

enum class TokenKind {
  kEnd,
  kName,        // bare name or keyword
  kQuotedName,  // [name]; text without the brackets
  kNumber,      // text as written
  kString,      // 'x' or "x"; text with doubled quotes undone
  kDate,        // #...#; text between the signs
  kSymbol,      // operators and punctuation: ( ) , . ; * + - / \ ^ & = <> < > <= >= ?
  kBad,         // an unterminated literal or a character the language lacks
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  size_t pos = 0;  // byte offset in the statement
  size_t end = 0;  // one past the last byte
};

// Never throws: problems become a kBad token for the parser to report in
// the context of the statement. The list always ends with kEnd.
std::vector<Token> Tokenize(std::string_view sql);

// True when `t` is the bare name `word` (ASCII, any case).
bool IsWord(const Token& t, std::string_view word);

}  // namespace jet::sql
