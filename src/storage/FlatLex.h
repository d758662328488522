#pragma once
// Tokens of the table engine's filter language: comparisons between a field
// and a value (or another field) joined by AND.
#include "storage/DataSet.h"

#include <string>
#include <vector>

enum TFlatTokenKind : int {
    tkIdentifier = 1,
    tkQuoted = 2,      // text between ' ' or " " (without the quotes)
    tkComma = 3,
    tkDot = 4,
    tkReserved = 5,    // reserved words other than those with a kind of their own
    tkNumber = 6,
    tkStar = 7,
    tkArithmetic = 8,  // + - /
    tkLogical = 9,     // AND OR NOT
    tkComparison = 10, // = < > >= <= <> *=
    tkOpenParen = 11,
    tkCloseParen = 12,
    tkNull = 13,
    tkCount = 14,      // aggregate functions, when "(" follows directly
    tkSum = 15,
    tkMax = 16,
    tkMin = 17,
    tkAvg = 18,
    tkTrue = 20,
    tkFalse = 21,
};

struct TFlatToken {
    std::string Text;  // reserved words upper-cased; quoted texts unquoted
    int Kind = 0;
    int Pos = 0;       // 1-based position of the token's first character in the text
};

// A tokenizing or parsing failure. The message is the engine's text; Position
// (1-based, in the filter text) tells where it went wrong.
class EFlatParseError : public EDatabaseError {
public:
    EFlatParseError(const std::string &message, int position) : EDatabaseError(message), Position(position) {}
    int Position;
};

class TFlatParser {
public:
    // The tokens of the text (surrounding blanks ignored).
    static std::vector<TFlatToken> Tokenize(const std::string &text);
    static bool IsReservedWord(const std::string &upperWord);
};
