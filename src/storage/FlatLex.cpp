#include "storage/FlatLex.h"

#include "storage/FlatConst.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::array<const char *, 22> kReserved = {
    "SELECT", "FROM", "WHERE", "AS",  "AND", "OR",   "NOT",   "NULL",     "JOIN", "LEFT",  "ON",
    "LIKE",   "GROUP", "BY",   "SUM", "MAX", "MIN",  "AVG",   "TRUE",     "FALSE", "DISTINCT", "COUNT",
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isQuote(char c) { return c == '\'' || c == '"'; }
bool isSymbol(char c) { return c != '\0' && std::strchr("()*+,-./<=>", c) != nullptr; }
// Letters: ASCII letters and every byte of a multi-byte UTF-8 character.
bool isLetter(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u >= 0x80;
}
bool isWordChar(char c) { return isLetter(c) || isDigit(c) || c == '_' || c == '$'; }

std::string upperAscii(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

std::string withArg(const char *pattern, const std::string &arg) {
    std::string s = pattern;
    const auto at = s.find("%s");
    if (at != std::string::npos) s.replace(at, 2, arg);
    return s;
}

int aggregateKind(const std::string &upper) {
    if (upper == "COUNT") return tkCount;
    if (upper == "SUM") return tkSum;
    if (upper == "MAX") return tkMax;
    if (upper == "MIN") return tkMin;
    if (upper == "AVG") return tkAvg;
    return 0;
}

} // namespace

bool TFlatParser::IsReservedWord(const std::string &upperWord) {
    return std::any_of(kReserved.begin(), kReserved.end(), [&](const char *w) { return upperWord == w; });
}

std::vector<TFlatToken> TFlatParser::Tokenize(const std::string &text) {
    std::vector<TFlatToken> tokens;
    std::vector<int> openPositions;  // of "(" not yet closed
    int strayClose = 0;              // position of the first ")" without its "("
    bool inAggregate = false;
    const size_t n = text.size();
    size_t i = 0;
    auto pos = [](size_t at) { return static_cast<int>(at) + 1; };

    while (i < n) {
        const char c = text[i];
        if (isBlank(c)) {
            ++i;
            continue;
        }
        const size_t start = i;
        if (isQuote(c)) {
            std::string value;
            size_t j = i + 1;
            bool closed = false;
            while (j < n) {
                if (text[j] == c) {
                    if (j + 1 < n && text[j + 1] == c) {  // a doubled quote stands for one
                        value += c;
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                value += text[j++];
            }
            if (!closed) throw EFlatParseError(SUnmatchedQuote, pos(start));
            tokens.push_back({value, tkQuoted, pos(start)});
            i = j + 1;
            continue;
        }
        if (isDigit(c)) {
            size_t j = i + 1;
            while (j < n && (isDigit(text[j]) || text[j] == '-' || text[j] == '.')) ++j;
            if (j < n && !isBlank(text[j]) && !isSymbol(text[j]) && !isQuote(text[j]))
                throw EFlatParseError(withArg(SInvalidNumber, text.substr(i, j - i + 1)), pos(start));
            tokens.push_back({text.substr(i, j - i), tkNumber, pos(start)});
            i = j;
            continue;
        }
        if (isSymbol(c)) {
            std::string sym(1, c);
            if (i + 1 < n) {
                const std::string two = text.substr(i, 2);
                if (two == ">=" || two == "<=" || two == "<>" || two == "*=") sym = two;
            }
            if (inAggregate && sym != "." && sym != ")")
                throw EFlatParseError(withArg(SUnsupportedAggSymbol, sym), pos(start));
            i += sym.size();
            if (sym == "(") {
                openPositions.push_back(pos(start));
                tokens.push_back({sym, tkOpenParen, pos(start)});
            } else if (sym == ")") {
                if (openPositions.empty()) {
                    if (strayClose == 0) strayClose = pos(start);
                } else {
                    openPositions.pop_back();
                }
                if (inAggregate)
                    inAggregate = false;  // the function's own ")" is no token
                else
                    tokens.push_back({sym, tkCloseParen, pos(start)});
            } else if (sym == "*") {
                tokens.push_back({sym, tkStar, pos(start)});
            } else if (sym == "+" || sym == "-" || sym == "/") {
                tokens.push_back({sym, tkArithmetic, pos(start)});
            } else if (sym == ",") {
                tokens.push_back({sym, tkComma, pos(start)});
            } else if (sym == ".") {
                tokens.push_back({sym, tkDot, pos(start)});
            } else {
                tokens.push_back({sym, tkComparison, pos(start)});
            }
            continue;
        }
        if (!isWordChar(c)) throw EFlatParseError(SInvalidSymbol, pos(start));
        size_t j = i;
        while (j < n && isWordChar(text[j])) ++j;
        const std::string word = text.substr(i, j - i);
        const std::string upper = upperAscii(word);
        i = j;
        if (IsReservedWord(upper)) {
            if (i < n && text[i] == '(') {
                const int agg = aggregateKind(upper);
                if (agg == 0 || inAggregate) throw EFlatParseError(withArg(SUnsupportedFunction, upper), pos(start));
                openPositions.push_back(pos(i));
                ++i;
                inAggregate = true;
                tokens.push_back({upper, agg, pos(start)});
                continue;
            }
            int kind = tkReserved;
            if (upper == "AND" || upper == "OR" || upper == "NOT") kind = tkLogical;
            else if (upper == "NULL") kind = tkNull;
            else if (upper == "TRUE") kind = tkTrue;
            else if (upper == "FALSE") kind = tkFalse;
            tokens.push_back({upper, kind, pos(start)});
            continue;
        }
        if (!(isLetter(word[0]) || word[0] == '_'))
            throw EFlatParseError(withArg(SInvalidIdentifier, word), pos(start));
        tokens.push_back({word, tkIdentifier, pos(start)});
    }
    if (strayClose != 0) throw EFlatParseError(SUnmatchedParentheses, strayClose);
    if (!openPositions.empty()) throw EFlatParseError(SUnmatchedParentheses, openPositions.back());
    return tokens;
}
