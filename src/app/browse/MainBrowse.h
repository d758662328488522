#pragma once
// What a click in the file list leaves for copy and run and the properties
// dialogs: the entry to run (a file, or the archive that holds a member), its
// disc and its record kind.
#include <string>

struct TFileRow;
struct TSearchRow;

struct TRunTarget {
    std::string Path;     // full name of the entry or of its archive
    std::string DiscName; // Namecd
    std::string Number;   // disc number
    int FType = 0;        // record kind
};

// The run target of a file list row: a folder or an archive itself, a file
// or an archive member by the file that holds it.
TRunTarget RunTargetOf(const TFileRow &row);
// The run target of a search result row: the file that holds the entry found.
TRunTarget RunTargetOf(const TSearchRow &row);
