#include "widgets/PictDriveBox.h"

#include "platform/VolumeService.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

namespace {

VolumeInfo Drive(char letter, int type, std::string label = {}, bool ready = true)
{
    VolumeInfo v;
    v.letter = letter;
    v.type = type;
    v.ready = ready;
    v.label = std::move(label);
    if (letter == 'c')
        v.mountPoint = "/";
    return v;
}

// Installs a made-up machine as the process-wide volume service for one test.
class DriveBox : public ::testing::Test {
protected:
    void Use(std::vector<VolumeInfo> drives)
    {
        VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(std::move(drives)));
    }
    void TearDown() override { VolumeService::SetCurrent(nullptr); }

    // Letters passed to OnChange, in order.
    std::string Watch(TPictDriveBox &box)
    {
        events.clear();
        box.OnChange = [this](TPictDriveBox *sender) { events += sender->Drive(); };
        return events;
    }
    std::string events;
};

} // namespace

TEST_F(DriveBox, AStartDriveAlreadySelectedFiresOnce)
{
    Use({Drive('c', DRIVE_FIXED), Drive('d', DRIVE_CDROM), Drive('e', DRIVE_CDROM)});
    TPictDriveBox box;
    box.SetDrive('d');
    Watch(box);
    box.Loaded();
    EXPECT_EQ(events, "e");
    // A refresh with nothing changed selects D then E again.
    box.RefreshDrives();
    EXPECT_EQ(events, "ede");
}

TEST_F(DriveBox, WithoutTheWantedKindTheSelectionStays)
{
    Use({Drive('c', DRIVE_FIXED), Drive('f', DRIVE_REMOVABLE)});
    TPictDriveBox box;
    Watch(box);
    box.Loaded();
    EXPECT_EQ(std::tuple(events, box.Drive()), std::tuple("", 'c'));
    // Another start kind is honoured at the next refresh.
    box.StartDrive = dtFloppy;
    box.RefreshDrives();
    EXPECT_EQ(std::tuple(events, box.currentText()), std::tuple("f", "f:"));
}

TEST_F(DriveBox, RowTextsByKind)
{
    VolumeInfo share = Drive('n', DRIVE_REMOTE);
    share.remoteName = "//Server/Docs";
    Use({Drive('c', DRIVE_FIXED, "ROOT"), Drive('d', DRIVE_CDROM, "", false), Drive('e', DRIVE_CDROM, "Audio CD"),
         Drive('f', DRIVE_REMOVABLE, "STICK"), share, Drive('r', DRIVE_RAMDISK, "Scratch"),
         Drive('s', DRIVE_NO_ROOT_DIR)});
    TPictDriveBox box;
    QStringList texts;
    for (int i = 0; i < box.count(); ++i)
        texts << box.itemText(i);
    EXPECT_EQ(texts, (QStringList{"c: [root]", "d: []", "e: [audio cd]", "f:", "n: //server/docs", "r: [scratch]"}));
    for (int i = 0; i < box.count(); ++i) {
        ASSERT_TRUE(box.RowPicture(i)) << i;
        EXPECT_EQ(box.RowPicture(i)->size(), QSize(16, 13));
    }
}

TEST_F(DriveBox, ChoosingARowFiresOnChangeOnlyForAnotherDrive)
{
    Use({Drive('c', DRIVE_FIXED), Drive('d', DRIVE_CDROM)});
    TPictDriveBox box;
    Watch(box);
    box.SetDrive('C'); // already the drive
    EXPECT_EQ(events, "");
    emit box.activated(1);
    EXPECT_EQ(events, "d");
    box.SetDrive('x'); // no such drive: nothing happens
    EXPECT_EQ(std::tuple(events, box.Drive()), std::tuple("d", 'd'));
}

TEST_F(DriveBox, ADriveThatWentAwayLeavesTheFirstRowSelected)
{
    Use({Drive('c', DRIVE_FIXED), Drive('f', DRIVE_REMOVABLE)});
    TPictDriveBox box;
    box.SetDrive('f');
    Use({Drive('c', DRIVE_FIXED)});
    box.RefreshDrives();
    EXPECT_EQ(std::tuple(box.Drive(), box.currentIndex()), std::tuple('c', 0));
}

TEST_F(DriveBox, RowHeightIsTheTallerOfFontAndPicturePlusTwo)
{
    Use({Drive('c', DRIVE_FIXED)});
    const QFont before = QApplication::font();
    QFont font = before;
    font.setPointSize(8);
    QApplication::setFont(font);
    TPictDriveBox box;
    QApplication::setFont(before);
    EXPECT_EQ(box.font().pointSize(), 8);
    int expected = std::max(QFontMetrics(font).height(), 13) + 2;
    EXPECT_EQ(box.ItemHeight(), expected);
}

TEST_F(DriveBox, PaintsPictureAndTextAtTheirOffsets)
{
    VolumeInfo odd = Drive('u', DRIVE_UNKNOWN, "x");
    Use({Drive('c', DRIVE_FIXED, "HD"), odd});
    TPictDriveBox box;
    ASSERT_EQ(box.count(), 2);
    QRect row(10, 0, 200, 20);
    // Without a picture the text starts 16 + 6 pixels right of the row's edge.
    ASSERT_EQ(box.RowPicture(1), nullptr);
    EXPECT_EQ(box.ItemTextRect(1, row).left(), 10 + 22);
    EXPECT_EQ(box.ItemTextRect(0, row).left(), 10 + 16 + 6);

    QImage image(220, 20, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    {
        QPainter painter(&image);
        box.DrawItem(painter, 0, row, QStyle::State_None);
    }
    QColor base = box.palette().color(QPalette::Base);
    // The picture lies at left + 2, centred: rows (0 + 20 - 13) / 2 = 3 .. 15.
    // Its key colour is transparent, so the row's background shows there.
    EXPECT_EQ(image.pixelColor(10 + 2, 15), base); // bottom-left pixel of the picture: key colour
    EXPECT_EQ(image.pixelColor(10 + 2 + 1, 3 + 4), QColor(0, 0, 0)); // the drive's outline
    EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::magenta)); // outside the row: untouched
    // Nothing but background between the picture and the text.
    for (int x = 10 + 2 + 16; x < 10 + 22; ++x)
        for (int y = 0; y < 20; ++y)
            ASSERT_EQ(image.pixelColor(x, y), base) << x << "," << y;
}
