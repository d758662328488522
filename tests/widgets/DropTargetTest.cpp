// Drop targets: the effect rules, registration, dropped file lists and the
// automatic scrolling, driven by the drag events Qt delivers.
#include "widgets/DropTarget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>

#include <stdexcept>

namespace {

struct Recorder {
    int enters = 0, overs = 0, leaves = 0, drops = 0;
    uint32_t dropEffect = 0;
    std::vector<std::string> files;
    void Attach(TFileDropTarget &t)
    {
        t.OnEnter = [this](TDropTarget *, TShiftState, QPoint, uint32_t &) { ++enters; };
        t.OnDragOver = [this](TDropTarget *, TShiftState, QPoint, uint32_t &) { ++overs; };
        t.OnLeave = [this](TDropTarget *) { ++leaves; };
        t.OnDrop = [this, &t](TDropTarget *, TShiftState, QPoint, uint32_t &effect) {
            ++drops;
            dropEffect = effect;
            files = t.Files;
        };
    }
};

// A 100 x 100 label that takes dropped files for a copy, its events recorded.
struct CopyTargetOnLabel {
    QLabel label;
    TFileDropTarget t;
    Recorder r;
    CopyTargetOnLabel()
    {
        label.resize(100, 100);
        t.Dragtypes = dtCopy;
        r.Attach(t);
        t.Register(&label);
    }
};

QMimeData *FileList(const std::vector<QString> &paths)
{
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    mime->setUrls(urls);
    return mime;
}

// Enter, move and drop at `at`, as a desktop drag delivers them. Answers the
// drop's action (IgnoreAction when refused).
Qt::DropAction DragAndDrop(QWidget *w, const QMimeData *mime, Qt::DropActions offered,
                           Qt::KeyboardModifiers keys = Qt::NoModifier, QPoint at = QPoint(20, 20))
{
    QDragEnterEvent enter(at, offered, mime, Qt::LeftButton, keys);
    QApplication::sendEvent(w, &enter);
    if (!enter.isAccepted())
        return Qt::IgnoreAction;
    QDragMoveEvent move(at, offered, mime, Qt::LeftButton, keys);
    QApplication::sendEvent(w, &move);
    QDropEvent drop(at, offered, mime, Qt::LeftButton, keys);
    QApplication::sendEvent(w, &drop);
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

} // namespace

TEST(DropTarget, KeysChooseAmongAllowedEffectsAndACopyOnlyTargetCopies)
{
    TFileDropTarget t;
    t.Dragtypes = dtCopy;
    for (TShiftState keys : {TShiftState(0), TShiftState(ssShift), TShiftState(ssCtrl), TShiftState(ssShift | ssCtrl)}) {
        EXPECT_EQ(t.GetValidDropEffect(keys, {}, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK), DROPEFFECT_COPY);
        EXPECT_EQ(t.GetValidDropEffect(keys, {}, DROPEFFECT_MOVE | DROPEFFECT_LINK), DROPEFFECT_NONE);
    }
    // With every kind allowed, the keys choose.
    t.Dragtypes = dtCopy | dtMove | dtLink;
    const uint32_t all = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    const auto effects = [&](uint32_t offered) {
        return std::vector<uint32_t>{t.GetValidDropEffect(ssShift | ssCtrl, {}, offered), t.GetValidDropEffect(ssShift, {}, offered),
                                     t.GetValidDropEffect(ssCtrl, {}, offered), t.GetValidDropEffect(0, {}, offered)};
    };
    EXPECT_EQ(effects(all), (std::vector<uint32_t>{DROPEFFECT_LINK, DROPEFFECT_MOVE, DROPEFFECT_COPY, DROPEFFECT_COPY}));
    // Without the effect the keys ask for, copy; without copy on offer the first allowed one.
    EXPECT_EQ(effects(DROPEFFECT_COPY | DROPEFFECT_MOVE)[0], DROPEFFECT_COPY);
    EXPECT_EQ(effects(DROPEFFECT_MOVE | DROPEFFECT_LINK)[3], DROPEFFECT_MOVE);
    EXPECT_EQ(effects(DROPEFFECT_COPY)[0], DROPEFFECT_COPY);
    // An effect handler answers alone, with the masked offer.
    t.Dragtypes = dtMove;
    uint32_t seen = 99;
    t.OnGetDropEffect = [&](TDropTarget *, TShiftState, QPoint, uint32_t &effect) {
        seen = effect;
        effect = DROPEFFECT_LINK;
    };
    EXPECT_EQ(t.GetValidDropEffect(0, {}, all), DROPEFFECT_LINK);
    EXPECT_EQ(seen, DROPEFFECT_MOVE);
}

TEST(DropTarget, RegistrationRulesAndTheirErrors)
{
    QLabel first, second;
    first.setObjectName("CDImage");
    second.setObjectName("Other");
    TFileDropTarget a, b;
    a.Register(&first);
    EXPECT_TRUE(first.acceptDrops());
    a.Register(&first); // the second time does nothing
    EXPECT_TRUE(a.Registered());
    try {
        b.Register(&first);
        FAIL() << "a control takes one drop target";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Failed to Register CDImage");
    }
    // Registering another control lets go of the first.
    a.Register(&second);
    EXPECT_EQ(std::tuple(first.acceptDrops(), a.Target()), std::tuple(false, &second));
    b.Register(&first);
    EXPECT_EQ(b.Target(), &first);
    a.Unregister();
    EXPECT_EQ(std::tuple(second.acceptDrops(), a.Target()), std::tuple(false, nullptr));
    // A control that another target took over cannot be let go by the first.
    TFileDropTarget c;
    c.Register(&second);
    second.setProperty("orbDropTarget", QVariant::fromValue<QObject *>(&b));
    try {
        c.Unregister();
        FAIL();
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Failed to Unregister Other");
    }
    second.setProperty("orbDropTarget", QVariant());
}

TEST(DropTarget, DroppedFilesArriveInOrderWithCopyOnly)
{
    CopyTargetOnLabel on;
    QLabel &label = on.label;
    TFileDropTarget &t = on.t;
    Recorder &r = on.r;
    std::unique_ptr<QMimeData> mime(FileList({"/tmp/one.jpg", "/tmp/two words.bmp", QString::fromUtf8("/tmp/\xC5\xBEltý.ico")}));
    EXPECT_EQ(DragAndDrop(&label, mime.get(), Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier), Qt::CopyAction);
    EXPECT_EQ(std::tuple(r.enters, r.overs, r.drops, r.dropEffect), std::tuple(1, 1, 1, DROPEFFECT_COPY));
    EXPECT_EQ(r.files, (std::vector<std::string>{"/tmp/one.jpg", "/tmp/two words.bmp", "/tmp/\xC5\xBEltý.ico"}));
    EXPECT_EQ(std::tuple(t.MappedNames.size(), t.Files.size()), std::tuple(0u, 0u)) << "cleared after the drop";
    // A source that offers only a move is refused.
    EXPECT_EQ(DragAndDrop(&label, mime.get(), Qt::MoveAction), Qt::IgnoreAction);
    EXPECT_EQ(r.drops, 1);
}

TEST(DropTarget, DropsWithoutFilesAreRefused)
{
    CopyTargetOnLabel on;
    QLabel &label = on.label;
    Recorder &r = on.r;
    QMimeData text;
    text.setText("just text");
    EXPECT_EQ(DragAndDrop(&label, &text, Qt::CopyAction), Qt::IgnoreAction);
    // Addresses that are not local files give no names: no drop event.
    std::unique_ptr<QMimeData> web(new QMimeData);
    web->setUrls({QUrl("https://example.com/a.jpg")});
    EXPECT_EQ(DragAndDrop(&label, web.get(), Qt::CopyAction), Qt::IgnoreAction);
    EXPECT_EQ(r.drops, 0);
    // A drag that leaves fires the leave event.
    std::unique_ptr<QMimeData> files(FileList({"/tmp/a.jpg"}));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, files.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&label, &enter);
    QDragLeaveEvent leave;
    QApplication::sendEvent(&label, &leave);
    EXPECT_EQ(std::tuple(r.leaves, r.drops), std::tuple(1, 0));
}

TEST(DropTarget, ScrollsNearTheEdgeOfAScrollingTarget)
{
    QListWidget list;
    QFont font = list.font();
    font.setPixelSize(11);
    list.setFont(font);
    list.resize(200, 120);
    for (int i = 0; i < 200; ++i)
        list.addItem(QString::number(i));
    list.show();
    QApplication::processEvents();
    QScrollBar *bar = list.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(50);
    TFileDropTarget t;
    t.Dragtypes = dtCopy;
    t.Register(&list);
    std::unique_ptr<QMimeData> mime(FileList({"/tmp/a.jpg"}));
    QWidget *viewport = list.viewport();
    QDragEnterEvent enter(QPoint(50, 60), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    ASSERT_TRUE(enter.isAccepted());
    EXPECT_FALSE(t.Scrolling());
    // Two pixels from the top: within the 11-pixel margin.
    EXPECT_EQ(t.GetValidDropEffect(0, QPoint(50, 2), DROPEFFECT_COPY), DROPEFFECT_COPY | DROPEFFECT_SCROLL);
    QDragMoveEvent move(QPoint(50, 2), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    EXPECT_EQ(std::tuple(move.isAccepted(), move.dropAction(), t.Scrolling()), std::tuple(true, Qt::CopyAction, true));
    t.AutoScrollStep();
    EXPECT_EQ(bar->value(), 50 - bar->singleStep());
    // Out of the margin the scrolling stops.
    QDragMoveEvent middle(QPoint(50, 60), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &middle);
    EXPECT_FALSE(t.Scrolling());
    QDragLeaveEvent leave;
    QApplication::sendEvent(viewport, &leave);
}

TEST(DropTarget, TargetWithoutScrollBarsNeverScrolls)
{
    QLabel label;
    label.resize(100, 100);
    TFileDropTarget t;
    t.Dragtypes = dtCopy;
    t.Register(&label);
    std::unique_ptr<QMimeData> mime(FileList({"/tmp/a.jpg"}));
    QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&label, &enter);
    QDragMoveEvent move(QPoint(1, 1), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&label, &move);
    EXPECT_EQ(t.GetValidDropEffect(0, QPoint(1, 1), DROPEFFECT_COPY), DROPEFFECT_COPY);
    EXPECT_FALSE(t.Scrolling());
}

TEST(DropTarget, PasteTakesTheFileManagersMark)
{
    TFileDropTarget t;
    auto *cut = FileList({"/tmp/a.jpg", "/tmp/b.jpg"});
    cut->setData("x-special/gnome-copied-files", "cut\nfile:///tmp/a.jpg\nfile:///tmp/b.jpg");
    QApplication::clipboard()->setMimeData(cut);
    EXPECT_EQ(t.PasteFromClipboard(), DROPEFFECT_MOVE);
    EXPECT_EQ(t.Files.size(), 2u);
    QApplication::clipboard()->setMimeData(FileList({"/tmp/c.jpg"}));
    EXPECT_EQ(t.PasteFromClipboard(), DROPEFFECT_COPY);
    auto *text = new QMimeData;
    text->setText("text");
    QApplication::clipboard()->setMimeData(text);
    EXPECT_EQ(t.PasteFromClipboard(), 0u);
}

TEST(DropTarget, DataReadOnEntryWhenAsked)
{
    QLabel label;
    label.resize(100, 100);
    TFileDropTarget t;
    t.Dragtypes = dtCopy;
    t.GetDataOnEnter = true;
    std::vector<std::string> atEnter, atDrop;
    t.OnEnter = [&](TDropTarget *, TShiftState, QPoint, uint32_t &) { atEnter = t.Files; };
    t.OnDrop = [&](TDropTarget *, TShiftState, QPoint, uint32_t &) { atDrop = t.Files; };
    t.Register(&label);
    std::unique_ptr<QMimeData> mime(FileList({"/tmp/x.bmp", "/tmp/y.bmp"}));
    EXPECT_EQ(DragAndDrop(&label, mime.get(), Qt::CopyAction), Qt::CopyAction);
    EXPECT_EQ(atEnter, (std::vector<std::string>{"/tmp/x.bmp", "/tmp/y.bmp"}));
    EXPECT_EQ(atDrop, atEnter);
}

TEST(DropTarget, MappedNamesComeWithTheFilesOnlyOneToOne)
{
    CopyTargetOnLabel on;
    std::vector<std::string> mapped;
    on.t.OnDrop = [&](TDropTarget *, TShiftState, QPoint, uint32_t &) { mapped = on.t.MappedNames; };
    auto utf16 = [](const QString &names) {
        QByteArray out;
        for (QChar c : names)
            out.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        return out;
    };
    const QString wideNames = QString::fromUtf8("Žltý kôň.jpg") + QChar(0) + QStringLiteral("two.bmp") + QChar(0) + QChar(0);
    struct Case {
        const char *what;
        QString format;
        QByteArray block;
        std::vector<std::string> expected;
    } cases[] = {
        {"8-bit names", "FileNameMap", QByteArray("a.jpg\0b.bmp\0\0", 13), {"a.jpg", "b.bmp"}},
        {"UTF-16 names", "FileNameMapW", utf16(wideNames), {"Žltý kôň.jpg", "two.bmp"}},
        {"a Windows format carried over", "application/x-qt-windows-mime;value=\"FileNameMap\"",
         QByteArray("a.jpg\0b.bmp\0\0", 13), {"a.jpg", "b.bmp"}},
        {"one name for two files", "FileNameMap", QByteArray("a.jpg\0\0", 7), {}},
        {"a name the block cuts short", "FileNameMap", QByteArray("a.jpg\0b.b", 9), {}},
        {"an odd byte after UTF-16 names", "FileNameMapW", utf16(QStringLiteral("x")) + QByteArray("\0\0\0", 3), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<QMimeData> mime(FileList({"/tmp/one.jpg", "/tmp/two.bmp"}));
        mime->setData(c.format, c.block);
        mapped = {"not dropped"};
        EXPECT_EQ(DragAndDrop(&on.label, mime.get(), Qt::CopyAction), Qt::CopyAction);
        EXPECT_EQ(mapped, c.expected);
    }
}

TEST(DropTarget, AFileManagersUriListIsReadAsItSendsIt)
{
    CopyTargetOnLabel on;
    // As file managers put it: percent-encoded, CR LF after each line, a comment line allowed.
    QMimeData mime;
    mime.setData(QStringLiteral("text/uri-list"),
                 QByteArray("# from the file manager\r\nfile:///tmp/two%20words.jpg\r\nfile:///tmp/%C5%BElt%C3%BD.bmp\r\n"));
    mime.setData(QStringLiteral("x-special/gnome-copied-files"), QByteArray("copy\nfile:///tmp/two%20words.jpg"));
    EXPECT_EQ(DragAndDrop(&on.label, &mime, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction), Qt::CopyAction);
    EXPECT_EQ(on.r.files, (std::vector<std::string>{"/tmp/two words.jpg", "/tmp/\xC5\xBEltý.bmp"}));
}
