#pragma once
// What a click in the file list leaves for copy and run and the properties
// dialogs: the entry to run (a file, or the archive that holds a member), its
// disc and its record kind.
#include <string>

struct TRunTarget {
    std::string Path;     // full name of the entry or of its archive
    std::string DiscName; // Namecd
    std::string Number;   // disc number
    int FType = 0;        // record kind
};
