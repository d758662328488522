#pragma once
// The letter map: which drive letter each volume keeps across restarts.
//
// A plain UTF-8 text file in the data folder, one binding a line:
//     e=optical:/dev/sr0
//     f=uuid:4A3B-1C2D
//     t=folder:/home/me/Photos      (a folder bound to a letter, as a substituted drive)
// Lines starting with "#" are comments. Lines the program does not understand
// are kept as they stand when it writes the file again, and reported.
// c: always stands for the root file system and is never in the map.
#include <map>
#include <optional>
#include <string>
#include <vector>

class VolumeLetterMap {
public:
    // Reads the file; a missing file is an empty map. Unusable lines are kept
    // but ignored, and described in `problem`, one line each ("line 3
    // (d=uuid:X): letter bound twice"). False when the file exists but
    // cannot be read (the map is then empty).
    bool Load(const std::string &path, std::string &problem);
    // Parses the text of a map file (what Load does after reading it).
    void Parse(const std::string &text, std::string &problem);

    // Gives each present volume identity its letter: the one it has, else the
    // next letter from d: that no binding holds; when every letter is held,
    // the letter of a volume that is not present now (folders keep theirs).
    // Returns the letters; an identity missing from the result got none.
    // `changed` tells whether the map must be written again.
    std::map<std::string, char> Assign(const std::vector<std::string> &presentIdentities, bool &changed);

    // Folder bindings in letter order: letter -> absolute folder.
    std::map<char, std::string> FolderBindings() const;
    std::optional<char> LetterOf(const std::string &identity) const;
    // Puts the comment that says how to bind a folder at the top (once).
    void AddHeaderComment();
    // Folder bindings whose folder is missing or is a file, one entry a line
    // ("line 4 (t=folder:/x): ..."); empty when all are folders.
    std::string FolderProblems() const;

    // The file's text.
    std::string Text() const;
    // Writes the file through a temporary file renamed over it, so a failure
    // never leaves half a map. False with `problem` set on failure.
    bool Save(const std::string &path, std::string &problem) const;

    static bool IsValidIdentity(const std::string &identity);

private:
    struct Line {
        std::string text;     // as read, for lines kept verbatim
        char letter = 0;      // 0: comment or unusable line
        std::string identity;
        std::string shadowed; // refused as "volume bound twice": that volume
    };
    std::vector<Line> lines_;
};
