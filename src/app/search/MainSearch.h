#pragma once
// The search state of the main window: what the search in progress looks
// for, where the filter reads, and the progress it reports.
#include <QElapsedTimer>

#include <cstdint>
#include <string>

#include "app/search/SearchCriteria.h"

class TDataSet;
class TField;

struct TSearchState {
    bool Flag = false;          // true while a search builds its filtered view
    std::string NameText;       // the name text without its wildcard stars
    std::string NoteText;       // the note text without its wildcard stars
    TDataSet *Table = nullptr;  // the table the filter reads (null: the file table)
    TSearchCriteria Criteria;   // date and size bounds
    int ProgressStep = 0;       // records per progress-bar step
    int ProgressCounter = 0;    // records filtered since the last step
    QElapsedTimer ProgressPainted; // since the bar was last repainted
    std::string SearchedCatalog; // catalogue being read by the search of all catalogues

    // Fixed for one filtering pass (TMainForm::PrepareSearchPass).
    bool NameGiven = false;     // the name box is not empty
    bool NoteGiven = false;     // the note box is not empty
    int DiscIndex = 0;          // the disc choice's item index
    std::string DiscText;       // the disc choice's text
    int CurrentYear = 2000;     // for two-digit years in stored dates
    TTextMatch NameMatch, NoteMatch;
    TField *NameField = nullptr, *NoteField = nullptr, *DiscField = nullptr, *SizeField = nullptr,
           *DateField = nullptr;
};
