#include "app/catalog/TreeFile.h"

#include "util/BaseFileUtils.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "util/TextCodec.h"

using namespace treestream;

namespace {

// A tree file of a catalogue stays far below this; a larger file is damaged.
constexpr uintmax_t MaxTreeFileSize = 64u << 20;

void PutInteger(std::string &out, int32_t v)
{
    if (v >= -128 && v <= 127) {
        out += static_cast<char>(vaInt8);
        out += static_cast<char>(static_cast<int8_t>(v));
    } else if (v >= -32768 && v <= 32767) {
        out += static_cast<char>(vaInt16);
        const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    } else {
        out += static_cast<char>(vaInt32);
        const auto u = static_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>((u >> (8 * i)) & 0xFF);
    }
}

void PutString(std::string &out, const std::string &s)
{
    if (s.size() <= 255) {
        out += static_cast<char>(vaString);
        out += static_cast<char>(s.size());
    } else {
        out += static_cast<char>(vaLString);
        const auto n = static_cast<uint32_t>(s.size());
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>((n >> (8 * i)) & 0xFF);
    }
    out += s;
}

class Reader {
public:
    explicit Reader(std::string_view b) : b_(b) {}
    bool AtEnd() const { return pos_ >= b_.size(); }
    bool Byte(uint8_t *v)
    {
        if (pos_ >= b_.size())
            return Fail("the stream ends early");
        *v = static_cast<uint8_t>(b_[pos_++]);
        return true;
    }
    bool Peek(uint8_t *v)
    {
        if (pos_ >= b_.size())
            return Fail("the stream ends before its list-end marker");
        *v = static_cast<uint8_t>(b_[pos_]);
        return true;
    }
    bool Bytes(size_t n, std::string *out)
    {
        if (n > b_.size() - pos_)
            return Fail("a length points past the end of the stream");
        out->assign(b_.data() + pos_, n);
        pos_ += n;
        return true;
    }
    bool Le(size_t n, uint32_t *v)
    {
        std::string s;
        if (!Bytes(n, &s))
            return false;
        *v = 0;
        for (size_t i = 0; i < n; ++i)
            *v |= static_cast<uint32_t>(static_cast<uint8_t>(s[i])) << (8 * i);
        return true;
    }
    bool Integer(int32_t *v)
    {
        uint8_t type = 0;
        uint32_t u = 0;
        if (!Byte(&type))
            return false;
        switch (type) {
        case vaInt8:
            if (!Le(1, &u))
                return false;
            *v = static_cast<int8_t>(u);
            return true;
        case vaInt16:
            if (!Le(2, &u))
                return false;
            *v = static_cast<int16_t>(u);
            return true;
        case vaInt32:
            if (!Le(4, &u))
                return false;
            *v = static_cast<int32_t>(u);
            return true;
        default:
            return Fail("an integer was expected");
        }
    }
    bool String(std::string *s)
    {
        uint8_t type = 0;
        uint32_t n = 0;
        if (!Byte(&type))
            return false;
        if (type == vaString) {
            if (!Le(1, &n))
                return false;
        } else if (type == vaLString || type == vaUTF8String) {
            if (!Le(4, &n))
                return false;
        } else {
            return Fail("a string was expected");
        }
        std::string raw;
        if (!Bytes(n, &raw))
            return false;
        *s = DecodeStoredText(raw);
        return true;
    }
    bool Fail(const char *why)
    {
        if (error_.empty())
            error_ = std::string(why) + " (offset " + std::to_string(pos_) + ")";
        return false;
    }
    const std::string &Error() const { return error_; }

private:
    std::string_view b_;
    size_t pos_ = 0;
    std::string error_;
};

} // namespace

std::string EncodeTreeStream(const std::vector<TTreeRecord> &nodes)
{
    std::string out;
    out += static_cast<char>(vaList);
    for (const TTreeRecord &n : nodes) {
        PutInteger(out, n.level);
        PutString(out, n.text);
        PutInteger(out, n.imageIndex);
        PutInteger(out, n.selectedIndex);
        const bool known = n.kind == NodeKindDisc || n.kind == NodeKindGroup || n.kind == NodeKindThird;
        PutInteger(out, known ? n.kind : NodeKindNone);
    }
    out += static_cast<char>(vaNull);
    return out;
}

bool DecodeTreeStream(std::string_view bytes, std::vector<TTreeRecord> &nodes, std::string *error)
{
    nodes.clear();
    Reader r(bytes);
    std::vector<TTreeRecord> out;
    uint8_t b = 0;
    bool ok = r.Byte(&b) && (b == vaList || r.Fail("the list-begin marker is missing"));
    while (ok) {
        if (!r.Peek(&b)) {
            ok = false;
            break;
        }
        if (b == vaNull) {
            r.Byte(&b);
            break;
        }
        TTreeRecord n;
        ok = r.Integer(&n.level) && r.String(&n.text) && r.Integer(&n.imageIndex) && r.Integer(&n.selectedIndex) &&
             r.Integer(&n.kind);
        if (ok && n.level < 0)
            ok = r.Fail("a node has a negative level");
        if (!ok)
            break;
        if (n.kind != NodeKindDisc && n.kind != NodeKindGroup && n.kind != NodeKindThird)
            n.kind = NodeKindNone;
        out.push_back(std::move(n));
    }
    if (!ok) {
        if (error)
            *error = r.Error();
        return false;
    }
    std::vector<int> depths;
    TreeParents(out, &depths);
    for (size_t i = 0; i < depths.size(); ++i) {
        if (depths[i] > MaxTreeDepth) {
            if (error)
                *error = "node " + std::to_string(i + 1) + " lies deeper than " + std::to_string(MaxTreeDepth) +
                         " levels";
            return false;
        }
    }
    nodes = std::move(out);
    return true;
}

std::vector<int> TreeParents(const std::vector<TTreeRecord> &nodes, std::vector<int> *depths)
{
    std::vector<int> parent(nodes.size(), -1);
    std::vector<int> depth(nodes.size(), 0);
    int current = -1;
    for (size_t i = 0; i < nodes.size(); ++i) {
        const int level = nodes[i].level;
        int p = -1;
        if (current < 0) {
            p = -1;
        } else if (level == depth[static_cast<size_t>(current)]) {
            p = parent[static_cast<size_t>(current)];
        } else if (level < depth[static_cast<size_t>(current)]) {
            int node = current;
            while (node >= 0 && level < depth[static_cast<size_t>(node)])
                node = parent[static_cast<size_t>(node)];
            p = node >= 0 ? parent[static_cast<size_t>(node)] : -1;
        } else {
            p = current;
        }
        parent[i] = p;
        depth[i] = p < 0 ? 0 : depth[static_cast<size_t>(p)] + 1;
        current = static_cast<int>(i);
    }
    if (depths)
        *depths = depth;
    return parent;
}

bool ReadTreeFile(const std::string &fileName, std::vector<TTreeRecord> &nodes, std::string *error)
{
    nodes.clear();
    std::error_code ec;
    const auto size = std::filesystem::file_size(fileName, ec);
    if (ec) {
        if (error)
            *error = "cannot read " + fileName;
        return false;
    }
    if (size > MaxTreeFileSize) {
        if (error)
            *error = "the tree file is too large";
        return false;
    }
    std::ifstream in(fileName, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        if (error)
            *error = "cannot read " + fileName;
        return false;
    }
    if (!DecodeTreeStream(bytes, nodes, error))
        return false;
    // What an interrupted save left beside the file is of no use once it reads.
    RemoveStaleTempFiles(fileName);
    return true;
}

bool WriteTreeFile(const std::string &fileName, const std::vector<TTreeRecord> &nodes, std::string *error)
{
    std::string reason;
    if (!WriteFileAtomically(fileName, EncodeTreeStream(nodes), reason)) {
        if (error)
            *error = "cannot write " + fileName + ": " + reason;
        return false;
    }
    return true;
}
