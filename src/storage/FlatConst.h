#pragma once
// Message texts of the table engine. They are raised as database errors (some with a
// prefix or printf-style arguments) and shown to the user as they stand.

inline constexpr const char *SClosedDataset = "Cannot do this operation on closed dataset";
inline constexpr const char *SKeyViolation = "Key violation";
inline constexpr const char *SUnmatchedQuote = "Unmatched quote";
inline constexpr const char *SInvalidSymbol = "Invalid symbol in parameter/identificator/reserved word";
inline constexpr const char *SInvalidIdentifier = "Parameter %s is not valid identifier";
inline constexpr const char *SUnmatchedParentheses = "Unmatched parentheses";
inline constexpr const char *SInvalidNumber = "Token %s is invalid number";
inline constexpr const char *SComparisonError = "Error in comparison expression";
inline constexpr const char *SInvalidPassword = "Invalid password. Table cannot be open";
inline constexpr const char *SLoginPassword = "Login password";
inline constexpr const char *SEnterPassword = "Enter password:";
inline constexpr const char *SUnsupportedFunction = "Unsupported function %s in query";
inline constexpr const char *SUnsupportedAggSymbol = "Symbol %s is not supported in aggregate function argument";
inline constexpr const char *SPasswordTryAgain = "Password is invalid. Try again";
inline constexpr const char *SInvalidMask = "'%s' is an invalid mask at (%d)";
inline constexpr const char *SNoLoadingStream = "Loading stream is not assigned";
inline constexpr const char *SCompareTypesDiffer = "Types of compared fields are not equal";
inline constexpr const char *SCalcOrBlobKeyFields = "There are calc or BLOB fields in list of key fields";
inline constexpr const char *SReadOnlyDelete = "Read-only record cannot be deleted";
inline constexpr const char *SReadOnlyInsert = "You have read only access, you can not add records!";
inline constexpr const char *SReadOnlyEdit = "Read-only record cannot be changed";
inline constexpr const char *SCannotEditCalcFields = "Cannot edit CalcFields";
inline constexpr const char *SCircularDataLink = "Circular data link";
inline constexpr const char *SMasterNotFlat = "Use only TFlatDataset descendants for master-detail relationship";
inline constexpr const char *SErrorDeleting = "Error deleting record: ";
inline constexpr const char *SErrorSaving = "Error saving record: ";
inline constexpr const char *SErrorSavingNew = "Error saving new record: ";
inline constexpr const char *SErrorOpeningFile = "Error opening file %s";
inline constexpr const char *SCloneNotActive = "Cloned table is not active!";
inline constexpr const char *SClonesOpen = "Cloned tables are not closed before source dataset is closed!";
inline constexpr const char *SNoFieldDescriptions = "Error creating table (no field descriptions)";
inline constexpr const char *SErrorOpeningTable = "Error opening table: ";
inline constexpr const char *SCopySourceInvalid = "Source for copying is not assigned or same as destination";
inline constexpr const char *SCopySourceOpenError = "Error opening source table for copying";
inline constexpr const char *SRecordCountMismatch =
    "Number of records read (%d) does not match declared record count (%d)";
inline constexpr const char *SFieldReadOnly = "Field '%s' is read only!";
inline constexpr const char *SNotEditing = "Table is not in edit or insert mode";
inline constexpr const char *SBufferCorruption = "Buffer structure corruption!";
inline constexpr const char *SDescriptionError = "Error in buffer structure (field description section)";
inline constexpr const char *SUnexpectedEnd = "Unexpected end of buffer";
inline constexpr const char *SFieldWrongLength = "Field '%s' has wrong length %d in record %d";
inline constexpr const char *SStringWrongLength = "String field '%s' has wrong length %d in record %d";
inline constexpr const char *SBlobWrongLength = "BLOB field '%s' has wrong length %d in record %d";
inline constexpr const char *SRecordNotFound = "Record is not found";
inline constexpr const char *SRecordDeleted = "Record has been deleted";
inline constexpr const char *SNotFound = "Not Found";
inline constexpr const char *SYes = "Yes";
inline constexpr const char *SNo = "No";
inline constexpr const char *SNoRecords = "Number of records is equal to 0";

// Our own: a save that the reader would refuse is stopped before anything is written.
inline constexpr const char *SNotesTooLong = "Notes text is too long to be saved (%d bytes, at most 65535)";
inline constexpr const char *SImageTooLarge = "Table is too large to be saved (more than 4 GB)";
inline constexpr const char *SCannotCreateFile = "Cannot create file \"%s\". %s";
inline constexpr const char *SCannotCreateBackup =
    "Cannot save file \"%s\": its backup \"%s\" cannot be written. %s";
// The backup could not be written and the previous table could not be put back either.
inline constexpr const char *SBackupAndPutBackFailed =
    "The file \"%s\" now holds the new table, but its backup \"%s\" cannot be written (%s), and the previous "
    "table could not be put back (%s): the previous table is now the file \"%s\". Copy it to a name of your own "
    "before the table is opened by a later start of the program, which removes it.";

inline constexpr const char *SFlatVersion = "FlatDB Engine v5.4";
