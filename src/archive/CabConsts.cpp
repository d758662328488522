#include "archive/CabConsts.h"

std::string FdiErrorText(int erfOper)
{
    switch (erfOper) {
    case 0: return "No error";
    case 1: return "Cabinet not found";
    case 2: return "Cabinet file does not have the correct format";
    case 3: return "Cabinet file has an unknown version number";
    case 4: return "Cabinet file is corrupt";
    case 5: return "Could not allocate enough memory";
    case 6: return "Unknown compression type in a cabinet folder";
    case 7: return "Failure decompressing data from a cabinet file";
    case 8: return "Failure writing to target file";
    case 9: return "Cabinets in a set do not have the same RESERVE sizes";
    case 10: return "Cabinet returned on fdintNEXT_CABINET is incorrect";
    case 11: return "FDI aborted";
    default: return SFdiError;
    }
}

std::string FciErrorText(int erfOper)
{
    switch (erfOper) {
    case 0: return "No error";
    case 1: return "Failure opening file to be stored in cabinet";
    case 2: return "Failure reading file to be stored in cabinet";
    case 3: return "Out of memory in FCI";
    case 4: return "Could not create a temporary file";
    case 5: return "Unknown compression type";
    case 6: return "Could not create cabinet file";
    case 7: return "Client requested abort";
    case 8: return "Failure compressing data";
    default: return SFciError;
    }
}
