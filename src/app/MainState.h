#pragma once
// State of the main window that its handlers, the scan wizard and the dialogs
// read and write: the scan in progress and the browse position.
#include <string>
#include <vector>

// The scan in progress; cleared after every scan.
struct TScanState {
    std::string RootFolder;     // drive root being read, e.g. "e:\"
    std::string DiscName;       // disc name the records get
    std::string DiscNumber;     // disc number as text
    std::string VolumeSerial;   // serial of the drive just examined, unsigned decimal text
    std::string CddbNote;       // "©" + year + "/" + genre after a lookup
    std::string CddbTitle;      // disc title of the CDDB entry
    std::vector<std::string> TrackTitles;
    bool Audio = false;         // the drive holds an audio CD
    bool Pending = false;       // a CDDB lookup is running
    bool End = false;           // the CDDB entry has been read completely
    bool NoMatch = false;       // the server knew no match

    void Clear() { *this = TScanState(); }
};

// Where the user is in the catalogue.
struct TBrowseState {
    std::string CurrentDisc;    // disc name of the disc node last selected
    std::string LoadedDisc;     // disc whose work table stands; empty at start
    std::string CurrentPath;    // e.g. "e:\docs\", compared exactly with Path
    std::string TargetPath;     // set by a navigation before the path changes
    std::string PreviousPath;   // path box text before the navigation
    std::string HomePath;       // path box text right after a disc was opened
    std::string DiscSizeText;   // CdSize of the current disc record
    std::string SelectedSerial = "0"; // CdIdCode of the selected disc, "0" when empty
    std::string FileCountText;  // record count of the work table
    std::string WorkDiscName;   // Namecd of the work table's current record
    std::string ListedPath;     // folder the file list was last filled for
    int BrowseFlag = 0;         // 1 reached from tree or list, 0 by path box/up/back/forward
    std::vector<std::string> BackList;
    std::vector<std::string> ForwardList;
};
