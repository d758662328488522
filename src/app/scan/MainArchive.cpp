// Archive members in the scan: each listed archive adds one record per
// member right after its own, with the archive's path as the member's folder.
#include "app/Main.h"

#include <QApplication>
#include <QDate>
#include <QInputDialog>
#include <QLineEdit>
#include <QDateTime>
#include <QTime>

#include <algorithm>
#include <exception>
#include <fstream>

#include "archive/CabComps.h"
#include "archive/RarLister.h"
#include "archive/ZipLstr.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/VolumeService.h"
#include "storage/ExMemDS.h"

struct TScanReaders {
    TZipLister ZipLister1;
    TRarLister RarLister1;
    TSTCabReader STCabReader1;
};

namespace {

// One member as its reader reported it.
struct TMember {
    std::string name;
    uint64_t size = 0;
    std::string date;
};

std::string Backslashed(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

void AppendMembers(TExMemoryData &scan, const std::string &path, const std::string &discName,
                   const std::string &discNumber, const std::vector<TMember> &members)
{
    if (members.empty())
        return;
    TField &pathField = scan.FieldByName("Path");
    TField &name = scan.FieldByName("Name");
    TField &type = scan.FieldByName("Type");
    TField &size = scan.FieldByName("Size");
    TField &namecd = scan.FieldByName("Namecd");
    TField &number = scan.FieldByName("Number");
    TField &created = scan.FieldByName("CreateDate");
    TField &changed = scan.FieldByName("LastChange");
    TField &ftype = scan.FieldByName("FType");
    for (const TMember &m : members) {
        scan.Append();
        pathField.SetAsString(path);
        name.SetAsString(m.name);
        type.SetAsInteger(1);
        size.SetAsString(std::to_string(m.size));
        namecd.SetAsString(discName);
        number.SetAsString(discNumber);
        created.SetAsString(m.date);
        changed.SetAsString(m.date);
        ftype.SetAsInteger(0);
        scan.Post();
    }
}

void NoteUnreadableArchive(TScanTally &tally, const std::string &path)
{
    ++tally.unreadableArchives;
    tally.Name(path);
}

TDateTime QtToDateTime(const QDateTime &t)
{
    if (!t.isValid())
        return 0.0;
    const qint64 days = t.date().toJulianDay() - QDate(1899, 12, 30).toJulianDay();
    return double(days) + double(t.time().msecsSinceStartOfDay()) / 86400000.0;
}

} // namespace

std::string ZipMemberDateText(double dateTime)
{
    return dateTime == 0.0 ? std::string() : FormatDateTimeExt("ddddd  t", dateTime);
}

std::string ShortDateLongTimeText(double dateTime)
{
    // At most the 20 characters of the date fields, so no part of the time is cut.
    return dateTime == 0.0 ? std::string() : DateTimeToStrFit(dateTime, 20);
}

void BindArchiveReaderHooks()
{
    TZipLister::DriveQuery = [](const std::string &path) {
        ZipDriveInfo info;
        VolumeService &volumes = VolumeService::Current();
        const auto stored = volumes.StoredPath(path);
        if (!stored || stored->empty()) {
            info.Exists = false;
            return info;
        }
        const auto drive = volumes.Drive((*stored)[0]);
        info.Exists = drive.has_value();
        if (drive) {
            info.Removable = drive->type == DRIVE_REMOVABLE;
            info.VolumeLabel = drive->label;
        }
        return info;
    };
    TZipLister::ShowMessageBox = [](const std::string &text) {
        Prompt::Current().Show(ToQString(text), QString(), PromptButtons::Ok, PromptIcon::Error);
    };
    // The zip lister's wait shows the hourglass the program's other waits show.
    TZipLister::BusyCursor = [shown = std::make_shared<std::unique_ptr<HourglassCursor>>()](bool busy) {
        if (busy)
            *shown = std::make_unique<HourglassCursor>();
        else
            shown->reset();
    };
    TZipLister::AskOkCancel = [](const std::string &text) {
        return Prompt::Current().Show(ToQString(text), QString(), PromptButtons::OkCancel, PromptIcon::Question) ==
                       PromptResult::Ok
                   ? 1
                   : 0;
    };
    // The RAR reader's password and next-volume questions: a small input box with
    // the reader's own texts and buttons.
    TRarLister::InputDialog = [](const std::string &caption, bool secret, std::string &text) {
        QInputDialog box(QApplication::activeWindow());
        box.setWindowTitle(ToQString(caption));
        box.setLabelText(QString());
        box.setTextEchoMode(secret ? QLineEdit::Password : QLineEdit::Normal);
        box.setTextValue(ToQString(text));
        box.setOkButtonText(QStringLiteral("Ok"));
        box.setCancelButtonText(QStringLiteral("Abbrechen"));
        if (QLineEdit *edit = box.findChild<QLineEdit *>())
            edit->setMaxLength(120);
        if (box.exec() != QDialog::Accepted)
            return false;
        text = FromQString(box.textValue());
        return true;
    };
}

static TScanReaders &Readers(std::shared_ptr<TScanReaders> &readers)
{
    if (!readers)
        readers = std::make_shared<TScanReaders>();
    return *readers;
}

bool TMainForm::WriteZipFile(const std::string &name, const std::string &folder, const std::string &localFile)
{
    if (localFile.empty())
        return true;
    TZipLister &zip = Readers(ScanReaders).ZipLister1;
    zip.ShowErrMsg = false;
    std::vector<TMember> members;
    bool read = false;
    try {
        zip.SetZipFileName(localFile);
        // The lister keeps nothing of a directory it could not read whole.
        read = zip.DirectoryRead() && zip.ErrCode() == 0;
        for (int i = 0; i < zip.Count(); ++i) {
            const ZipDirEntry &e = zip.ZipContents(i);
            if (e.IsDirectory())
                continue;
            members.push_back({e.FileName, e.UncompressedSize, ZipMemberDateText(DosDateTimeToDateTime(e.DateTime))});
        }
    } catch (const std::exception &) {
        read = false;
    }
    if (!read) {
        members.clear();
        NoteUnreadableArchive(ScanSession.Tally, folder + name);
    }
    zip.SetZipFileName(std::string()); // let go of the listing
    AppendMembers(*ExMemoryData1, folder + name + "\\", Scan.DiscName, Scan.DiscNumber, members);
    return read;
}

bool TMainForm::WriteRarFile(const std::string &name, const std::string &folder, const std::string &localFile)
{
    if (localFile.empty())
        return true;
    TRarLister &rar = Readers(ScanReaders).RarLister1;
    std::vector<TMember> members;
    rar.FileName = localFile;
    rar.SetMode(DFRAR_LIST);
    rar.CanProgress = false;
    rar.OverrideEvent = OR_EVENT;
    rar.StopProcessing = false;
    rar.FileList.clear();
    // Each member is kept as the reader reports it: an error after it (a
    // comment that cannot be decoded, a damaged tail) ends the listing but
    // takes nothing back.
    rar.OnFileProcessing = [&members](TRarLister *sender, const TDFRARHeaderData &h, int) {
        sender->FileList.push_back(sender->Directory + "\\" + h.FileName);
        members.push_back({Backslashed(h.FileName), h.UnpackedSize, ShortDateLongTimeText(QtToDateTime(h.FileTime))});
    };
    bool read = true;
    try {
        rar.Extract();
        read = !rar.HeaderUnreadable();
    } catch (const std::exception &) {
        read = !members.empty();
    }
    rar.OnFileProcessing = nullptr;
    rar.FileList.clear();
    if (!read) // the header could not be read: nothing of it is listed
        NoteUnreadableArchive(ScanSession.Tally, folder + name);
    AppendMembers(*ExMemoryData1, folder + name + "\\", Scan.DiscName, Scan.DiscNumber, members);
    return read;
}

bool TMainForm::WriteCabFile(const std::string &name, const std::string &folder, const std::string &localFile)
{
    if (localFile.empty())
        return true;
    TSTCabReader &cab = Readers(ScanReaders).STCabReader1;
    std::vector<TMember> members;
    bool read = false;
    try {
        read = cab.EnumFilesEntries(localFile, [&members](TSTCabReader *, const std::string &fileName, uint64_t size,
                                                          int, uint16_t date, uint16_t time, uint16_t, bool &) {
            members.push_back({Backslashed(fileName), size, ShortDateLongTimeText(DosDateTimeToDateTime(date, time))});
        });
        if (!read) // named .cab, but no cabinet
            NoteUnreadableArchive(ScanSession.Tally, folder + name);
    } catch (const std::exception &) {
        members.clear(); // a damaged cabinet keeps its own record only
        read = false;
        NoteUnreadableArchive(ScanSession.Tally, folder + name);
    }
    AppendMembers(*ExMemoryData1, folder + name + "\\", Scan.DiscName, Scan.DiscNumber, members);
    return read;
}
