#include "util/FileCommit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "util/BaseFileUtils.h"
#include "util/Crc32.h"
#include "util/StrUtils.h"

namespace {

void (*g_stepHook)(int) = nullptr;

constexpr std::string_view Magic = "orbalist-commit 1\n";
constexpr std::string_view EndWord = "end ";
// A journal names a few files; anything near this size was not written by a commit.
constexpr size_t MaxJournalBytes = size_t(1) << 20;
constexpr size_t MaxPathBytes = 4096;

uint32_t Crc32(std::string_view bytes)
{
    return ::Crc32(0, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

std::string Absolute(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

std::string JournalIn(const std::string &folder)
{
    return (folder.empty() ? std::string(".") : folder) + "/" + std::string(CommitJournalName);
}

// '%', control characters and DEL as %XX: a journal line holds two names and a tab.
std::string Escape(std::string_view s)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (c == '%' || c < 0x20 || c == 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

bool Unescape(std::string_view s, std::string &out)
{
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size())
            return false;
        const int hi = HexDigitValue(s[i + 1]), lo = HexDigitValue(s[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        out += char(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool SafeTarget(const std::string &to)
{
    return !to.empty() && to.size() <= MaxPathBytes && to.find('\0') == std::string::npos &&
           !FileNameOfPath(to).empty();
}

// A name the journal may rename: a temporary file of the program (the target's
// folder, a name, the mark and six letters or digits) over a file of the same folder.
bool SafeRename(const std::string &from, const std::string &to)
{
    if (from.empty() || to.empty() || from.size() > MaxPathBytes || to.size() > MaxPathBytes ||
        from.find('\0') != std::string::npos || to.find('\0') != std::string::npos)
        return false;
    if (FolderOfPath(from) != FolderOfPath(to))
        return false;
    const std::string base = FileNameOfPath(from);
    constexpr std::string_view mark = ".orbalist-tmp-";
    if (base.size() <= mark.size() + 6 || FileNameOfPath(to).empty())
        return false;
    const std::string_view suffix = std::string_view(base).substr(base.size() - mark.size() - 6);
    if (suffix.substr(0, mark.size()) != mark)
        return false;
    return std::all_of(suffix.begin() + long(mark.size()), suffix.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

struct TJournal {
    std::vector<std::pair<std::string, std::string>> renames; // full paths
};

// Missing: no journal. Unreadable: one that cannot be read now (no access, a
// disc error); it may well be whole, so nothing of it is touched. Bad: one that
// reads but was never written by a commit.
enum class TRead { Missing, Unreadable, Bad, Ok };

// Reads and checks the journal of `folder`; `reason` says why it is Unreadable.
TRead ReadJournal(const std::string &folder, TJournal &journal, std::string *reason = nullptr)
{
    const std::string path = JournalIn(folder);
    auto unreadable = [&](int err) {
        if (reason)
            *reason = path + ": " + std::strerror(err);
        return TRead::Unreadable;
    };
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return TRead::Missing;
        return unreadable(errno);
    }
    if (!S_ISREG(st.st_mode) || st.st_size < 0 || size_t(st.st_size) > MaxJournalBytes)
        return TRead::Bad;
    std::string bytes;
    int failure = 0;
    const std::string why = ReadRegularFile(path, bytes, MaxJournalBytes, &failure);
    if (failure != 0)
        return unreadable(failure);
    if (!why.empty() || bytes.compare(0, Magic.size(), Magic) != 0)
        return TRead::Bad;
    // The last line: "end <count> <crc32>", the checksum over everything before it.
    if (bytes.empty() || bytes.back() != '\n')
        return TRead::Bad;
    const size_t lastStart = bytes.rfind('\n', bytes.size() - 2) + 1;
    const std::string last = bytes.substr(lastStart, bytes.size() - 1 - lastStart);
    unsigned long count = 0, crc = 0;
    char tail = 0;
    if (last.compare(0, EndWord.size(), EndWord) != 0 ||
        std::sscanf(last.c_str() + EndWord.size(), "%lu %lx%c", &count, &crc, &tail) != 2 ||
        Crc32(std::string_view(bytes).substr(0, lastStart)) != crc)
        return TRead::Bad;
    std::string_view body = std::string_view(bytes).substr(Magic.size(), lastStart - Magic.size());
    while (!body.empty()) {
        const size_t end = body.find('\n');
        const std::string_view line = body.substr(0, end);
        body.remove_prefix(end + 1);
        const size_t tab = line.find('\t');
        std::string from, to;
        if (tab == std::string_view::npos || !Unescape(line.substr(0, tab), from) ||
            !Unescape(line.substr(tab + 1), to))
            return TRead::Bad;
        // Only names at or below the journal's folder (or whole paths without steps up).
        for (const std::string *p : {&from, &to})
            for (const auto &part : std::filesystem::path(*p))
                if (part == "..")
                    return TRead::Bad;
        const std::string base = folder.empty() ? std::string(".") : folder;
        // No temporary file: the target is removed.
        const bool removal = from.empty();
        if (!from.empty() && from[0] != '/')
            from = base + "/" + from;
        if (!to.empty() && to[0] != '/')
            to = base + "/" + to;
        if (removal ? !SafeTarget(to) : !SafeRename(from, to))
            return TRead::Bad;
        journal.renames.emplace_back(std::move(from), std::move(to));
    }
    return journal.renames.size() == count ? TRead::Ok : TRead::Bad;
}

// A name as the journal in `folder` keeps it: relative inside the folder.
std::string JournalName(const std::string &folder, const std::string &path)
{
    const std::string prefix = folder == "/" ? folder : folder + "/";
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

// The folders whose journal may name a file of the absolute `folder`: the
// folder itself and the two above it.
std::vector<std::string> JournalPlaces(std::string folder)
{
    std::vector<std::string> places;
    for (int up = 0; up < 3; ++up) {
        places.push_back(folder);
        if (folder == "/")
            break;
        folder = FolderOfPath(folder);
    }
    return places;
}

// Flushes the folder itself, so the renames in it survive a crash.
void SyncFolder(const std::string &folder)
{
    SyncFolderOf(folder + "/.");
}

void Step(int &step)
{
    if (g_stepHook)
        g_stepHook(step);
    ++step;
}

} // namespace

void SetCommitStepHook(void (*hook)(int step))
{
    g_stepHook = hook;
}

TFileCommit::~TFileCommit()
{
    if (!committed_)
        Discard();
}

void TFileCommit::Add(const std::string &tmpName, const std::string &target)
{
    TRename r{Absolute(tmpName), Absolute(target)};
    for (TRename &old : renames_)
        if (old.to == r.to) {
            DiscardTempFile(old.from);
            old.from = r.from;
            Step(step_);
            return;
        }
    renames_.push_back(std::move(r));
    Step(step_);
}

void TFileCommit::Remove(const std::string &target)
{
    TRename r{std::string(), Absolute(target)};
    for (TRename &old : renames_)
        if (old.to == r.to) {
            DiscardTempFile(old.from);
            old.from.clear();
            return;
        }
    renames_.push_back(std::move(r));
}

bool TFileCommit::AddBytes(const std::string &target, std::string_view bytes, std::string &error)
{
    std::string tmp;
    if (!WriteTempFileBeside(target, bytes, tmp, error))
        return false;
    Add(tmp, target);
    return true;
}

void TFileCommit::Discard()
{
    for (const TRename &r : renames_)
        DiscardTempFile(r.from);
    renames_.clear();
}

namespace {

// FinishFileCommits for `folder` and the two folders above it, skipping those
// already in `done` and adding the rest to it: the folders of one change share
// most of the places a journal can lie, and each place is looked at once.
bool FinishFileCommitsFrom(const std::string &folder, std::set<std::string> &done, std::string &error)
{
    for (const std::string &place : JournalPlaces(folder))
        if (done.insert(place).second && !FinishFileCommits(place, error))
            return false;
    return true;
}

} // namespace

bool TFileCommit::Commit(std::string &error)
{
    committed_ = false;
    if (renames_.empty())
        return true;
    auto fail = [&](const std::string &text) {
        error = text;
        Discard();
        return false;
    };
    // The journal lies in the folder that holds every file of the change, at
    // most two folders down (a catalogue's tables lie in its folder and its
    // "CdNames"; a move may join two catalogues of sibling folders), where a
    // look at a file's folder and the two above it finds it.
    std::set<std::string> folders;
    for (const TRename &r : renames_)
        folders.insert(FolderOfPath(r.to));
    std::string folder = *folders.begin();
    for (const std::string &f : folders)
        while (!(f == folder || f.compare(0, folder.size() + 1, folder + "/") == 0 || folder == "/"))
            folder = FolderOfPath(folder);
    for (const TRename &r : renames_) {
        const std::string f = FolderOfPath(r.to);
        if (f != folder && FolderOfPath(f) != folder && FolderOfPath(FolderOfPath(f)) != folder)
            return fail(r.to + ": the files of one change must lie in one folder or at most two folders below it");
    }
    // A change left unfinished around these folders goes first: it was made before this one.
    // (The folders are absolute already: Add made the targets so.)
    std::set<std::string> finished;
    for (const std::string &f : folders) {
        std::string reason;
        if (!FinishFileCommitsFrom(f, finished, reason))
            return fail(reason);
    }
    folders.insert(folder);
    // A target that is not a file (a folder in its place) would fail its rename
    // after the commit point: it is refused while nothing is changed yet.
    for (const TRename &r : renames_) {
        struct stat st;
        if (::lstat(r.to.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return fail(r.to + ": " + std::strerror(EISDIR));
    }
    // The temporary files' names are on the disk before the journal that
    // names them: after a power cut a named file that is missing is taken for
    // one renamed already, which would leave its target old beside new ones.
    for (const std::string &f : folders)
        SyncFolder(f);
    std::string text(Magic);
    for (const TRename &r : renames_)
        text += (r.from.empty() ? std::string() : Escape(JournalName(folder, r.from))) + "\t" +
                Escape(JournalName(folder, r.to)) + "\n";
    char end[64];
    std::snprintf(end, sizeof end, "%s%zu %08lx\n", std::string(EndWord).c_str(), renames_.size(),
                  static_cast<unsigned long>(Crc32(text)));
    text += end;
    const std::string journal = JournalIn(folder);
    Step(step_);
    std::string reason;
    if (!WriteFileAtomically(journal, text, reason))
        return fail(journal + ": " + reason);
    // The change is made: from here on it is completed, now or at the next open.
    committed_ = true;
    // A rename that fails does not stop the others: what reads a file before
    // the next open (the tree file, when the window is built again) finds as
    // much of the change as can be in place.
    std::string failed;
    for (const TRename &r : renames_) {
        Step(step_);
        if (r.from.empty()) {
            if (::unlink(r.to.c_str()) != 0 && errno != ENOENT && failed.empty())
                failed = r.to + ": " + std::strerror(errno);
            continue;
        }
        if (const int err = RenameFile(r.from, r.to)) {
            struct stat st;
            // Finished already by another copy of the program that opened the folder.
            if (err == ENOENT && ::lstat(r.from.c_str(), &st) != 0)
                continue;
            if (failed.empty())
                failed = r.to + ": " + std::strerror(err);
        }
    }
    for (const std::string &f : folders)
        SyncFolder(f);
    if (!failed.empty()) {
        error = failed + ". The change is recorded in " + journal + " and is completed when the catalogue is opened next.";
        // Its files are the journal's now: a later Discard or failed Commit of
        // this object must never remove them.
        renames_.clear();
        return false;
    }
    Step(step_);
    ::unlink(journal.c_str());
    SyncFolderOf(journal);
    renames_.clear();
    return true;
}

bool FinishFileCommits(const std::string &folder, std::string &error)
{
    const std::string journalPath = JournalIn(folder);
    // A journal cut off while it was written never made its change.
    RemoveStaleTempFiles(journalPath);
    TJournal journal;
    std::string reason;
    switch (ReadJournal(folder, journal, &reason)) {
    case TRead::Missing:
        return true;
    case TRead::Unreadable:
        error = reason + " (a change recorded there cannot be finished)";
        return false;
    case TRead::Bad: {
        // Never written by a commit (those are whole): kept for the user to look at.
        const int err = RenameFile(journalPath, journalPath + ".damaged");
        if (err != 0 && err != ENOENT) {
            error = journalPath + ": " + std::strerror(err);
            return false;
        }
        SyncFolderOf(journalPath);
        return true;
    }
    case TRead::Ok:
        break;
    }
    std::set<std::string> folders{folder.empty() ? std::string(".") : folder};
    for (const auto &[from, to] : journal.renames) {
        struct stat st;
        if (from.empty()) {
            // Removed before the stop, or now.
            if (::unlink(to.c_str()) != 0 && errno != ENOENT) {
                error = to + ": " + std::strerror(errno) + " (finishing the change recorded in " + journalPath + ")";
                return false;
            }
            folders.insert(FolderOfPath(to));
            continue;
        }
        if (::lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue; // renamed before the stop
        if (const int err = RenameFile(from, to)) {
            if (err == ENOENT)
                continue;
            error = to + ": " + std::strerror(err) + " (finishing the change recorded in " + journalPath + ")";
            return false;
        }
        folders.insert(FolderOfPath(to));
    }
    for (const std::string &f : folders)
        SyncFolder(f);
    if (::unlink(journalPath.c_str()) != 0 && errno != ENOENT) {
        error = journalPath + ": " + std::strerror(errno);
        return false;
    }
    SyncFolderOf(journalPath);
    return true;
}

bool FinishFileCommitsFor(const std::string &file, std::string &error)
{
    std::set<std::string> finished;
    return FinishFileCommitsFrom(FolderOfPath(Absolute(file)), finished, error);
}

std::vector<std::string> JournalTemporaries(const std::string &folder, bool &unreadable)
{
    unreadable = false;
    std::vector<std::string> names;
    // "/data/." reads as "/data/", "//." as "/".
    const std::string here = Absolute(folder + "/.");
    if (here.empty() || here[0] != '/') {
        unreadable = true; // the working folder is gone: where the journals lie is not known
        return names;
    }
    for (const std::string &place : JournalPlaces(FolderOfPath(here))) {
        TJournal journal;
        switch (ReadJournal(place, journal)) {
        case TRead::Missing:
            break;
        case TRead::Unreadable:
        case TRead::Bad:
            unreadable = true;
            return {};
        case TRead::Ok:
            for (const auto &r : journal.renames)
                names.push_back(r.first);
            break;
        }
    }
    return names;
}
