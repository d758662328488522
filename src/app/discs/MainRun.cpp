// Opening and copying a catalogued file while its disc is mounted: the file
// must be at its catalogued path, and for opening the disc in the drive must
// be the catalogued one (by its volume serial); otherwise the user is asked to
// insert it and may try again.
#include "app/Main.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTemporaryFile>
#include <QToolButton>
#include <QTreeWidget>

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "app/browse/BrowseText.h"
#include "app/browse/FileListView.h"
#include "app/discs/DiscCommands.h"
#include "app/search/SearchListView.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/ShellOpen.h"
#include "platform/VolumeService.h"
#include "ui_MainForm.h"
#include "util/BaseFileUtils.h"
#include "util/TextCodec.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

// The local file of a stored path, when its drive is there and holds it: the
// path as the file system's bytes. The list shows stored names decoded (a
// name that is not UTF-8 as Windows-1250), so each part of the path is the
// shown text itself or, when no such entry is there, the Windows-1250 bytes
// it was decoded from: the bytes the catalogue stores.
std::optional<std::string> LocalFileOf(const std::string &path)
{
    struct stat st;
    auto exists = [&st](const std::optional<std::string> &local) {
        return local && ::stat(local->c_str(), &st) == 0;
    };
    const VolumeService &volumes = VolumeService::Current();
    std::optional<std::string> local = volumes.LocalPath(path);
    if (!local)
        return std::nullopt; // no such drive, or nothing in it
    if (exists(local))
        return local;
    std::string built = path.substr(0, 2); // the drive
    local.reset(); // the whole path is not there as shown
    for (size_t from = 2; from < path.size();) {
        size_t to = path.find('\\', from + 1);
        if (to == std::string::npos)
            to = path.size();
        const std::string part = path.substr(from, to - from); // with its leading separator
        from = to;
        std::string stored = Utf8ToCp1250(part, '\0');
        if (stored.find('\0') != std::string::npos)
            stored = part; // a letter Windows-1250 lacks: the text is stored as it is
        bool found = false;
        for (const std::string &candidate : {part, stored}) {
            local = volumes.LocalPath(built + candidate);
            if (exists(local)) {
                built += candidate;
                found = true;
                break;
            }
        }
        if (!found)
            return std::nullopt;
    }
    return local; // found with its last part
}

// What the opener is handed for a local file: its path, or a file address
// when the path is no text (its bytes are not UTF-8) that would survive the
// way to the opener.
QString OpenerArgumentOf(const std::string &local)
{
    const QByteArray bytes = QByteArray::fromStdString(local);
    const QString name = QFile::decodeName(bytes);
    if (QFile::encodeName(name) == bytes)
        return name;
    return QString::fromLatin1("file://" + bytes.toPercentEncoding("/"));
}

// A track of the audio CD in the drive of `path` ("e:\\Track01.cda"): the
// address the desktop plays it by, or empty when the drive holds no audio CD
// with that track. An audio CD is not mounted, so its tracks are no files:
// the drive's own track list tells whether the track is there.
QString AudioTrackOf(const std::string &path)
{
    if (path.size() < 4 || path[1] != ':' || path[2] != '\\' || path.find('\\', 3) != std::string::npos)
        return {};
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    const std::optional<VolumeInfo> drive = VolumeService::Current().Drive(letter);
    if (!drive || !drive->ready || !drive->audioCd() || drive->device.empty())
        return {};
    const QString name = ToQString(path.substr(3));
    for (const VolumeEntry &track : drive->virtualRoot) {
        if (ToQString(track.name).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        bool ok = false;
        const int number = name.mid(5, name.size() - 9).toInt(&ok); // "Track" NN ".cda"
        if (!ok || number <= 0)
            return {};
        return QStringLiteral("cdda://%1/Track%20%2.wav").arg(QFileInfo(ToQString(drive->device)).fileName()).arg(number);
    }
    return {};
}

// Gives the finished copy `tmp` the name `to`, unless a file of that name has
// appeared meanwhile: a copy never replaces a file. False with the reason.
bool PlaceWithoutReplacing(const QString &tmp, const QString &to, QString *reason)
{
    const QByteArray from = QFile::encodeName(tmp), target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system without that kind of rename: a new link does not replace either.
    if ((errno == EINVAL || errno == ENOSYS) && ::link(from.constData(), target.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    *reason = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

// Files at least this large are copied under a progress dialog.
constexpr qint64 ProgressFrom = 8 * 1024 * 1024;
constexpr qint64 Chunk = 1024 * 1024;

} // namespace

qint64 TMainForm::CopyProgressThreshold = ProgressFrom;

void TMainForm::ConnectRunHandlers()
{
    connect(ui->RunButton, &QToolButton::clicked, this, Guarded(&TMainForm::RunButtonClick));
    connect(ui->RunMenu, &QAction::triggered, this, Guarded(&TMainForm::RunButtonClick));
    connect(ui->CopyButton, &QToolButton::clicked, this, Guarded(&TMainForm::CopyButtonClick));
    connect(ui->CopyFyleMenu, &QAction::triggered, this, Guarded(&TMainForm::CopyButtonClick));
    connect(ui->CopyFilePopupMenu, &QAction::triggered, this, Guarded(&TMainForm::CopyButtonClick));
    connect(ui->OpenPopup, &QAction::triggered, this, Guarded(&TMainForm::OpenPopupClick));
}

void TMainForm::ShowNothingSelected(bool disc)
{
    Prompt::Current().Show(disc ? ByLanguage("No disc is selected.", "Nie je vybrané žiadne CD.",
                                             "Není vybráno žádné CD.")
                                : L(78),
                           QString(), PromptButtons::Ok, PromptIcon::Information);
}

namespace {

bool SameEntry(const TRunTarget &a, const TRunTarget &b)
{
    return a.Path == b.Path && a.DiscName == b.DiscName && a.Number == b.Number;
}

} // namespace

bool TMainForm::TakeRunTarget()
{
    const TFileRow *fileRow = ui->LinksListView->SelectedRow();
    const TSearchRow *searchRow = ui->Panel2->isVisibleTo(this) ? ui->SearchView->SelectedRow() : nullptr;
    // The entry chosen last, while its list still shows it selected.
    if (!RunTarget.Path.empty()) {
        if (fileRow && SameEntry(RunTarget, RunTargetOf(*fileRow)))
            return true;
        if (searchRow && SameEntry(RunTarget, RunTargetOf(*searchRow))) {
            // The search's rows stay while another disc is chosen in the tree, which
            // makes that disc's serial the one checked: the row's disc is the one to run from.
            Browse.SelectedSerial = searchRow->CdIdCode;
            return true;
        }
    }
    // Its list has changed since (another folder, disc or catalogue, the
    // search closed) or the selection has moved: what is selected now.
    if (fileRow) {
        RunTarget = RunTargetOf(*fileRow);
        Browse.SelectedSerial = fileRow->CdIdCode;
        return true;
    }
    if (searchRow) {
        RunTarget = RunTargetOf(*searchRow);
        Browse.SelectedSerial = searchRow->CdIdCode;
        return true;
    }
    RunTarget = {};
    return false;
}

void TMainForm::RunButtonClick()
{
    if (!TakeRunTarget())
        ShowNothingSelected(false);
    else
        RunFile(RunTarget.Path);
}

void TMainForm::CopyButtonClick()
{
    if (!TakeRunTarget())
        ShowNothingSelected(false);
    else
        CopyFileFromCd(RunTarget.Path);
}

void TMainForm::OpenPopupClick()
{
    // The double-click of the list the menu was opened over; with nothing
    // selected there, nothing to open, and that is said.
    if (ui->SearchView->hasFocus()) {
        if (ui->SearchView->SelectedRow())
            SearchViewDblClick();
        else
            ShowNothingSelected(false);
        return;
    }
    if (ui->LinksListView->SelectedRow())
        LinksListViewDblClick();
    else
        ShowNothingSelected(false);
}

std::string TMainForm::RunCatalogName() const
{
    if (ui->SearchView->hasFocus()) {
        // The row's catalogue column.
        const TSearchRow *row = ui->SearchView->SelectedRow();
        return row ? row->Archive : std::string();
    }
    if (ui->LinksListView->SelectedRow())
        return CatalogName;
    // The search's row chosen last, its list no longer focused (another disc chosen in the tree).
    const TSearchRow *row = ui->Panel2->isVisibleTo(this) ? ui->SearchView->SelectedRow() : nullptr;
    return row && SameEntry(RunTarget, RunTargetOf(*row)) ? row->Archive : std::string();
}

void TMainForm::RunFile(const std::string &path)
{
    if (path.empty())
        return;
    // Named once: while the insert-disc message is up the list that asked
    // loses the focus, and a retry must still name the same catalogue.
    const std::string catalog = RunCatalogName();
    for (;;) {
        GetDriveKind(path[0]);
        const std::string inserted = Scan.VolumeSerial;
        const std::string stored = Browse.SelectedSerial.empty() ? "0" : Browse.SelectedSerial;
        const std::optional<std::string> file = LocalFileOf(path);
        const QString local = file ? OpenerArgumentOf(*file) : AudioTrackOf(path);
        if (!local.isEmpty() && (inserted == stored || stored == "0")) {
            const ShellOpenResult opened = ShellOpen(local);
            if (!opened.ok)
                ShowError(Text3("The file could not be opened.", "Súbor sa nepodarilo otvoriť.",
                                "Soubor se nepodařilo otevřít.") +
                          "\n" + FromQString(opened.error));
            return;
        }
        const QString text = L(56) + QStringLiteral(" [") + ToQString(RunTarget.Number) + QStringLiteral("] ") +
                             L(57) + QStringLiteral("  ") + ToQString(RunTarget.DiscName) + QStringLiteral("  ") +
                             L(101) + QStringLiteral(" - ") + ToQString(catalog);
        // Cancel is the default: a key press must not retry forever.
        if (Prompt::Current().Show(text, L(34), PromptButtons::OkCancel, PromptIcon::Question, PromptResult::Cancel) !=
            PromptResult::Ok)
            return;
    }
}

void TMainForm::CopyFileFromCd(const std::string &path)
{
    if (path.empty())
        return;
    std::string local;
    for (;;) {
        const std::optional<std::string> file = LocalFileOf(path);
        if (file) {
            local = *file;
            break;
        }
        if (!AudioTrackOf(path).isEmpty()) {
            // The disc is in the drive, but its tracks are played, not copied as files.
            Prompt::Current().Show(ToQString(AudioTrackCopyText()), L(34), PromptButtons::Ok,
                                   PromptIcon::Information);
            return;
        }
        const QString text = L(56) + QStringLiteral(" [") + ToQString(RunTarget.Number) + QStringLiteral("] ") +
                             L(57) + QStringLiteral("  ") + ToQString(RunTarget.DiscName);
        if (Prompt::Current().Show(text, L(34), PromptButtons::OkCancel, PromptIcon::Question, PromptResult::Cancel) !=
            PromptResult::Ok)
            return;
    }
    std::string name = path;
    const size_t slash = name.find_last_of('\\');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);

    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A copy never replaces a file: the dialog does not offer to, and a
    // chosen file that exists is left as it is (said below).
    dialog.setOptions(QFileDialog::DontConfirmOverwrite | QFileDialog::DontUseNativeDialog);
    dialog.setDirectory(ToQString(GetDesktopFolder()));
    dialog.selectFile(ToQString(name));
    if (ExecModal(dialog) != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return;
    const QString target = chosen.front();
    const QFileInfo targetInfo(target);
    if (targetInfo.exists() || targetInfo.isSymLink()) {
        if (targetInfo.isDir()) {
            ShowError(CopyFailedText(FromQString(target)));
            return;
        }
        Prompt::Current().Show(ToQString(FileKeptText(FromQString(target))), L(34), PromptButtons::Ok,
                               PromptIcon::Information);
        return;
    }
    const QString error = CopyWithProgress(local, target);
    if (error.isEmpty())
        return;
    if (QFileInfo::exists(target) && !QFileInfo(target).isDir()) // appeared while the copy was written
        Prompt::Current().Show(ToQString(FileKeptText(FromQString(target))), L(34), PromptButtons::Ok,
                               PromptIcon::Information);
    else
        ShowError(CopyFailedText(FromQString(error)));
}

QString TMainForm::CopyWithProgress(const std::string &from, const QString &to)
{
    const QString fromName = QFile::decodeName(QByteArray::fromStdString(from));
    // Only a file is read, opened without waiting (a pipe at the path would
    // hold the program).
    const int fd = OpenRegularFile(from);
    if (fd < 0)
        return fromName + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    QFile in;
    if (!in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fromName + QStringLiteral(": ") + in.errorString();
    }
    struct stat source;
    if (::fstat(fd, &source) != 0)
        return fromName + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    // The copy is written beside the target and given its name only when
    // complete: a failed or cancelled copy leaves nothing behind.
    QTemporaryFile out(QFileInfo(to).absoluteDir().filePath(QStringLiteral(".orbalist-copy-XXXXXX")));
    if (!out.open())
        return to + QStringLiteral(": ") + out.errorString();
    const qint64 total = qint64(source.st_size);
    std::unique_ptr<QProgressDialog> progress;
    if (total >= CopyProgressThreshold) {
        progress = std::make_unique<QProgressDialog>(ToQString(CopyingText(FromQString(QFileInfo(fromName).fileName()))),
                                                     L(17), 0, 1000, this);
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(0);
        progress->setValue(0);
    }
    QByteArray buffer;
    qint64 done = 0;
    for (;;) {
        buffer = in.read(Chunk);
        if (buffer.isEmpty()) {
            if (in.error() != QFileDevice::NoError || (!in.atEnd() && done < total))
                return fromName + QStringLiteral(": ") + in.errorString();
            break;
        }
        if (out.write(buffer) != buffer.size())
            return to + QStringLiteral(": ") + out.errorString();
        done += buffer.size();
        if (progress) {
            progress->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 1000);
            if (progress->wasCanceled())
                return {};
        }
    }
    if (!out.flush())
        return to + QStringLiteral(": ") + out.errorString();
    // As a copy on the desktop: the file's permission bits (under the umask,
    // not the temporary file's owner-only ones) and its times.
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (::fchmod(out.handle(), ModeUnderUmask(source.st_mode)) != 0 || ::futimens(out.handle(), times) != 0 ||
        ::fsync(out.handle()) != 0)
        return to + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    out.close();
    QString reason;
    if (!PlaceWithoutReplacing(out.fileName(), to, &reason))
        return to + QStringLiteral(": ") + reason;
    out.setAutoRemove(false);
    return {};
}
