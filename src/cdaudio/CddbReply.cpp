// Reading the server's replies: query matches and the choice among them, entries, site lists, general codes.
#include "cdaudio/Cddb.h"
#include "cdaudio/CddbInternal.h"

#include <algorithm>
#include <cctype>

using cddbtext::CodeOf;
using cddbtext::Hex8;
using cddbtext::Quoted;
using cddbtext::StartsWith;
using cddbtext::Upper;

namespace {

bool CodeIs(const std::string &line, std::initializer_list<int> codes)
{
    const int code = CodeOf(line);
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// Track number of a "TTITLEn=" (prefix 6) or "EXTTn=" (prefix 4) line; -1
// when it is not a number below 100.
int TrackNumberOf(const std::string &line, size_t prefix, size_t &valueAt)
{
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq <= prefix || eq > prefix + 2)
        return -1;
    int n = 0;
    for (size_t i = prefix; i < eq; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(line[i])))
            return -1;
        n = n * 10 + (line[i] - '0');
    }
    valueAt = eq + 1;
    return n;
}

std::string ValueAfterEquals(const std::string &line)
{
    const size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

} // namespace

void TCddb::ChooseMatch(bool Exact)
{
    int count = 0;
    while (count < MaxCddbMatches && !Matches[static_cast<size_t>(count)].empty())
        ++count;
    if (count == 0) {
        State = 5;
        Status("The server sent an empty match list");
        return;
    }
    State = 4;
    Status("Received matches");
    int rightOne = 0;
    if (OnMatch)
        OnMatch(this, Matches, rightOne);
    else if (!Exact) {
        // Nobody to choose among inexact matches: none is taken.
        rightOne = -1;
        Status("Match choice cancelled");
    }
    if (rightOne == -1) {
        State = 5;
        return;
    }
    if (rightOne < 0 || rightOne >= count) {
        State = 5;
        Status("The chosen match is not in the list");
        return;
    }
    const std::string &m = Matches[static_cast<size_t>(rightOne)];
    const size_t space = m.find(' ');
    const std::string category = m.substr(0, space == std::string::npos ? m.size() : space);
    const std::string discId = space == std::string::npos ? std::string() : m.substr(space + 1, 8);
    if (!IsCddbCategory(NetTrim(category)) || !IsCddbDiscId(discId)
        || (m.size() > space + 9 && m[space + 9] != ' ')) {
        State = 5;
        Status("The chosen match has no valid category and disc id: " + Quoted(m));
        return;
    }
    Entry.Category = category + " ";
    Entry.DiscId = discId;
    State = 3;
}

void TCddb::QueryReply(const std::string &Line)
{
    if (CodeIs(Line, {200, 210, 211, 202, 403, 409})) {
        switch (CodeOf(Line)) {
        case 200: {
            State = 3;
            Status("Found exact match");
            Matches.fill(std::string());
            FNextMatch = 0;
            Matches[0] = NetTrim(Line.size() > 4 ? Line.substr(4) : std::string());
            const std::string category = NetTrim(Matches[0].substr(0, Matches[0].find(' ')));
            if (!IsCddbCategory(category)) {
                State = 5;
                Status("The match has no valid category: " + Quoted(Matches[0]));
                return;
            }
            int rightOne = 0;
            if (OnMatch)
                OnMatch(this, Matches, rightOne);
            if (rightOne == -1) {
                State = 5;
                return;
            }
            if (rightOne != 0) {
                State = 5;
                Status("The chosen match is not in the list");
                return;
            }
            Entry.Category = category;
            Entry.DiscId = Hex8(CddbDiscId(Entry.Toc), true);
            return;
        }
        case 210:
        case 211:
            Status(CodeOf(Line) == 210 ? "Found exact matches" : "Found inexact matches");
            Matches.fill(std::string());
            FNextMatch = 0;
            Status("OK, receiving matches");
            FReceivingMatches = true;
            FExactMatches = CodeOf(Line) == 210;
            return;
        case 202:
            State = 5;
            Status("No match found");
            return;
        case 403:
            State = 5;
            Status("Database entry is corrupt");
            return;
        case 409:
            State = 5;
            HandshakeDone = false;
            Status("No handshake");
            return;
        }
    }
    if (!Line.empty() && std::isdigit(static_cast<unsigned char>(Line[0]))) {
        const int code = CodeOf(Line);
        if (code >= 400 || code < 0) // a refusal or a garbled code ends the query
            State = 5;
        GeneralReply(Line);
        return;
    }
    if (Line == ".") {
        if (!FReceivingMatches) {
            State = 5;
            Status("Unexpected end of the CDDB reply");
            return;
        }
        FReceivingMatches = false;
        ChooseMatch(FExactMatches);
        return;
    }
    if (!FReceivingMatches) {
        State = 5;
        Status("Unrecognised CDDB reply line: " + Quoted(Line));
        return;
    }
    if (NetTrim(Line).empty())
        return; // a blank line is no match
    while (FNextMatch < Matches.size() && !Matches[FNextMatch].empty())
        ++FNextMatch;
    if (FNextMatch < Matches.size()) {
        Matches[FNextMatch] = NetTrim(Line);
        return;
    }
    if (!FDropNoted) {
        FDropNoted = true;
        Status("More than 100 matches: the further ones are dropped");
    }
}

void TCddb::ReadReply(const std::string &Raw, const std::string *Bytes)
{
    // An entry line keeps its blanks at the end: a value continued on the
    // next line may end in one ("Skladba 3 " + "- piesne").
    const std::string Line = NetTrim(Raw);
    if (CodeIs(Line, {210, 401, 402, 403, 409})) {
        switch (CodeOf(Line)) {
        case 210:
            Status("OK, CDDB database entry follows");
            EntryLines.fill(std::string());
            FEntryBytes.clear();
            FNextEntryLine = 0;
            FReceivingEntry = true;
            return;
        case 401:
            State = 13;
            Status("Specified CDDB entry not found");
            return;
        case 403:
            State = 13;
            Status("Database entry is corrupt");
            return;
        case 409:
            State = 13;
            HandshakeDone = false;
            Status("No handshake");
            return;
        default: // 402: recognised, nothing to do
            return;
        }
    }
    if (Line == ".") {
        if (!FReceivingEntry || EntryLines[0].empty()) {
            State = 13;
            Status("The server sent an empty CDDB entry");
            return;
        }
        FReceivingEntry = false;
        if (!FEntryBytes.empty()) {
            // Now that every line of each value is here, the values are
            // decoded whole.
            std::vector<std::string> bytes;
            for (const auto &[slot, b] : FEntryBytes)
                bytes.push_back(b);
            bytes = CddbEntryTextToUtf8(bytes, FSocketLevel);
            for (size_t i = 0; i < bytes.size(); ++i)
                EntryLines[FEntryBytes[i].first] = bytes[i];
            FEntryBytes.clear();
        }
        State = 12;
        Status("Entry read");
        return;
    }
    if (!Line.empty() && (Line[0] == '#' || Line[0] == 'T' || Line[0] == 'D' || Line[0] == 'E' || Line[0] == 'P')) {
        while (FNextEntryLine < EntryLines.size() && !EntryLines[FNextEntryLine].empty())
            ++FNextEntryLine;
        if (FNextEntryLine < EntryLines.size()) {
            // The blanks before the key are the same bytes in both forms.
            const size_t key = Raw.find(Line[0]);
            EntryLines[FNextEntryLine] = Raw.substr(key);
            if (Bytes)
                FEntryBytes.emplace_back(FNextEntryLine, Bytes->substr(std::min(key, Bytes->size())));
            return;
        }
        if (!FDropNoted) {
            FDropNoted = true;
            Status("The CDDB entry has more than 512 lines: the further ones are dropped");
        }
        return;
    }
    State = 13;
    GeneralReply(Line);
}

void TCddb::GeneralReply(const std::string &Line)
{
    const int code = CodeOf(Line);
    if (code < 0) {
        Status("Unrecognised CDDB reply line: " + Quoted(Line));
        return;
    }
    switch (code) {
    case 402: Status("Server error"); return;
    case 408: Status("CGI environment error"); return;
    case 500: Status("Command syntax error, command unknown, command unimplemented"); return;
    case 530:
        State = -1;
        HandshakeDone = false;
        Status("Server error, server timeout");
        return;
    default: break;
    }
    static const char *const kFirst[] = {"", "Informative message", "Command OK", "Command OK so far",
                                         "Command OK, but cannot be performed",
                                         "Command unimplemented, incorrect, or program error"};
    static const char *const kSecond[] = {", ready for further commands", ", more server-to-client output follows",
                                          ", more client-to-server input follows", ", connection will close"};
    const int first = code / 100, second = code / 10 % 10;
    std::string text = first >= 1 && first <= 5 ? kFirst[first] : "";
    if (second <= 3)
        text += kSecond[second];
    if (second == 3) {
        State = -1;
        HandshakeDone = false;
    }
    if (text.empty())
        text = "Unrecognised CDDB reply code " + std::to_string(code);
    Status(text);
}

void TCddb::ParseEntry()
{
    const std::string category = Entry.Category;
    Entry = CddbEntry();
    try {
        SelectDrive(DriveList.CurrentDrive);
    } catch (const std::exception &e) {
        Status(e.what());
    }
    Entry.Category = category;

    // Continuation lines are joined first; escapes are decoded once, after.
    std::vector<std::string> titles;
    std::array<std::string, MaxCddbTracks> tracks, extTracks;
    std::string extData;
    for (const std::string &line : EntryLines) {
        if (line.empty())
            break;
        const std::string key = Upper(line);
        if (StartsWith(key, "# REVISION: ")) {
            const std::string v = NetTrim(line.substr(12));
            int n = 0;
            bool ok = !v.empty() && v.size() <= 9;
            for (char c : v)
                ok = ok && std::isdigit(static_cast<unsigned char>(c));
            if (ok) {
                for (char c : v)
                    n = n * 10 + (c - '0');
                Entry.Revision = n;
            }
        } else if (StartsWith(key, "#") || StartsWith(key, "DISCID")) {
            continue;
        } else if (StartsWith(key, "DTITLE")) {
            titles.push_back(ValueAfterEquals(line));
        } else if (StartsWith(key, "DYEAR")) {
            Entry.Year = UnescapeEntryText(NetTrim(ValueAfterEquals(line)));
        } else if (StartsWith(key, "DGENRE")) {
            Entry.Genre = UnescapeEntryText(NetTrim(ValueAfterEquals(line)));
        } else if (StartsWith(key, "TTITLE")) {
            size_t at = 0;
            const int n = TrackNumberOf(line, 6, at);
            if (n >= 0 && n < MaxCddbTracks)
                tracks[static_cast<size_t>(n)] += line.substr(at);
        } else if (StartsWith(key, "EXTD")) {
            extData += ValueAfterEquals(line);
        } else if (StartsWith(key, "EXTT")) {
            size_t at = 0;
            const int n = TrackNumberOf(line, 4, at);
            if (n >= 0 && n < MaxCddbTracks)
                extTracks[static_cast<size_t>(n)] += line.substr(at);
        }
    }
    // A value continued over several lines is joined as its fragments stand
    // (a blank at the end of one is part of the text) and trimmed once
    // joined; escapes are decoded last, so an escaped line break stays.
    auto value = [](const std::string &joinedText) { return UnescapeEntryText(NetTrim(joinedText)); };
    std::string joined;
    for (const std::string &t : titles)
        joined += t;
    const size_t slash = joined.find(" / ");
    if (slash != std::string::npos) {
        Entry.Artist = value(joined.substr(0, slash));
        Entry.Title = value(joined.substr(slash + 3));
    } else if (!titles.empty()) {
        // Without " / " the first line names the artist and later ones the title.
        Entry.Artist = value(titles.front());
        std::string rest;
        for (size_t i = 1; i < titles.size(); ++i)
            rest += titles[i];
        Entry.Title = value(rest);
    }
    for (size_t i = 0; i < tracks.size(); ++i) {
        Entry.TrackTitles[i] = value(tracks[i]);
        Entry.ExtTracks[i] = value(extTracks[i]);
    }
    Entry.ExtData = value(extData);
}

void TCddb::SitesReply(const std::string &Line)
{
    if (Line == ".") {
        State = 8;
        Status("Got sites");
        return;
    }
    const int code = Line.size() == 3 || (Line.size() > 3 && Line[3] == ' ') ? CodeOf(Line) : -1;
    if (code == 210) {
        Status("OK, receiving sites");
        Sites.fill(CddbSite());
        FNextSite = 0;
        return;
    }
    if (code == 401) {
        Status("No site information available");
        State = 19;
        return;
    }
    if (code >= 0) {
        GeneralReply(Line);
        return;
    }
    while (FNextSite < Sites.size() && !Sites[FNextSite].Site.empty())
        ++FNextSite;
    if (FNextSite < Sites.size()) { // further sites are dropped
        CddbSite &site = Sites[FNextSite];
        // Cut at single blanks: two blanks in a row make an empty field.
        std::string fields[6];
        size_t at = 0;
        for (int f = 0; f < 6; ++f) {
            const size_t sp = Line.find(' ', at);
            fields[f] = Line.substr(at, sp == std::string::npos ? std::string::npos : sp - at);
            at = sp == std::string::npos ? Line.size() : sp + 1;
        }
        site.Site = fields[0];
        std::string proto = fields[1];
        for (char &c : proto)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        site.IsHttp = proto == "http";
        site.Port = 0;
        if (!fields[2].empty() && fields[2].size() <= 5
            && std::all_of(fields[2].begin(), fields[2].end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            site.Port = std::stoi(fields[2]);
        site.Address = fields[3];
        site.Latitude = fields[4];
        site.Longitude = fields[5];
        site.Description = at < Line.size() ? Line.substr(at) : std::string();
        if (site.Site.empty())
            site.Site = " "; // a filled slot keeps a non-empty name
        return;
    }
}
