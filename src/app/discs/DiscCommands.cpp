#include "app/discs/DiscCommands.h"

#include <algorithm>
#include <filesystem>
#include <unordered_set>

#include "app/LangUnit.h"
#include "app/catalog/CatalogTables.h"
#include "app/Texts3.h"
#include "app/scan/MainScan.h"
#include "platform/QtText.h"
#include "storage/FlatTbl.h"
#include "util/BaseFileUtils.h"

std::string SplitDiscName(const std::string &name, std::string &prefix)
{
    if (name.find('[') == std::string::npos)
        return name;
    prefix = name.substr(0, std::min<size_t>(4, name.size()));
    std::string rest = name.size() > 4 ? name.substr(4) : std::string();
    const size_t close = rest.rfind(']');
    if (close != std::string::npos)
        rest.erase(close);
    return rest;
}

std::string JoinDiscName(const std::string &prefix, const std::string &text)
{
    return prefix + text + "]";
}

std::string CatalogNameFromFile(const std::string &fileName)
{
    const size_t at = fileName.find("_cdname.d");
    return at == std::string::npos ? fileName : fileName.substr(0, at);
}

// ---- tree records

void NormaliseTreeLevels(std::vector<TTreeRecord> &records)
{
    std::vector<int> depths;
    TreeParents(records, &depths);
    for (size_t i = 0; i < records.size() && i < depths.size(); ++i)
        records[i].level = depths[i];
}

int FindDiscNode(const std::vector<TTreeRecord> &records, const std::string &name)
{
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].kind == NodeKindDisc && records[i].text == name)
            return static_cast<int>(i);
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].kind == NodeKindDisc && SameDiscName(records[i].text, name))
            return static_cast<int>(i);
    return -1;
}

void RemoveTreeNode(std::vector<TTreeRecord> &records, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= records.size())
        return;
    NormaliseTreeLevels(records);
    const auto first = static_cast<size_t>(index);
    size_t end = first + 1;
    while (end < records.size() && records[end].level > records[first].level)
        ++end;
    records.erase(records.begin() + static_cast<std::ptrdiff_t>(first), records.begin() + static_cast<std::ptrdiff_t>(end));
}

namespace {

// Shows exactly the records of one disc (or all records) for the life of the
// object, whatever filter the table had; the table's own filter comes back
// afterwards.
class TDiscView {
public:
    TDiscView(TFlatTable &table, const std::string *disc) : saved_(table)
    {
        table.SetFiltered(false);
        table.SetFilter(std::string());
        if (disc) {
            TField *namecd = &table.FieldByName("Namecd");
            const std::string name = *disc;
            table.SetOnFilterRecord([namecd, name](TDataSet *, bool &accept) { accept = namecd->AsString() == name; });
            table.SetFiltered(true);
        }
    }

private:
    TSavedFilter saved_;
};

bool Editing(TDataSet &t)
{
    return t.State() == dsEdit || t.State() == dsInsert;
}

// Makes `commit` for the change of `tables`. Once made, the tables hold what
// the files hold (or will at the next open), so a later change that fails
// takes back only itself. A change committed but not yet in place stands: the
// tables keep it, and ECommitUnfinished tells the user; a commit not made
// changed nothing on the disk and raises EDatabaseError.
void MakeCommit(TFileCommit &commit, const std::vector<TFlatTable *> &tables)
{
    std::string error;
    const bool made = CommitAndReport(commit, error);
    if (!made && !commit.Committed())
        throw EDatabaseError(error);
    for (TFlatTable *t : tables)
        t->CommitChanges();
    if (!made)
        throw ECommitUnfinished(error);
}

// The changes of one command. Every table taking part gets a fresh rollback
// point; saved tables and tree files go into one commit, made by Done.
class TCatalogChange {
public:
    void Begin(TFlatTable &t)
    {
        if (Editing(t))
            t.Post();
        t.CommitChanges();
        tables_.push_back(&t);
    }

    void Save(TFlatTable &t)
    {
        if (t.ChangeCount() == 0 && !Editing(t))
            return;
        t.Commit = &commit_;
        try {
            t.Flush();
        } catch (...) {
            t.Commit = nullptr;
            throw;
        }
        t.Commit = nullptr;
    }

    void WriteTree(const std::string &file, const std::vector<TTreeRecord> &records)
    {
        AddTreeTo(commit_, file, records);
    }

    // Makes the commit (see MakeCommit).
    void Done() { MakeCommit(commit_, tables_); }

    // Puts the tables in memory back and drops the files written for the
    // commit; answers what could not be put back.
    std::string Undo() noexcept
    {
        std::string problems;
        auto note = [&](const std::string &what) {
            problems += (problems.empty() ? "" : "\n") + what;
        };
        for (TFlatTable *t : tables_) {
            try {
                t->Commit = nullptr;
                if (Editing(*t))
                    t->Cancel();
                t->CancelChanges();
            } catch (const std::exception &e) {
                note(e.what());
            }
        }
        commit_.Discard();
        return problems;
    }

    static void AddTreeTo(TFileCommit &commit, const std::string &file, const std::vector<TTreeRecord> &records)
    {
        std::string error;
        if (!commit.AddBytes(file, EncodeTreeStream(records), error))
            throw EDatabaseError("Cannot write the tree file " + file + ": " + error);
    }

private:
    std::vector<TFlatTable *> tables_;
    TFileCommit commit_;
};

[[noreturn]] void Fail(TCatalogChange &change, const std::exception &e)
{
    // A committed change stands whatever is still to be put in place.
    if (dynamic_cast<const ECommitUnfinished *>(&e))
        throw ECommitUnfinished(e.what());
    const std::string problems = change.Undo();
    std::string text = e.what();
    if (!problems.empty())
        text += "\n" + problems;
    throw EDatabaseError(text);
}

bool LocateDisc(TFlatTable &discs, const std::string &name)
{
    return discs.Locate("CdName", TVariant(name), TLocateOptions{loCaseInsensitive});
}

// The tree file's records when the file exists and reads; false otherwise
// (a damaged file is the tree loader's to report).
bool ReadTree(const std::string &file, std::vector<TTreeRecord> &records)
{
    std::error_code ec;
    if (file.empty() || !std::filesystem::exists(file, ec))
        return false;
    if (!ReadTreeFile(file, records))
        return false;
    NormaliseTreeLevels(records);
    return true;
}

// Deletes every record of the view's disc, from the last: the view shrinks
// from its end.
void DeleteAllShown(TFlatTable &t)
{
    t.Last();
    while (!t.IsEmpty())
        t.Delete();
}

} // namespace

bool DeleteDiscEverywhere(const TDiscCatalog &catalog, const std::string &name)
{
    TFlatTable &files = *catalog.files;
    TFlatTable &discs = *catalog.discs;
    TCatalogChange change;
    change.Begin(files);
    change.Begin(discs);
    try {
        // The record found may differ from `name` in letter case; its own name
        // is the one its files carry. Without a record (a tree file older than
        // the tables) the files and the node still go by the name given.
        bool found = false;
        std::string stored = name;
        if (LocateDisc(discs, name)) {
            stored = discs.FieldByName("CdName").AsString();
            discs.Delete();
            found = true;
        }
        for (const std::string *disc : std::initializer_list<const std::string *>{&stored, &name}) {
            TDiscView view(files, disc);
            found = found || !files.IsEmpty();
            DeleteAllShown(files);
            if (stored == name)
                break;
        }
        std::vector<TTreeRecord> tree;
        bool treeChanged = false;
        if (ReadTree(catalog.treeFile, tree)) {
            int node = FindDiscNode(tree, stored);
            if (node < 0)
                node = FindDiscNode(tree, name);
            if (node >= 0) {
                RemoveTreeNode(tree, node);
                treeChanged = found = true;
            }
        }
        if (!found)
            return false; // nothing of that name anywhere: nothing changed
        change.Save(files);
        change.Save(discs);
        if (treeChanged)
            change.WriteTree(catalog.treeFile, tree);
        change.Done();
    } catch (const std::exception &e) {
        Fail(change, e);
    }
    return true;
}

bool RenameDiscEverywhere(const TDiscCatalog &catalog, const std::string &oldName, const std::string &newName)
{
    TFlatTable &files = *catalog.files;
    TFlatTable &discs = *catalog.discs;
    if (!LocateDisc(discs, oldName))
        return false;
    TCatalogChange change;
    change.Begin(files);
    change.Begin(discs);
    try {
        // The record found may differ from oldName in letter case; its own
        // name is the one its files carry.
        if (!LocateDisc(discs, oldName))
            return false;
        const std::string stored = discs.FieldByName("CdName").AsString();
        discs.Edit();
        discs.FieldByName("CdName").SetAsString(newName);
        discs.Post();
        {
            TDiscView view(files, nullptr);
            TField &namecd = files.FieldByName("Namecd");
            files.DisableControls();
            try {
                for (files.First(); !files.Eof(); files.Next()) {
                    const std::string n = namecd.AsString();
                    if (n == stored || n == oldName) {
                        files.Edit();
                        namecd.SetAsString(newName);
                        files.Post();
                    }
                }
            } catch (...) {
                files.EnableControls();
                throw;
            }
            files.EnableControls();
        }
        change.Save(files);
        change.Save(discs);
        std::vector<TTreeRecord> tree;
        if (ReadTree(catalog.treeFile, tree)) {
            int node = FindDiscNode(tree, stored);
            if (node < 0)
                node = FindDiscNode(tree, oldName);
            if (node >= 0) {
                tree[static_cast<size_t>(node)].text = newName;
                change.WriteTree(catalog.treeFile, tree);
            }
        }
        change.Done();
    } catch (const std::exception &e) {
        Fail(change, e);
    }
    return true;
}

std::vector<std::string> DiscTableNames(TFlatTable &discs)
{
    std::vector<std::string> names;
    TDiscView view(discs, nullptr);
    TField &name = discs.FieldByName("CdName");
    for (discs.First(); !discs.Eof(); discs.Next())
        names.push_back(name.AsString());
    return names;
}

std::string NextFreeNumberIn(const TDiscCatalog &catalog)
{
    // Each number once, in the order first met: the answer is the same as
    // over every record, without a pass over every record per step.
    std::vector<std::string> numbers;
    std::unordered_set<std::string> seen;
    for (TFlatTable *t : {catalog.files, catalog.discs}) {
        TDiscView view(*t, nullptr);
        TField &number = t->FieldByName("Number");
        for (t->First(); !t->Eof(); t->Next()) {
            std::string n = number.AsString();
            if (seen.insert(n).second)
                numbers.push_back(std::move(n));
        }
    }
    return NextFreeCdNumber(numbers);
}

namespace {

// Pairs of same-named fields of two tables, without the ones in `skip`.
std::vector<std::pair<TField *, TField *>> FieldPairs(TFlatTable &from, TFlatTable &to,
                                                      const std::vector<std::string> &skip)
{
    std::vector<std::pair<TField *, TField *>> pairs;
    for (int i = 0; i < from.FieldCount(); ++i) {
        TField &f = from.Fields(i);
        if (f.Calculated())
            continue;
        // A skipped name is matched the way the table itself finds its fields.
        const auto isField = [&](const std::string &name) { return from.FindField(name) == &f; };
        if (std::any_of(skip.begin(), skip.end(), isField))
            continue;
        if (TField *g = to.FindField(f.FieldName()))
            pairs.emplace_back(&f, g);
    }
    return pairs;
}

bool SameFile(const std::string &a, const std::string &b)
{
    std::error_code ec;
    if (a == b)
        return true;
    const bool same = std::filesystem::equivalent(a, b, ec);
    return !ec && same;
}

} // namespace

TMoveOutcome MoveDiscBetween(const TDiscCatalog &source, const TDiscCatalog &target, const std::string &name)
{
    TMoveOutcome out;
    if (SameFile(source.files->FullFileName(), target.files->FullFileName()) ||
        SameFile(source.discs->FullFileName(), target.discs->FullFileName()))
        return out;
    if (!LocateDisc(*source.discs, name)) {
        out.missing = true;
        return out;
    }
    const std::string stored = source.discs->FieldByName("CdName").AsString();
    out.newNumber = NextFreeNumberIn(target);
    out.newName = MakeUniqueCdName(stored, DiscTableNames(*target.discs));

    TCatalogChange change;
    for (TFlatTable *t : {target.files, target.discs, source.files, source.discs})
        change.Begin(*t);
    try {
        // The target first, saved whole.
        {
            TDiscView view(*source.files, &stored);
            const auto pairs = FieldPairs(*source.files, *target.files, {"Namecd", "Number"});
            TField &namecd = target.files->FieldByName("Namecd");
            TField &number = target.files->FieldByName("Number");
            target.files->DisableControls();
            try {
                for (source.files->First(); !source.files->Eof(); source.files->Next()) {
                    target.files->Append();
                    for (const auto &[from, to] : pairs)
                        to->SetValue(from->Value());
                    namecd.SetAsString(out.newName);
                    number.SetAsString(out.newNumber);
                    target.files->Post();
                }
            } catch (...) {
                target.files->EnableControls();
                throw;
            }
            target.files->EnableControls();
        }
        if (!LocateDisc(*source.discs, stored))
            DatabaseError("Record not found: " + stored);
        {
            const auto pairs = FieldPairs(*source.discs, *target.discs, {"CdName", "Number"});
            target.discs->Append();
            for (const auto &[from, to] : pairs)
                to->SetValue(from->Value());
            target.discs->FieldByName("CdName").SetAsString(out.newName);
            target.discs->FieldByName("Number").SetAsString(out.newNumber);
            target.discs->Post();
        }
        change.Save(*target.files);
        change.Save(*target.discs);
        std::vector<TTreeRecord> tree;
        if (ReadTree(target.treeFile, tree)) {
            tree.push_back(TTreeRecord{0, out.newName, 0, 1, NodeKindDisc});
            change.WriteTree(target.treeFile, tree);
        }

        // Only now does the disc leave the source.
        if (!LocateDisc(*source.discs, stored))
            DatabaseError("Record not found: " + stored);
        source.discs->Delete();
        {
            TDiscView view(*source.files, &stored);
            DeleteAllShown(*source.files);
        }
        change.Save(*source.files);
        change.Save(*source.discs);
        tree.clear();
        if (ReadTree(source.treeFile, tree)) {
            const int node = FindDiscNode(tree, stored);
            if (node >= 0) {
                RemoveTreeNode(tree, node);
                change.WriteTree(source.treeFile, tree);
            }
        }
        change.Done();
    } catch (const std::exception &e) {
        Fail(change, e);
    }
    out.moved = true;
    return out;
}

// ---- one commit for the tables of a change

TTableCommit::TTableCommit(std::vector<TFlatTable *> tables) : tables_(std::move(tables))
{
    for (TFlatTable *t : tables_)
        t->Commit = &commit_;
}

TTableCommit::~TTableCommit()
{
    for (TFlatTable *t : tables_)
        t->Commit = nullptr;
}

void TTableCommit::AddTree(const std::string &file, const std::vector<TTreeRecord> &records)
{
    TCatalogChange::AddTreeTo(commit_, file, records);
}

void TTableCommit::Commit()
{
    for (TFlatTable *t : tables_)
        t->Commit = nullptr;
    MakeCommit(commit_, tables_);
}

// ---- messages

std::string DiscNameTooLongText()
{
    return Text3("The CD name is too long: together with its drive it may take at most 50 characters.",
                 "Názov CD je príliš dlhý: spolu s mechanikou môže mať najviac 50 znakov.",
                 "Název CD je příliš dlouhý: spolu s mechanikou může mít nejvýše 50 znaků.");
}

std::string ChooseDiscText()
{
    return Text3("Choose a CD in the tree, please.", "Vyberte, prosím, v strome CD.", "Vyberte, prosím, ve stromu CD.");
}

std::string FileKeptText(const std::string &fileName)
{
    return Text3("The file already exists:", "Súbor už existuje:", "Soubor již existuje:") +
           std::string("\n") + fileName + "\n" +
           Text3("It was left as it was; nothing was copied.", "Zostal, aký bol; nič sa neskopírovalo.",
                 "Zůstal, jaký byl; nic se nezkopírovalo.");
}

std::string AudioTrackCopyText()
{
    return Text3("A track of an audio CD is not a file: it can be played (Run), not copied.",
                 "Skladba zvukového CD nie je súbor: dá sa prehrať (Spustiť), nie skopírovať.",
                 "Skladba zvukového CD není soubor: lze ji přehrát (Spustit), ne zkopírovat.");
}

std::string CopyFailedText(const std::string &reason)
{
    return Text3("The file could not be copied:", "Súbor sa nepodarilo skopírovať:",
                 "Soubor se nepodařilo zkopírovat:") +
           std::string("\n") + reason;
}

std::string CopyingText(const std::string &fileName)
{
    return Text3("Copying", "Kopírujem", "Kopíruji") + std::string(" ") + fileName;
}

std::string NotFoundText(const std::string &name)
{
    return Text3("\"", "„", "„") + name +
           Text3("\" was not found in the catalogue. Nothing was changed.",
                 "“ sa v katalógu nenašlo. Nič sa nezmenilo.",
                 "“ nebylo v katalogu nalezeno. Nic se nezměnilo.");
}
