#include "util/FileCommit.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

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
// The folder of a catalogue's disc table and tree file.
constexpr std::string_view DiscFolder = "CdNames";
// A damaged journal is put aside under the first of these names not taken.
constexpr int MaxPutAside = 1000;

uint32_t Crc32(std::string_view bytes)
{
    return ::Crc32(0, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

std::string Absolute(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec);
    std::string s = ec ? path : p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

std::string JournalIn(const std::string &folder)
{
    return (folder.empty() ? std::string(".") : folder) + "/" + std::string(CommitJournalName);
}

bool EndsWith(std::string_view s, std::string_view end)
{
    return s.size() > end.size() && s.substr(s.size() - end.size()) == end;
}

// A name (no folder) of a file a commit may change: in the catalogue's folder
// a table or its backup, in its CdNames a disc table, its backup or a tree file.
bool CatalogFileName(std::string_view name, bool inDiscFolder)
{
    if (name.empty() || name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return false;
    if (!inDiscFolder)
        return EndsWith(name, ".d") || EndsWith(name, ".~d");
    return EndsWith(name, "_cdname.d") || EndsWith(name, "_cdname.~d") || EndsWith(name, "_cdname.dat");
}

// Splits a name relative to the catalogue folder ("Name.d", "CdNames/Name_cdname.d")
// into whether it lies in CdNames and its last part; false for any other shape
// (a whole path, a step out, another folder).
bool SplitRelative(std::string_view rel, bool &inDiscFolder, std::string_view &name)
{
    inDiscFolder = false;
    name = rel;
    const size_t slash = rel.find('/');
    if (slash != std::string_view::npos) {
        if (rel.substr(0, slash) != DiscFolder)
            return false;
        inDiscFolder = true;
        name = rel.substr(slash + 1);
    }
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// Whether the journal line `from` -> `to` (relative, `from` empty for a
// removal) is one a commit of the program writes: a catalogue file as the
// target, and the temporary file of a catalogue file of the same folder.
// A journal that lies in CdNames itself (`inDiscJournal`) names only the files
// of that folder, without a folder.
bool CommitLine(const std::string &from, const std::string &to, bool inDiscJournal = false)
{
    bool toInDisc = false, fromInDisc = false;
    std::string_view toName, fromName;
    if (to.size() > MaxPathBytes || !SplitRelative(to, toInDisc, toName) || (inDiscJournal && toInDisc) ||
        !CatalogFileName(toName, toInDisc || inDiscJournal))
        return false;
    if (from.empty())
        return true;
    if (from.size() > MaxPathBytes || !SplitRelative(from, fromInDisc, fromName) || fromInDisc != toInDisc)
        return false;
    return CatalogFileName(TempFileTarget(fromName), fromInDisc || inDiscJournal);
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

struct TJournal {
    std::vector<std::pair<std::string, std::string>> renames; // full paths; `first` empty: a removal
};

// Missing: no journal. Unreadable: one that cannot be read now (no access, a
// disc error); it may well be whole, so nothing of it is touched. Bad: one
// that does not read whole. Foreign: a whole one that names what no commit of
// the program changes. NotAFile: something else has the journal's name.
enum class TRead { Missing, Unreadable, Bad, Foreign, NotAFile, Ok };

// Reads and checks the journal of `folder`; `reason` says why it is
// Unreadable, or what a Foreign one names that it may not.
// `folder` is a catalogue folder, or (`inDiscJournal`) the CdNames folder of one,
// where earlier versions kept the journal of a change of that folder's files only.
TRead ReadJournal(const std::string &folder, TJournal &journal, std::string *reason = nullptr,
                  bool inDiscJournal = false)
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
    if (!S_ISREG(st.st_mode))
        return TRead::NotAFile;
    if (st.st_size < 0 || size_t(st.st_size) > MaxJournalBytes)
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
    std::string foreign;
    bool discFolder = false;
    size_t lines = 0;
    std::string_view body = std::string_view(bytes).substr(Magic.size(), lastStart - Magic.size());
    while (!body.empty()) {
        const size_t end = body.find('\n');
        const std::string_view line = body.substr(0, end);
        body.remove_prefix(end + 1);
        const size_t tab = line.find('\t');
        ++lines;
        std::string from, to;
        if (tab == std::string_view::npos || !Unescape(line.substr(0, tab), from) ||
            !Unescape(line.substr(tab + 1), to))
            return TRead::Bad;
        if (!CommitLine(from, to, inDiscJournal)) {
            if (foreign.empty())
                foreign = (from.empty() ? std::string() : from + " -> ") + to;
            continue;
        }
        discFolder = discFolder || to.find('/') != std::string::npos;
        const std::string base = folder.empty() ? std::string(".") : folder;
        journal.renames.emplace_back(from.empty() ? std::string() : base + "/" + from, base + "/" + to);
    }
    if (lines != count)
        return TRead::Bad;
    // Its names in CdNames reach only that folder, never another one through a link.
    if (foreign.empty() && (discFolder || inDiscJournal)) {
        const std::string base = folder.empty() ? std::string(".") : folder;
        const std::string disc = inDiscJournal ? base : base + "/" + std::string(DiscFolder);
        if (::lstat(disc.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                foreign = disc;
        } else if (errno != ENOENT && errno != ENOTDIR) {
            return unreadable(errno);
        }
    }
    if (!foreign.empty()) {
        journal.renames.clear();
        if (reason)
            *reason = foreign;
        return TRead::Foreign;
    }
    return TRead::Ok;
}

// The catalogue folder of the absolute `file`'s folder: the folder itself, or
// the one above a CdNames.
std::string CatalogFolderOf(const std::string &folder)
{
    return FileNameOfPath(folder) == DiscFolder ? FolderOfPath(folder) : folder;
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

// rename(2) that never replaces: 0, or the errno value (EEXIST when `to` is taken).
int RenameNoReplace(const std::string &from, const std::string &to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without that kind of rename: a new link does not replace either.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

enum class TFinish { Done, Blocked, Failed };

// FinishFileCommits, telling a journal left alone (Blocked) from one finished or
// put aside: a commit must not write its own journal over the first.
TFinish FinishIn(const std::string &folder, std::string &error, std::vector<TCommitNotice> *notices,
                 bool inDiscJournal = false)
{
    const std::string journalPath = JournalIn(folder);
    auto notice = [&](TCommitNotice::TKind kind, const std::string &detail) {
        if (notices)
            notices->push_back(TCommitNotice{kind, journalPath, detail});
    };
    // A journal cut off while it was written never made its change.
    RemoveStaleTempFiles(journalPath);
    TJournal journal;
    std::string reason;
    switch (ReadJournal(folder, journal, &reason, inDiscJournal)) {
    case TRead::Missing:
        return TFinish::Done;
    case TRead::Unreadable:
        error = reason + " (a change recorded there cannot be finished)";
        return TFinish::Failed;
    case TRead::NotAFile:
        notice(TCommitNotice::TKind::NotAFile, std::string());
        return TFinish::Blocked;
    case TRead::Foreign:
        notice(TCommitNotice::TKind::Foreign, reason);
        return TFinish::Blocked;
    case TRead::Bad: {
        // Never written by a commit (those are whole): kept for the user to
        // look at, beside those put aside before.
        for (int i = 1; i <= MaxPutAside; ++i) {
            const std::string keep = journalPath + ".damaged" + (i == 1 ? std::string() : "-" + std::to_string(i));
            const int err = RenameNoReplace(journalPath, keep);
            if (err == EEXIST || err == ENOTEMPTY)
                continue;
            if (err == ENOENT)
                return TFinish::Done; // gone meanwhile
            if (err != 0) {
                error = journalPath + ": " + std::strerror(err) + " (a damaged commit journal cannot be put aside)";
                return TFinish::Failed;
            }
            SyncFolderOf(journalPath);
            notice(TCommitNotice::TKind::PutAside, keep);
            return TFinish::Done;
        }
        error = journalPath + ": a damaged commit journal cannot be put aside: every name for it is taken";
        return TFinish::Failed;
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
                return TFinish::Failed;
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
            return TFinish::Failed;
        }
        folders.insert(FolderOfPath(to));
    }
    for (const std::string &f : folders)
        SyncFolder(f);
    if (::unlink(journalPath.c_str()) != 0 && errno != ENOENT) {
        error = journalPath + ": " + std::strerror(errno);
        return TFinish::Failed;
    }
    SyncFolderOf(journalPath);
    return TFinish::Done;
}

// The CdNames of the catalogue folder `folder` when it is a real folder (not a
// link to one), else empty: the only one whose files a commit may change, and
// where earlier versions kept the journal of a change of its files only.
std::string RealDiscFolder(const std::string &folder)
{
    const std::string disc = folder + "/" + std::string(DiscFolder);
    struct stat st;
    return ::lstat(disc.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? disc : std::string();
}

// FinishIn for the catalogue folder `folder`: first a journal an earlier version
// left in its CdNames (it was written before any journal of the folder can be,
// as each commit finished the journals around it first), then the folder's own.
// Only the folder's own journal can block a commit: no commit writes in CdNames.
TFinish FinishCatalogFolder(const std::string &folder, std::string &error, std::vector<TCommitNotice> *notices)
{
    const std::string disc = RealDiscFolder(folder.empty() ? std::string(".") : folder);
    if (!disc.empty() && FinishIn(disc, error, notices, true) == TFinish::Failed)
        return TFinish::Failed;
    return FinishIn(folder, error, notices);
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

bool TFileCommit::AddBytes(const std::string &target, std::string_view bytes, std::string &error)
{
    std::string tmp;
    if (!WriteTempFileBeside(target, bytes, tmp, error))
        return false;
    Add(tmp, target);
    return true;
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

void TFileCommit::Discard()
{
    for (const TRename &r : renames_)
        DiscardTempFile(r.from);
    renames_.clear();
}

bool TFileCommit::Commit(std::string &error)
{
    committed_ = false;
    notices_.clear();
    if (renames_.empty())
        return true;
    auto fail = [&](const std::string &text) {
        error = text;
        Discard();
        return false;
    };
    // Every file is one of a catalogue of one folder, where the journal goes
    // and where the open looks for it; the journal names them relative to it.
    // (The names are absolute already: Add made them so.)
    std::string folder;
    bool discFolder = false;
    std::vector<std::pair<std::string, std::string>> lines;
    for (const TRename &r : renames_) {
        const std::string parent = FolderOfPath(r.to);
        const std::string name = FileNameOfPath(r.to);
        const bool inDisc = FileNameOfPath(parent) == DiscFolder && CatalogFileName(name, true);
        const std::string here = inDisc ? FolderOfPath(parent) : parent;
        // (A folder named CdNames is never a journal's: the open looks above it.)
        if (!inDisc && (!CatalogFileName(name, false) || FileNameOfPath(parent) == DiscFolder))
            return fail(r.to + ": not a file of a catalogue (a table, its backup or a tree file); nothing was changed");
        if (folder.empty())
            folder = here;
        else if (here != folder)
            return fail(r.to + ": the files of one change must belong to catalogues of one folder (" + folder +
                        "); nothing was changed");
        const std::string prefix = inDisc ? std::string(DiscFolder) + "/" : std::string();
        std::string from;
        if (!r.from.empty()) {
            if (FolderOfPath(r.from) != parent)
                return fail(r.from + ": not beside " + r.to + "; nothing was changed");
            from = prefix + FileNameOfPath(r.from);
        }
        lines.emplace_back(std::move(from), prefix + name);
        if (!CommitLine(lines.back().first, lines.back().second))
            return fail(r.from + ": not a temporary file of a catalogue file; nothing was changed");
        discFolder = discFolder || inDisc;
    }
    const std::string disc = folder + "/" + std::string(DiscFolder);
    if (discFolder && RealDiscFolder(folder).empty())
        return fail(disc + ": not a folder (a link to one is not followed by a change); nothing was changed");
    // A change left unfinished in this folder goes first: it was made before this one.
    std::string reason;
    switch (FinishCatalogFolder(folder, reason, &notices_)) {
    case TFinish::Done:
        break;
    case TFinish::Failed:
        return fail(reason);
    case TFinish::Blocked:
        return fail(JournalIn(folder) +
                    ": a commit journal that the program did not write, or something that is not a file, has its "
                    "name. It is left as it is, and nothing was changed; changes to the catalogues of this folder "
                    "cannot be saved until it is moved away.");
    }
    // A target that is not a file (a folder in its place) would fail its rename
    // after the commit point: it is refused while nothing is changed yet.
    struct stat st;
    for (const TRename &r : renames_) {
        if (::lstat(r.to.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return fail(r.to + ": " + std::strerror(EISDIR));
    }
    std::set<std::string> folders{folder};
    if (discFolder)
        folders.insert(disc);
    // The temporary files' names are on the disk before the journal that
    // names them: after a power cut a named file that is missing is taken for
    // one renamed already, which would leave its target old beside new ones.
    for (const std::string &f : folders)
        SyncFolder(f);
    std::string text(Magic);
    for (const auto &[from, to] : lines)
        text += Escape(from) + "\t" + Escape(to) + "\n";
    char end[64];
    std::snprintf(end, sizeof end, "%s%zu %08lx\n", std::string(EndWord).c_str(), lines.size(),
                  static_cast<unsigned long>(Crc32(text)));
    text += end;
    const std::string journal = JournalIn(folder);
    Step(step_);
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

bool FinishFileCommits(const std::string &folder, std::string &error, std::vector<TCommitNotice> *notices)
{
    return FinishCatalogFolder(folder, error, notices) != TFinish::Failed;
}

bool FinishFileCommitsFor(const std::string &file, std::string &error, std::vector<TCommitNotice> *notices)
{
    return FinishFileCommits(CatalogFolderOf(FolderOfPath(Absolute(file))), error, notices);
}

std::vector<std::string> JournalTemporaries(const std::string &folder, bool &unreadable)
{
    unreadable = false;
    std::vector<std::string> names;
    const std::string here = Absolute(folder.empty() ? std::string(".") : folder);
    if (here.empty() || here[0] != '/') {
        unreadable = true; // the working folder is gone: where the journal lies is not known
        return names;
    }
    // A file of CdNames may also be named by a journal an earlier version left there.
    const std::string catalogFolder = CatalogFolderOf(here);
    for (const bool inDisc : {false, true}) {
        const std::string place = inDisc ? (catalogFolder == here ? std::string() : RealDiscFolder(catalogFolder))
                                         : catalogFolder;
        if (place.empty())
            continue;
        TJournal journal;
        switch (ReadJournal(place, journal, nullptr, inDisc)) {
        case TRead::Missing:
            break;
        case TRead::Ok:
            for (const auto &r : journal.renames)
                if (!r.first.empty())
                    names.push_back(r.first);
            break;
        default:
            unreadable = true;
            return {};
        }
    }
    return names;
}

int RemoveStaleCommitTemporaries(const std::string &folder)
{
    int removed = RemoveStaleTempFilesIn(folder, [](std::string_view t) { return CatalogFileName(t, false); });
    const std::string disc = RealDiscFolder(folder);
    if (!disc.empty())
        removed += RemoveStaleTempFilesIn(disc, [](std::string_view t) { return CatalogFileName(t, true); });
    return removed;
}
