#pragma once
// The tree file of a catalogue: one record per tree node in pre-order, in the
// component-stream value encoding (list-begin byte 1, typed little-endian
// integers and length-prefixed strings, list-end byte 0), without signature.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Node kinds a tree node can refer to; folder nodes added under a disc have none.
inline constexpr int NodeKindNone = -1;
inline constexpr int NodeKindDisc = 0;
inline constexpr int NodeKindGroup = 1;
inline constexpr int NodeKindThird = 2;

struct TTreeRecord {
    int32_t level = 0;        // depth, 0 for a root node
    std::string text;         // UTF-8
    int32_t imageIndex = 0;
    int32_t selectedIndex = 0;
    int32_t kind = NodeKindNone;

    bool operator==(const TTreeRecord &) const = default;
};

// Value types of the encoding.
namespace treestream {
inline constexpr uint8_t vaNull = 0;
inline constexpr uint8_t vaList = 1;
inline constexpr uint8_t vaInt8 = 2;
inline constexpr uint8_t vaInt16 = 3;
inline constexpr uint8_t vaInt32 = 4;
inline constexpr uint8_t vaString = 6;
inline constexpr uint8_t vaLString = 12;
inline constexpr uint8_t vaUTF8String = 20;
} // namespace treestream

// Encodes the nodes. A node without kind is written with the kind value -1,
// which the reader takes for "no kind" (a folder stays a folder).
std::string EncodeTreeStream(const std::vector<TTreeRecord> &nodes);

// The deepest tree a tree file may hold (a root node is at depth 0). Folder nodes
// of the deepest path a catalogue keeps, under a few levels of groups, stay far
// below it; a deeper file is taken for damaged.
inline constexpr int MaxTreeDepth = 2048;

// Decodes a tree stream. Every length is checked against the bytes that are
// there; false (with a reason in *error) for a damaged stream, or one whose
// nodes end up deeper than MaxTreeDepth, in which case `nodes` is left empty. A kind other than 0, 1, 2 gives a node without kind.
bool DecodeTreeStream(std::string_view bytes, std::vector<TTreeRecord> &nodes, std::string *error = nullptr);

// For records in file order, the index of each record's parent (-1 for a root
// node), following the reader's rule: equal level adds a sibling, a higher
// level a child, a lower level climbs towards the root first. The depths the
// nodes really get are stored in *depths when given.
std::vector<int> TreeParents(const std::vector<TTreeRecord> &nodes, std::vector<int> *depths = nullptr);

// Reads and writes a tree file. Writing goes through a temporary file renamed
// into place.
bool ReadTreeFile(const std::string &fileName, std::vector<TTreeRecord> &nodes, std::string *error = nullptr);
bool WriteTreeFile(const std::string &fileName, const std::vector<TTreeRecord> &nodes, std::string *error = nullptr);
