// Base64 and uuencode, and the encoded words that carry non-ASCII header texts and names in addresses.
#include "net/HttpClient.h"

#include "util/TextCodec.h"

#include <algorithm>
#include <cstring>
#include <string_view>

// ---------------------------------------------------------------- Base64

static const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// The uuencode alphabet: the value plus 32, with "`" for 0 instead of a blank.
static const char kUu[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";

// Three bytes to four characters of Alphabet; a short last group is filled
// with zero bits, and when Pad is not NUL the characters that carry no data
// become Pad.
static std::string EncodeSextets(std::string_view S, const char *Alphabet, char Pad)
{
    std::string out;
    out.reserve((S.size() + 2) / 3 * 4);
    for (size_t i = 0; i < S.size(); i += 3) {
        const size_t n = std::min<size_t>(3, S.size() - i);
        unsigned v = static_cast<unsigned char>(S[i]) << 16;
        if (n > 1)
            v |= static_cast<unsigned char>(S[i + 1]) << 8;
        if (n > 2)
            v |= static_cast<unsigned char>(S[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            out += Pad && k > n ? Pad : Alphabet[(v >> (18 - 6 * k)) & 63];
    }
    return out;
}

std::string Base64Encode(const std::string &S)
{
    return EncodeSextets(S, kB64, '=');
}

std::string UuEncode(const std::string &S)
{
    std::string out;
    size_t i = 0;
    do {
        const size_t n = std::min<size_t>(45, S.size() - i);
        out += kUu[n];
        out += EncodeSextets(std::string_view(S).substr(i, n), kUu, 0);
        out += '\n';
        i += n;
    } while (i < S.size());
    return out;
}

// ---------------------------------------------------------------- header texts

std::string EncodeHeaderText(const std::string &Text)
{
    if (std::all_of(Text.begin(), Text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return Text;
    const std::string utf8 = DecodeStoredText(Text);
    // Each word at most 75 characters: 12 of frame, 60 of Base64 for 45
    // bytes, and never a character split between two words.
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        size_t end = i;
        while (end < utf8.size()) {
            char32_t cp;
            const size_t len = std::max<size_t>(1, DecodeUtf8Char(utf8, end, cp));
            if (end + len - i > 45)
                break;
            end += len;
        }
        if (!out.empty())
            out += ' ';
        out += "=?UTF-8?B?" + Base64Encode(utf8.substr(i, end - i)) + "?=";
        i = end;
    }
    return out;
}

std::string EncodeHeaderAddresses(const std::string &Text)
{
    // Decoded as a whole, as a stored text is: a name taken out alone could
    // pass for UTF-8 where the header is Windows-1250.
    const std::string text = DecodeStoredText(Text);
    std::string out, part;
    bool quoted = false, escaped = false;
    int angle = 0;
    size_t opens = std::string::npos; // the "<" of the part's address, outside quotes
    auto flush = [&] {
        if (opens != std::string::npos) {
            std::string name = NetTrim(part.substr(0, opens));
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
                // The text of a quoted name, without its quoting.
                std::string plain;
                for (size_t i = 1; i + 1 < name.size(); ++i) {
                    if (name[i] == '\\' && i + 2 < name.size())
                        ++i;
                    plain += name[i];
                }
                name = plain;
            }
            const std::string encoded = EncodeHeaderText(name);
            if (encoded != name) {
                const size_t lead = part.find_first_not_of(' ');
                part = part.substr(0, lead == std::string::npos ? 0 : lead) + encoded + " " + part.substr(opens);
            }
        }
        out += part;
        part.clear();
        opens = std::string::npos;
    };
    for (char c : text) {
        if (escaped)
            escaped = false;
        else if (quoted && c == '\\')
            escaped = true;
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == '<') {
            if (angle++ == 0 && opens == std::string::npos)
                opens = part.size();
        } else if (!quoted && c == '>' && angle > 0) {
            --angle;
        }
        if (c == ',' && !quoted && angle == 0) {
            flush();
            out += ',';
            continue;
        }
        part += c;
    }
    flush();
    return out;
}

std::string Base64Decode(const std::string &S)
{
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (char c : S) {
        if (c == '=')
            break;
        const char *p = c ? std::strchr(kB64, c) : nullptr;
        if (!p)
            continue;
        acc = (acc << 6) | static_cast<unsigned>(p - kB64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xff);
        }
    }
    return out;
}
