// Notes of files and discs and disc pictures in the main window, checked in
// the table files the commands save, and the picture readers fed generated
// files of every kind (and damaged ones).
#include <QBuffer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImageWriter>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <chrono>
#include <map>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <jpeglib.h>
}

#include "app/discs/AddNote.h"
#include "app/discs/MainPictureFiles.h"
#include "util/BaseFileUtils.h"
#include "ui_AddNoteForm.h"

#include "app/MainFormTestSupport.h"

namespace {

// Little-endian values of `bytes` bytes each.
void Put(std::string &s, const std::vector<uint32_t> &values, int bytes = 4)
{
    for (uint32_t v : values)
        for (int i = 0; i < bytes; ++i)
            s += char((v >> (8 * i)) & 0xFF);
}

std::string Encode(const QImage &image, const char *format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return data.toStdString();
}

// Left half red, right half blue.
QImage TwoColours(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, x < w / 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    return image;
}

using TWmfRecords = std::vector<std::pair<uint16_t, std::vector<uint32_t>>>;

// A placeable Windows metafile w x h units at `inch` units to the inch, its
// frame the window, of `objects` objects and the records (function and
// parameters) given; the end record is added.
std::string PlaceableWmf(uint32_t w, uint32_t h, uint32_t inch, uint32_t objects, const TWmfRecords &recs)
{
    std::string records;
    uint32_t largest = 0;
    auto rec = [&](uint16_t function, const std::vector<uint32_t> &params) {
        largest = std::max(largest, uint32_t(3 + params.size()));
        Put(records, {uint32_t(3 + params.size())});
        Put(records, {function}, 2);
        Put(records, params, 2);
    };
    for (const auto &[function, params] : recs)
        rec(function, params);
    rec(0x0000, {});
    std::string header, placeable;
    // Memory metafile, header words, version, size in words, objects, largest record.
    Put(header, {1, 9, 0x0300}, 2);
    Put(header, {uint32_t(9 + records.size() / 2), objects | (largest << 16), largest >> 16});
    Put(placeable, {0x9AC6CDD7});
    Put(placeable, {0, 0, 0, w, h, inch}, 2); // handle, bounds, units per inch
    Put(placeable, {0});
    uint16_t sum = 0;
    for (size_t i = 0; i < placeable.size(); i += 2)
        sum ^= uint16_t(uint8_t(placeable[i]) | (uint8_t(placeable[i + 1]) << 8));
    Put(placeable, {sum}, 2);
    return placeable + header + records;
}

// A placeable Windows metafile: a green rectangle over the whole 100 x 100
// picture, with `text` "HH" at (10, 40) too in a font `fontHeight` high. The
// frame is `frame` units square, the rectangle at `from` to `to` in each axis.
std::string MakeWmf(bool text = false, uint32_t fontHeight = 20, uint32_t frame = 100, uint32_t from = 0,
                    uint32_t to = 100)
{
    // Window extent (y, x) and origin, a solid green brush selected, the rectangle (bottom, right, top, left).
    TWmfRecords recs = {{0x020C, {frame, frame}}, {0x020B, {0, 0}}, {0x02FC, {0, 0xFF00, 0, 0}}, {0x012D, {0}},
                        {0x041B, {to, to, from, from}}};
    if (text) { // a font named "Alia" selected, TEXTOUT "HH" at (10, 40)
        recs.push_back({0x02FB, {fontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0x6C41, 0x6169, 0, 0}});
        recs.push_back({0x012D, {1}});
        recs.push_back({0x0521, {2, 0x4848, 40, 10}});
    }
    return PlaceableWmf(frame, frame, 96, 2, recs);
}

// The header of an enhanced metafile w x h of `records` records, itself included.
std::string EmfHeader(uint32_t w, uint32_t h, size_t bodySize, uint32_t records, uint32_t handles)
{
    std::string header;
    // Type, size, bounds, frame in 0.01 mm, signature, version, bytes, records.
    Put(header, {1, 88, 0, 0, w - 1, h - 1, 0, 0, w * 25, h * 25, 0x464D4520, 0x10000, uint32_t(88 + bodySize),
                 records});
    Put(header, {handles, 0}, 2); // handles, the reserved 0 included
    Put(header, {0, 0, 0, 1024, 768, 320, 240}); // description, palette, device sizes
    return header;
}

// An enhanced metafile 200 x 100: a yellow rectangle on the left half, a blue
// line, a red ellipse and a green polygon on the right, a magenta bitmap at
// (10, 10) and "HH" at (20, 55).
std::string MakeEmf()
{
    std::string body;
    auto rec = [&](uint32_t type, const std::vector<uint32_t> &params) {
        Put(body, {type, uint32_t(8 + 4 * params.size())});
        Put(body, params);
    };
    // A yellow brush and no pen, RECTANGLE; a blue pen, MOVETOEX and LINETO; a red brush, ELLIPSE; a green brush.
    for (const auto &[type, params] : std::vector<std::pair<uint32_t, std::vector<uint32_t>>>{
             {39, {1, 0, 0x0000FFFF, 0}}, {37, {1}}, {37, {0x80000008}}, {43, {0, 0, 100, 100}},
             {38, {2, 0, 3, 0, 0x00FF0000}}, {37, {2}}, {27, {110, 5}}, {54, {190, 5}}, {39, {3, 0, 0x000000FF, 0}},
             {37, {3}}, {42, {120, 30, 180, 90}}, {39, {4, 0, 0x0000FF00, 0}}, {37, {4}}})
        rec(type, params);
    Put(body, {86, 8 + 16 + 4 + 3 * 4, 102, 60, 118, 99, 3}); // POLYGON16: bounds, count, points
    Put(body, {102, 99, 118, 60, 118, 99}, 2);
    // STRETCHDIBITS: a 2 x 2 magenta bitmap, 24 bits, stretched to 30 x 30 at (10, 10).
    std::string bmi, bits;
    Put(bmi, {40, 2, 2, 1 | (24 << 16), 0, 0, 0, 0, 0, 0});
    for (int row = 0; row < 2; ++row)
        bits += std::string("\xFF\x00\xFF\xFF\x00\xFF\x00\x00", 8); // B G R x2, padded to 8
    Put(body, {81, uint32_t(80 + bmi.size() + bits.size()), 10, 10, 39, 39, 10, 10, 0, 0, 2, 2, 80,
               uint32_t(bmi.size()), uint32_t(80 + bmi.size()), uint32_t(bits.size()), 0, 0x00CC0020, 30, 30});
    body += bmi + bits;
    // EXTTEXTOUTW: "HH" in black at (20, 55), scale 1.0, no rectangle, with its spacing array.
    Put(body, {84, 76 + 4 + 8, 0, 0, 199, 99, 1, 0x3F800000, 0x3F800000, 20, 55, 2, 76, 0x100, 0, 0, 0, 0, 80});
    Put(body, {'H' | ('H' << 16), 14, 14});
    rec(14, {0, 16, 20}); // EOF
    return EmfHeader(200, 100, body.size(), 12, 5) + body;
}

// An enhanced metafile 1000 x 1000: one polyline (or polygon) of `points`
// points zigzagging over it, in a pen `penWidth` units wide.
std::string ZigzagEmf(uint32_t penWidth, uint32_t points, bool polygon = false)
{
    std::string body;
    Put(body, {38, 28, 1, 0, penWidth, 0, 0x000000FF}); // CREATEPEN: index, style, width, colour
    Put(body, {37, 12, 1});                             // SELECTOBJECT
    Put(body, {polygon ? 86u : 87u, 28 + 4 * points, 0, 0, 999, 999, points}); // POLY...16: bounds, count, points
    for (uint32_t i = 0; i < points; ++i)
        Put(body, {i * 397 % 1000, (i % 2) * 999}, 2);
    Put(body, {14, 20, 0, 16, 20}); // EOF
    return EmfHeader(1000, 1000, body.size(), 5, 2) + body;
}

// A JPEG with left half red, right half blue: CMYK as print programs write it
// (values inverted, Adobe marker), or RGB, progressive if asked.
std::string MakeJpeg(int w, int h, bool cmyk, bool progressive = false)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(w), cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = cmyk ? 4 : 3, cinfo.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t n = size_t(cinfo.input_components);
    std::vector<unsigned char> row(size_t(w) * n, 255);
    for (size_t x = 0; x < size_t(w); ++x) {
        const bool left = x < size_t(w) / 2;
        if (cmyk) { // inverted ink: red is full magenta and yellow, blue full cyan and magenta
            row[x * 4] = left ? 255 : 0;
            row[x * 4 + 1] = 0;
            row[x * 4 + 2] = 255 - row[x * 4];
        } else {
            row[x * 3] = left ? 255 : 0, row[x * 3 + 1] = 0, row[x * 3 + 2] = left ? 0 : 255;
        }
    }
    for (JSAMPROW r = row.data(); cinfo.next_scanline < cinfo.image_height;)
        jpeg_write_scanlines(&cinfo, &r, 1);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out(reinterpret_cast<const char *>(buffer), size);
    std::free(buffer);
    return out;
}

std::string CmykJpeg(int w, int h) { return MakeJpeg(w, h, true); }

bool Near(QRgb a, QRgb b, int slack = 40)
{
    return std::abs(qRed(a) - qRed(b)) <= slack && std::abs(qGreen(a) - qGreen(b)) <= slack &&
           std::abs(qBlue(a) - qBlue(b)) <= slack;
}

// Pixels darker than mid grey in [x0, x1) x [y0, y1).
int DarkPixels(const QImage &image, int x0, int x1, int y0, int y1)
{
    int dark = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            dark += qGray(image.pixel(x, y)) < 100;
    return dark;
}

class NotePictureTest : public MainFormTablesTest {
protected:
    void AddFile(const std::string &disc, const std::string &path, const std::string &name, int type = 1,
                 const std::string &note = "")
    {
        AppendRecord(files, {{"Path", path}, {"Name", name}, {"Namecd", disc}, {"Number", "1"}, {"Size", "10"},
                             {"Type", type}, {"Note", note}});
    }
    // Disc "e: [DATA]" whose root holds "docs", "a", "ab", "A" and
    // "readme.txt", and "docs" its own "readme.txt"; disc "f: [MORE]" of kind 3.
    void SetUp() override
    {
        MainFormTablesTest::SetUp();
        AppendRecord(discs, {{"CdName", "e: [DATA]"}, {"Number", "1"}, {"CdNote", "\xC2\xA9" "1999/Rock"}});
        AppendRecord(discs, {{"CdName", "f: [MORE]"}, {"Number", "1"}, {"CType", 3}});
        AddFile("e: [DATA]", "e:\\", "docs", 0);
        for (const char *name : {"a", "ab", "A"})
            AddFile("e: [DATA]", "e:\\", name);
        AddFile("e: [DATA]", "e:\\", "readme.txt", 1, "root readme");
        AddFile("e: [DATA]", "e:\\docs\\", "readme.txt");
        AddFile("f: [MORE]", "f:\\", "a");
        SaveCat("Setup16=1\n");
    }
    static void FocusList(TMainForm &form)
    {
        form.ui->LinksListView->ActiveView()->setFocus();
        QApplication::processEvents();
    }
    // Runs the note command on the list entry `name` (or on the tree without
    // one): `act` sees the dialog, then `text` is typed into it and OK clicked.
    static void WriteNote(TMainForm &form, const std::string &name, const std::string &text,
                          const std::function<void(TAddNoteForm &)> &act = {})
    {
        if (!name.empty()) {
            form.ui->LinksListView->SelectRow(ListRowOf(form, name));
            form.LinksListViewClick();
            FocusList(form);
        }
        TMainForm::RunModal = [&](QDialog &d) {
            auto &note = static_cast<TAddNoteForm &>(d);
            if (act)
                act(note);
            note.ui->Edit1->setText(QString::fromStdString(text));
            note.ui->OkButton->click();
            return 1;
        };
        form.NotePopupClick();
        TMainForm::RunModal = nullptr;
    }
    std::string StoredNote(const std::string &path, const std::string &name)
    {
        return StoredField(data + "/Cat.d", "Path", path, "Note", "Name", name);
    }
    std::string StoredDisc(const std::string &disc, const char *field)
    {
        return StoredField(data + "/CdNames/Cat_cdname.d", "CdName", disc, field);
    }
};

} // namespace

TEST_F(NotePictureTest, FileNoteGoesToTheSelectedFolderAndExactName)
{
    {
        auto form = OpenActive();
        // Same name in two folders: the note goes to the one listed.
        form->ui->LinksListView->SelectRow(ListRowOf(*form, "docs"));
        form->LinksListViewDblClick();
        WriteNote(*form, "readme.txt", "in docs");
        // The entry stays selected and shows its new note.
        EXPECT_EQ(form->ui->StaticText6->text().toStdString(), "  in docs");
        form->BackButtonClick();
        EXPECT_EQ(StoredNote("e:\\", "readme.txt"), "root readme");
        // The dialog shows the current note; an empty one clears it.
        WriteNote(*form, "readme.txt", "", [](TAddNoteForm &d) {
            EXPECT_EQ(d.ui->Edit1->text().toStdString(), "root readme");
            EXPECT_EQ(d.ui->Label1->text().toStdString(), "Note from file : readme.txt");
        });
        // "a" beside "ab" and "A": each name gets its own note.
        WriteNote(*form, "A", "capital");
        WriteNote(*form, "a", "small");
        EXPECT_EQ(StoredNote("e:\\", "ab"), ""); // "a" is not a prefix match
        // The file table's own filter is back: the current disc's records.
        EXPECT_EQ(form->FlatTable1->RecordCount(), 6);
        // So is another filter installed before (a search's).
        bool asked = false;
        form->FlatTable1->SetOnFilterRecord([&](TDataSet *, bool &accept) { asked = accept = true; });
        WriteNote(*form, "ab", "ab note");
        asked = false;
        form->FlatTable1->Refresh();
        form->FlatTable1->First();
        EXPECT_TRUE(asked);
        EXPECT_EQ(form->FlatTable1->RecordCount(), 7);
    }
    // The same name on another disc is untouched.
    for (const auto &[path, name, note] : std::vector<std::tuple<const char *, const char *, const char *>>{
             {"e:\\docs\\", "readme.txt", "in docs"}, {"e:\\", "readme.txt", ""}, {"e:\\", "a", "small"},
             {"e:\\", "A", "capital"}, {"e:\\", "ab", "ab note"}, {"f:\\", "a", ""}})
        EXPECT_EQ(StoredNote(path, name), note) << path << name;
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(NotePictureTest, FailedNoteTakesBackOnlyItselfNotTheNotesStoredBefore)
{
    {
        auto form = OpenActive();
        WriteNote(*form, "a", "stored first");
        // A full disc: this note is refused, and only this one is taken back.
        SetFileWriteFaultHook([](const std::string &) { return ENOSPC; });
        WriteNote(*form, "ab", "refused");
        SetFileWriteFaultHook(nullptr);
        EXPECT_FALSE(prompt.Asked().empty());
        EXPECT_EQ(StoredNote("e:\\", "a"), "stored first");
        // The next save writes the table from memory: the first note is still there.
        WriteNote(*form, "A", "stored later");
        // The same for the disc table: a refused disc note leaves the one stored before.
        auto discNote = [&](const std::string &disc, const std::string &text) {
            OpenDisc(*form, disc);
            form->ui->TreeView1->setFocus();
            QApplication::processEvents();
            WriteNote(*form, "", text);
        };
        discNote("e: [DATA]", "disc note");
        SetFileWriteFaultHook([](const std::string &) { return ENOSPC; });
        discNote("f: [MORE]", "refused disc note");
        SetFileWriteFaultHook(nullptr);
        discNote("f: [MORE]", "more note");
    }
    EXPECT_EQ(StoredNote("e:\\", "a"), "stored first");
    EXPECT_EQ(StoredNote("e:\\", "ab"), "");
    EXPECT_EQ(StoredNote("e:\\", "A"), "stored later");
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdNote"), "disc note");
    EXPECT_EQ(StoredDisc("f: [MORE]", "CdNote"), "more note");
}

TEST_F(NotePictureTest, FileNoteChangesOnlyTheBrowsedDiscsRecordWhereAnotherDiscHasTheSamePathAndName)
{
    // A later disc read from the same drive letter, with the same file at the same path.
    AppendRecord(discs, {{"CdName", "e: [NEW]"}, {"Number", "2"}});
    AddFile("e: [NEW]", "e:\\", "readme.txt", 1, "new readme");
    SaveCat("Setup16=1\n");
    {
        auto form = OpenActive();
        OpenDisc(*form, "e: [NEW]");
        WriteNote(*form, "readme.txt", "changed", [](TAddNoteForm &d) {
            EXPECT_EQ(d.ui->Edit1->text().toStdString(), "new readme");
        });
    }
    EXPECT_EQ(StoredField(data + "/Cat.d", "Namecd", "e: [NEW]", "Note", "Name", "readme.txt"), "changed");
    EXPECT_EQ(StoredNote("e:\\", "readme.txt"), "root readme"); // e: [DATA]'s record, first in the table
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(NotePictureTest, DiscNoteIsOfferedOverTheTreeAndShowsAfterRestart)
{
    {
        auto form = OpenActive();
        OpenDisc(*form, "e: [DATA]");
        form->ui->TreeView1->setFocus();
        QApplication::processEvents();
        std::string shown;
        WriteNote(*form, "", "Holiday photos", [&](TAddNoteForm &d) {
            shown = d.ui->Edit1->text().toStdString();
            EXPECT_EQ(d.ui->Label1->text().toStdString(), "Note from CD : e: [DATA]");
        });
        EXPECT_EQ(shown, "\xC2\xA9" "1999/Rock");
        EXPECT_EQ(form->ui->StaticText4->text().toStdString(), "  Holiday photos");
        // Offered over the list and the tree only; nothing opens from another control.
        FocusList(*form);
        form->CatPopupMenuPopup();
        EXPECT_TRUE(form->ui->NotePopup->isEnabled());
        form->ui->SearchView->setFocus();
        QApplication::processEvents();
        form->CatPopupMenuPopup();
        EXPECT_FALSE(form->ui->NotePopup->isEnabled());
        bool opened = false;
        TMainForm::RunModal = [&](QDialog &) { return opened = true, 0; };
        form->NotePopupClick();
        EXPECT_FALSE(opened);
        // 60 two-byte letters typed into a field of 50 characters: 50 of them are kept.
        form->NoteMode = 1;
        TAddNoteForm dialog(form.get());
        dialog.ui->Edit1->insert(QString(60, QChar(0xE9)));
        EXPECT_EQ(dialog.ui->Edit1->text(), QString(50, QChar(0xE9)));
    }
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdNote"), "Holiday photos");
    auto again = OpenActive();
    EXPECT_EQ(again->Browse.CurrentDisc, "e: [DATA]");
    EXPECT_EQ(again->ui->StaticText4->text().toStdString(), "  Holiday photos");
}

TEST(NoteEditWidth, KeepsWholeCharactersWithinTheFieldWidth)
{
    TCharWidthValidator two(2, nullptr), five(5, nullptr);
    QString text = QString::fromUtf8("a\xC3\xA9\xE2\x82\xAC"); // a, e-acute (2 bytes), euro (3 bytes)
    int pos = int(text.size());
    EXPECT_EQ(two.validate(text, pos), QValidator::Acceptable);
    EXPECT_EQ(text, QString::fromUtf8("a\xC3\xA9"));
    EXPECT_EQ(pos, 2);
    QString japanese = QString::fromUtf8("\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5");
    five.validate(japanese, pos = 0);
    EXPECT_EQ(japanese.size(), 5) << "five characters, fifteen bytes";
    QString fits = QStringLiteral("abcde");
    five.validate(fits, pos = 0);
    EXPECT_EQ(fits, QStringLiteral("abcde"));
}

TEST(PictureFiles, ExtensionsChooseTheReader)
{
    const std::vector<std::pair<const char *, TPictureKind>> cases = {
        {"photo.jpeg", TPictureKind::Jpeg}, {"photo.JPG", TPictureKind::Jpeg}, {"photo.Jpg", TPictureKind::Jpeg},
        {"/a.b/pic.bmp", TPictureKind::Bitmap}, {"x.ico", TPictureKind::Icon}, {"x.wmf", TPictureKind::Metafile},
        {"x.Emf", TPictureKind::Metafile}, {"x.gif", TPictureKind::None}, {"x.png", TPictureKind::None}};
    for (const auto &[name, kind] : cases)
        EXPECT_EQ(PictureKindOfExtension(UpperExtensionOf(name)), kind) << name;
    EXPECT_EQ(UpperExtensionOf("/dir.d/noext"), "");
}

TEST(PictureFiles, EveryFormatDecodesToItsPicture)
{
    const QImage source = TwoColours(64, 32);
    for (auto [format, decode] : {std::pair{"JPEG", &DecodeJpeg}, std::pair{"BMP", &DecodeBitmap},
                                  std::pair{"ICO", &DecodeIcon}, std::pair{"CMYK", &DecodeJpeg}}) {
        const TPictureResult r = decode(std::string(format) == "CMYK" ? CmykJpeg(64, 32) : Encode(source, format));
        ASSERT_FALSE(r.image.isNull()) << format << ": " << r.error;
        EXPECT_EQ(r.image.size(), QSize(64, 32)) << format;
        EXPECT_TRUE(Near(r.image.pixel(5, 16), qRgb(255, 0, 0))) << format;
        EXPECT_TRUE(Near(r.image.pixel(58, 16), qRgb(0, 0, 255))) << format;
    }
    const TPictureResult wmf = DecodeMetafile(MakeWmf()), wmfText = DecodeMetafile(MakeWmf(true));
    ASSERT_FALSE(wmf.image.isNull()) << wmf.error;
    ASSERT_FALSE(wmfText.image.isNull()) << wmfText.error;
    EXPECT_TRUE(Near(wmf.image.pixel(wmf.image.width() / 2, wmf.image.height() / 2), qRgb(0, 255, 0)));
    // Text drawn with the library's own fonts, near (10, 40) of 100 x 100.
    const QImage &wt = wmfText.image;
    EXPECT_GT(DarkPixels(wt, wt.width() * 8 / 100, wt.width() * 35 / 100, wt.height() * 40 / 100,
                         wt.height() * 65 / 100),
              10);
    const TPictureResult emf = DecodeMetafile(MakeEmf());
    ASSERT_FALSE(emf.image.isNull()) << emf.error;
    EXPECT_EQ(emf.image.size(), QSize(200, 100));
    // Rectangle, ellipse, line, background, polygon, bitmap.
    for (const auto &[x, y, colour] : std::vector<std::tuple<int, int, QRgb>>{
             {50, 50, qRgb(255, 255, 0)}, {150, 60, qRgb(255, 0, 0)}, {150, 5, qRgb(0, 0, 255)},
             {195, 95, qRgb(255, 255, 255)}, {112, 92, qRgb(0, 255, 0)}, {25, 25, qRgb(255, 0, 255)}})
        EXPECT_TRUE(Near(emf.image.pixel(x, y), colour)) << x << "," << y;
    EXPECT_GT(DarkPixels(emf.image, 20, 60, 55, 80), 20); // text
}

// Poly-polygons fill their parts as one shape; poly-polylines only draw
// their parts in the pen, whatever brush is selected.
TEST(PictureFiles, PolyPolygonsFillTheirPartsAndPolyPolylinesOnlyStroke)
{
    std::string body;
    // A green brush and no pen; POLYPOLYGON16 of two squares.
    Put(body, {39, 24, 1, 0, 0x0000FF00, 0, 37, 12, 1, 37, 12, 0x80000008});
    Put(body, {91, 72, 0, 0, 99, 99, 2, 8, 4, 4});
    Put(body, {10, 10, 40, 10, 40, 40, 10, 40, 60, 60, 90, 60, 90, 90, 60, 90}, 2);
    // A blue pen 3 wide; POLYPOLYLINE16 of a closed triangle and a line.
    Put(body, {38, 28, 2, 0, 3, 0, 0x00FF0000, 37, 12, 2});
    Put(body, {90, 64, 0, 0, 99, 99, 2, 6, 4, 2});
    Put(body, {10, 60, 40, 60, 25, 90, 10, 60, 60, 20, 90, 20}, 2);
    Put(body, {14, 20, 0, 16, 20}); // EOF
    const TPictureResult emf = DecodeEmf(EmfHeader(100, 100, body.size(), 9, 3) + body);
    ASSERT_FALSE(emf.image.isNull()) << emf.error;
    ASSERT_EQ(emf.image.size(), QSize(100, 100));
    for (const auto &[x, y, colour] : std::vector<std::tuple<int, int, QRgb>>{
             {25, 25, qRgb(0, 255, 0)}, {75, 75, qRgb(0, 255, 0)}, {50, 50, qRgb(255, 255, 255)},
             {25, 60, qRgb(0, 0, 255)}, {75, 20, qRgb(0, 0, 255)}, {25, 72, qRgb(255, 255, 255)}})
        EXPECT_TRUE(Near(emf.image.pixel(x, y), colour)) << x << "," << y;
}

TEST(PictureFiles, DamagedInputIsRefusedWithAReason)
{
    const std::string jpeg = Encode(TwoColours(64, 32), "JPEG");
    EXPECT_TRUE(DecodeJpeg(jpeg.substr(0, 20)).image.isNull());
    EXPECT_FALSE(DecodeJpeg("not a jpeg").error.empty());
    EXPECT_TRUE(DecodeJpeg("").image.isNull());
    EXPECT_TRUE(DecodeBitmap("BM garbage").image.isNull());
    EXPECT_TRUE(DecodeIcon(std::string(6, '\0')).image.isNull());
    // Every cut of either metafile, and forged record sizes, are read without
    // reading past the end.
    const std::string emf = MakeEmf(), wmf = MakeWmf();
    for (size_t n = 0; n < emf.size(); ++n)
        DecodeEmf(emf.substr(0, n));
    for (size_t n = 0; n < wmf.size(); ++n)
        DecodeWmf(wmf.substr(0, n));
    auto forged = [](std::string bytes, size_t at, uint32_t value, int width) {
        for (int k = 0; k < width; ++k)
            bytes[at + size_t(k)] = char((value >> (8 * k)) & 0xFF);
        return bytes;
    };
    for (size_t at = 0; at + 4 <= emf.size(); at += 4)
        for (uint32_t value : {0u, 4u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu})
            DecodeEmf(forged(emf, at, value, 4));
    for (size_t at = 22; at + 2 <= wmf.size(); at += 2)
        for (uint32_t value : {0u, 0x7FFFu, 0xFFFFu})
            DecodeWmf(forged(wmf, at, value, 2));
    EXPECT_TRUE(DecodeEmf(forged(emf, 92, 0x7F7F7FFC, 4)).image.isNull());
    EXPECT_TRUE(DecodeWmf("short").image.isNull());
}

TEST_F(NotePictureTest, DroppedJpegBecomesTheDiscThumbnailAfterRestart)
{
    const std::string photo = dir.write("photo.JPG", Encode(TwoColours(400, 100), "JPEG"));
    const std::string text = dir.write("notes.txt", "text");
    {
        auto form = OpenActive();
        OpenDisc(*form, "f: [MORE]");
        // Kind 3 without a picture shows the diskette.
        EXPECT_EQ(form->ui->CDImage->pixmap().toImage(), form->DisketteBmp.toImage());
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(text)), QUrl::fromLocalFile(QString::fromStdString(photo))});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form->ui->CDImage, &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(form->ui->CDImage, &drop);
        EXPECT_TRUE(drop.isAccepted());
        EXPECT_EQ(drop.dropAction(), Qt::CopyAction); // copy only, whatever the keys
        QApplication::processEvents();
        const QImage shown = form->ui->CDImage->pixmap().toImage();
        EXPECT_EQ(shown.size(), QSize(100, 100));
        EXPECT_TRUE(Near(shown.pixel(10, 50), qRgb(255, 0, 0)));
    }
    EXPECT_TRUE(prompt.Asked().empty()); // the text file is ignored silently
    // Stored as a bitmap, squeezed to fill the whole square (no white bands).
    const std::string stored = StoredDisc("f: [MORE]", "CdPicture");
    QImage thumb;
    ASSERT_EQ(stored.substr(0, 2), "BM");
    ASSERT_TRUE(thumb.loadFromData(reinterpret_cast<const uchar *>(stored.data()), int(stored.size())));
    EXPECT_EQ(thumb.size(), QSize(100, 100));
    EXPECT_TRUE(Near(thumb.pixel(90, 50), qRgb(0, 0, 255)));
    EXPECT_TRUE(Near(thumb.pixel(10, 1), qRgb(255, 0, 0)));
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), "");
    auto again = OpenActive();
    OpenDisc(*again, "f: [MORE]");
    EXPECT_TRUE(Near(again->ui->CDImage->pixmap().toImage().pixel(10, 50), qRgb(255, 0, 0)));
    // Deleting brings the kind's picture back, on disc too.
    again->DeleteImageToolButtonClick();
    EXPECT_EQ(again->ui->CDImage->pixmap().toImage(), again->DisketteBmp.toImage());
    EXPECT_EQ(StoredDisc("f: [MORE]", "CdPicture"), "");
}

TEST_F(NotePictureTest, DamagedPictureKeepsTheOldOneAndNamesTheFile)
{
    const std::string good = dir.write("good.bmp", Encode(TwoColours(50, 50), "BMP"));
    const std::string jpeg = Encode(TwoColours(64, 64), "JPEG");
    const std::string bad = dir.write("broken.jpg", jpeg.substr(0, jpeg.size() / 3) + std::string(16, 'x'));
    auto form = OpenActive();
    ASSERT_TRUE(form->LoadCdPicture(".BMP", good));
    const std::string before = StoredDisc("e: [DATA]", "CdPicture");
    ASSERT_FALSE(before.empty());
    EXPECT_FALSE(form->LoadCdPicture(".JPG", bad));
    EXPECT_EQ(form->CdNameTable->State(), dsBrowse);
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), before);
    EXPECT_EQ(form->CdNameTable->FieldByName("CdPicture").AsBytes(), before);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_NE(prompt.Asked()[0].text.toStdString().find("broken.jpg"), std::string::npos);
    // Cut short, which the library would fill with grey.
    const std::string cut = dir.write("cut.jpg", jpeg.substr(0, jpeg.size() / 2));
    EXPECT_FALSE(form->LoadCdPicture(".JPG", cut));
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), before);
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_NE(prompt.Asked()[1].text.toStdString().find("cut.jpg"), std::string::npos);
    // A picture dialog's choice goes the same way; GIF and PNG are ignored.
    const auto dialog = TMainForm::OpenPictureDialog1;
    std::string chosen = dir.write("p.png", Encode(TwoColours(8, 8), "PNG"));
    TMainForm::OpenPictureDialog1 = [&](QWidget *, const QString &, const QString &) { return chosen; };
    form->ui->LoadImageMenu->trigger();
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), before);
    chosen = dir.write("drawing.emf", MakeEmf());
    form->ui->LoadImagePopup->trigger();
    TMainForm::OpenPictureDialog1 = dialog;
    EXPECT_NE(StoredDisc("e: [DATA]", "CdPicture"), before);
    EXPECT_EQ(prompt.Asked().size(), 2u);
}

TEST_F(NotePictureTest, PictureBoxStaysAliveWhileAPictureIsReadAndRefusesAPipeAtOnce)
{
    const TPictureDecoderLimits limits = PictureDecoderLimits();
    // Low enough that a reader waiting on the pipe fails the test soon.
    PictureDecoderLimits().wallMilliseconds = 3000;
    const std::string first = dir.write("first.jpg", Encode(TwoColours(1600, 1200), "JPEG"));
    const std::string second = dir.write("second.bmp", Encode(TwoColours(40, 40).mirrored(true, false), "BMP"));
    auto form = OpenActive();
    // While the first is read, the window's timers run, under the busy
    // cursor; a second file asked for then (as a drop would) waits its turn.
    int ticks = 0;
    bool busy = false, secondAsked = false;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        busy = busy || (QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
        if (!secondAsked) {
            secondAsked = true;
            EXPECT_FALSE(form->LoadCdPicture(".BMP", second));
        }
    });
    timer.start();
    ASSERT_TRUE(form->LoadCdPicture(".JPG", first));
    timer.stop();
    EXPECT_GT(ticks, 0);
    EXPECT_TRUE(busy);
    EXPECT_TRUE(Near(form->ui->CDImage->pixmap().toImage().pixel(10, 50), qRgb(255, 0, 0)));
    const auto started = std::chrono::steady_clock::now();
    while (!Near(form->ui->CDImage->pixmap().toImage().pixel(10, 50), qRgb(0, 0, 255)) &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(20))
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(Near(form->ui->CDImage->pixmap().toImage().pixel(10, 50), qRgb(0, 0, 255)));
    const std::string before = StoredDisc("e: [DATA]", "CdPicture");
    EXPECT_TRUE(Near(QImage::fromData(QByteArray::fromStdString(before)).pixel(10, 50), qRgb(0, 0, 255)));
    // A named pipe is no picture: refused with its reason, the disc keeps its picture.
    const std::string pipe = dir.file("pipe.jpg");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(form->LoadCdPicture(".JPG", pipe));
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_NE(prompt.Asked()[0].text.toStdString().find("pipe.jpg cannot be read (not a regular file)"),
              std::string::npos)
        << prompt.Asked()[0].text.toStdString();
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), before);
    PictureDecoderLimits() = limits;
}

TEST_F(NotePictureTest, WindowClosedWhileAPictureIsReadStoresNothingAndSaysNothing)
{
    const std::string picture = dir.write("big.jpg", Encode(TwoColours(1600, 1200), "JPEG"));
    auto form = OpenActive();
    const std::string before = StoredDisc("e: [DATA]", "CdPicture");
    bool closed = false;
    QTimer::singleShot(1, [&] { closed = form->close(); });
    EXPECT_FALSE(form->LoadCdPicture(".JPG", picture));
    EXPECT_TRUE(closed);
    for (const auto &asked : prompt.Asked())
        ADD_FAILURE() << asked.text.toStdString();
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), before);
}

// The window system's request to close the window, made while a picture is decoded, waits with
// the user's input until the decode has ended. A picture that cannot be read then shows its
// message, which blocked the window and dropped the request: the window stayed open.
TEST_F(NotePictureTest, WindowClosedWhileAPictureThatCannotBeReadIsDecodedClosesAfterTheMessage)
{
    const std::string picture = dir.write("broken.jpg", std::string("\xFF\xD8\xFF\xE0") + std::string(4000, 'x'));
    auto form = OpenActive();
    const std::string before = StoredDisc("e: [DATA]", "CdPicture");
    ActingPrompt acting;
    PromptScope scope(acting);
    bool openAtMessage = false;
    acting.Actions = {[&] { return openAtMessage = form->isVisible(), PromptResult::Ok; }};
    // Asked as soon as the decode has ended (its busy cursor gone), which is when the request comes.
    bool asked = false;
    QTimer windowSystem;
    QObject::connect(&windowSystem, &QTimer::timeout, [&] {
        if (asked || QApplication::overrideCursor())
            return;
        asked = true;
        form->windowHandle()->close();
    });
    windowSystem.start(0);
    EXPECT_FALSE(form->LoadCdPicture(".JPG", picture));
    windowSystem.stop();
    ASSERT_EQ(acting.Asked.size(), 1u);
    EXPECT_NE(acting.Asked[0].text.toStdString().find("broken.jpg cannot be read"), std::string::npos)
        << acting.Asked[0].text.toStdString();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(openAtMessage);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->HasCatalog());
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), before);
}

namespace {

// The JPEG's frame header made to claim w x h.
std::string ClaimSize(std::string jpeg, uint16_t w, uint16_t h)
{
    for (size_t i = 0; i + 9 < jpeg.size(); ++i)
        if (uint8_t(jpeg[i]) == 0xFF && (uint8_t(jpeg[i + 1]) == 0xC0 || uint8_t(jpeg[i + 1]) == 0xC2)) {
            jpeg[i + 5] = char(h >> 8), jpeg[i + 6] = char(h & 0xFF);
            jpeg[i + 7] = char(w >> 8), jpeg[i + 8] = char(w & 0xFF);
            return jpeg;
        }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

// The sanitizer's shadow memory takes terabytes of addresses: its build holds
// the decoder to a resident size the sanitizer watches instead, which it
// checks only now and then.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceLimited = false;
#else
constexpr bool kAddressSpaceLimited = true;
#endif

class PictureDecoderTest : public ::testing::Test {
protected:
    void SetUp() override { saved = PictureDecoderLimits(); }
    void TearDown() override { PictureDecoderLimits() = saved; }
    TPictureDecoderLimits saved;
    orbtest::TempDir dir;
};

} // namespace

TEST_F(PictureDecoderTest, HostilePicturesAreRefusedWithinTheLimits)
{
    // Tight enough to keep the test short, loose enough for any fair picture
    // of this size (in the sanitizer build too).
    PictureDecoderLimits() = {uint64_t(256) << 20, 3, 10000};
    const std::string progressive = MakeJpeg(16, 16, false, true), plain = MakeJpeg(64, 64, false);
    const std::vector<std::tuple<const char *, TPictureKind, std::string, const char *>> cases = {
        {"claims 20000.jpg", TPictureKind::Jpeg, ClaimSize(progressive, 20000, 20000), "too large (20000 x 20000)"},
        {"claims 65000.jpg", TPictureKind::Jpeg, ClaimSize(progressive, 65000, 65000), "too large (65000 x 65000)"},
        // Within the pixel count, but its coefficients alone need more memory than the decoder may have.
        {"claims 14000.jpg", TPictureKind::Jpeg, ClaimSize(progressive, 14000, 14000),
         kAddressSpaceLimited ? "too large to decode" : ""},
        {"truncated.jpg", TPictureKind::Jpeg, plain.substr(0, plain.size() / 2), "Premature end"},
        {"wide pen.emf", TPictureKind::Metafile, ZigzagEmf(5000, 5000), "pen wider than the picture"},
        {"zigzag.emf", TPictureKind::Metafile, ZigzagEmf(1, 5000, true), "fills too intricate"},
        {"font 0.wmf", TPictureKind::Metafile, MakeWmf(true, 0), ""}};
    for (const auto &[name, kind, bytes, why] : cases) {
        const auto start = std::chrono::steady_clock::now();
        const TThumbnailResult r = LoadPictureThumbnail(kind, dir.write(name, bytes), 100, 100);
        // A bound against a freeze, far above the limits, not a speed target.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << name;
        EXPECT_TRUE(r.image.isNull()) << name;
        EXPECT_NE(r.error.find(why), std::string::npos) << name << ": " << r.error;
        EXPECT_GT(r.decoderPeakKiB, 0) << name;
        if (kAddressSpaceLimited) {
            EXPECT_LT(uint64_t(r.decoderPeakKiB), PictureDecoderLimits().addressSpace / 1024) << name;
        }
    }
    // A named pipe nobody writes to is turned away at once, not waited on
    // until the wall time ends the decoder.
    const std::string pipe = dir.file("pipe.jpg");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    PictureDecoderLimits().wallMilliseconds = 5000;
    EXPECT_EQ(LoadPictureThumbnail(TPictureKind::Jpeg, pipe, 100, 100).error, "not a regular file");
    PictureDecoderLimits().wallMilliseconds = 10000;
    // Fair pictures pass the same limits, the thumbnail made in the decoder: a
    // wide pen over many crossing lines among them.
    const TThumbnailResult lines =
        LoadPictureThumbnail(TPictureKind::Metafile, dir.write("lines.emf", ZigzagEmf(500, 5000)), 100, 100);
    ASSERT_FALSE(lines.image.isNull()) << lines.error;
    EXPECT_TRUE(Near(lines.image.pixel(50, 50), qRgb(255, 0, 0)));
    const TThumbnailResult fair = LoadPictureThumbnail(TPictureKind::Jpeg, dir.write("fair.jpg", plain), 100, 100);
    ASSERT_FALSE(fair.image.isNull()) << fair.error;
    EXPECT_EQ(fair.image.size(), QSize(100, 100));
    EXPECT_TRUE(Near(fair.image.pixel(10, 50), qRgb(255, 0, 0)));
    EXPECT_TRUE(Near(fair.image.pixel(90, 50), qRgb(0, 0, 255)));
    // A file that is not there is named as unreadable, not as a dead decoder.
    EXPECT_EQ(LoadPictureThumbnail(TPictureKind::Jpeg, dir.file("none.jpg"), 100, 100).error, "cannot be opened");
}

TEST_F(PictureDecoderTest, WaitKeepsTheWindowThreadsEventsGoingAndGivesTheSameThumbnail)
{
    const std::string jpeg = Encode(TwoColours(1600, 1200), "JPEG");
    const std::string file = dir.write("wide.jpg", jpeg);
    int ticks = 0;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    const TThumbnailResult r = LoadPictureThumbnail(TPictureKind::Jpeg, file, 100, 100);
    timer.stop();
    EXPECT_GT(ticks, 0) << "the timer never ran while the decoder worked";
    ASSERT_FALSE(r.image.isNull()) << r.error;
    // The same thumbnail as the readers give in this process.
    EXPECT_EQ(r.image, StretchPicture(DecodeJpeg(jpeg).image, 100, 100).convertToFormat(QImage::Format_RGB32));
}

TEST_F(PictureDecoderTest, ManyMetafileDecodesLeaveTheProgramsMemoryAsItWas)
{
    // Each 1024 x 1024 drawing the metafile library renders stays allocated
    // until its process ends: 4 MiB a picture, were it this process.
    const std::string wmf = dir.write("big.wmf", MakeWmf(false, 20, 1365, 0, 1365));
    auto residentKiB = [] {
        std::ifstream statm("/proc/self/statm");
        long size = 0, resident = 0;
        statm >> size >> resident;
        return resident * (::sysconf(_SC_PAGESIZE) / 1024);
    };
    ASSERT_FALSE(LoadPictureThumbnail(TPictureKind::Metafile, wmf, 100, 100).image.isNull());
    const long before = residentKiB();
    for (int i = 0; i < 100; ++i) {
        const TThumbnailResult r = LoadPictureThumbnail(TPictureKind::Metafile, wmf, 100, 100);
        ASSERT_FALSE(r.image.isNull()) << r.error;
        EXPECT_TRUE(Near(r.image.pixel(50, 50), qRgb(0, 255, 0)));
    }
    // Far below the 400 MiB the drawings would hold here; the margin takes the
    // sanitizer's quarantine and the allocator's own growth, which vary by run.
    EXPECT_LT(residentKiB() - before, 100 * 1024);
}

TEST(PictureFiles, MetafileFrameKeepsTheMarginsOfTheDrawing)
{
    // A 200-unit frame with the rectangle from 50 to 150: a quarter margin on
    // every side, as an enhanced metafile keeps its frame.
    const TPictureResult r = DecodeWmf(MakeWmf(false, 20, 200, 50, 150));
    ASSERT_FALSE(r.image.isNull()) << r.error;
    const QImage thumb = StretchPicture(r.image, 100, 100);
    for (const auto &[x, y, colour] : std::vector<std::tuple<int, int, QRgb>>{
             {5, 5, qRgb(255, 255, 255)}, {20, 50, qRgb(255, 255, 255)}, {95, 95, qRgb(255, 255, 255)},
             {50, 80, qRgb(255, 255, 255)}, {30, 30, qRgb(0, 255, 0)}, {50, 50, qRgb(0, 255, 0)},
             {70, 70, qRgb(0, 255, 0)}})
        EXPECT_TRUE(Near(thumb.pixel(x, y), colour)) << x << "," << y;
}

namespace {

// A placeable Windows metafile of a w x h window, its frame the window, at
// `inch` units to the inch: a solid red brush selected, the pen left as the
// drawing begins, then the records (function and parameters) given.
std::string ShapesWmf(uint32_t w, uint32_t h, uint32_t inch, const TWmfRecords &shapes)
{
    TWmfRecords recs = {{0x020C, {h, w}},            // window extent
                        {0x020B, {0, 0}},            // window origin
                        {0x02FC, {0, 0x00FF, 0, 0}}, // a solid red brush
                        {0x012D, {0}}};              // selected
    recs.insert(recs.end(), shapes.begin(), shapes.end());
    return PlaceableWmf(w, h, inch, 1, recs);
}

// Pixels of two pictures of one size that differ by more than the slack.
int DifferingPixels(const QImage &a, const QImage &b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += !Near(a.pixel(x, y), b.pixel(x, y));
    return n;
}

} // namespace

// A metafile is drawn at the thumbnail's size, whatever units its frame is
// measured in: its shapes filled, on white, over the whole thumbnail, and its
// thinnest outlines a pixel wide.
TEST_F(PictureDecoderTest, MetafilesAreDrawnFilledToFillTheThumbnail)
{
    // 400 x 100 units, shapes from a tenth to nine tenths of each side.
    const std::vector<std::pair<uint16_t, std::vector<uint32_t>>> rectangle = {{0x041B, {90, 360, 10, 40}}};
    const std::vector<std::pair<uint16_t, std::vector<uint32_t>>> ellipse = {{0x0418, {90, 360, 10, 40}}};
    std::map<std::string, QImage> thumbs;
    for (const auto &[name, shapes] : {std::pair{"rectangle", rectangle}, std::pair{"ellipse", ellipse}}) {
        for (uint32_t inch : {1440u, 96u}) {
            const std::string file = name + std::string(" ") + std::to_string(inch) + ".wmf";
            const TThumbnailResult r = LoadPictureThumbnail(
                TPictureKind::Metafile, dir.write(file, ShapesWmf(400, 100, inch, shapes)), 100, 100);
            ASSERT_FALSE(r.image.isNull()) << file << ": " << r.error;
            ASSERT_EQ(r.image.size(), QSize(100, 100));
            thumbs[file] = r.image;
            const QImage &t = r.image;
            // White around, red within, from one tenth to nine tenths across.
            for (const auto &[x, y] :
                 std::vector<std::pair<int, int>>{{2, 2}, {97, 2}, {2, 97}, {97, 97}, {5, 50}, {50, 5}})
                EXPECT_TRUE(Near(t.pixel(x, y), qRgb(255, 255, 255))) << file << " " << x << "," << y;
            for (const auto &[x, y] :
                 std::vector<std::pair<int, int>>{{50, 50}, {14, 50}, {86, 50}, {50, 14}, {50, 86}})
                EXPECT_TRUE(Near(t.pixel(x, y), qRgb(255, 0, 0))) << file << " " << x << "," << y;
        }
        // The same drawing in other units is the same thumbnail.
        const std::string each = name + std::string(" ");
        EXPECT_LT(DifferingPixels(thumbs[each + "1440.wmf"], thumbs[each + "96.wmf"]), 100) << name;
    }
    // The ellipse's box is white beyond its curve.
    EXPECT_TRUE(Near(thumbs["ellipse 1440.wmf"].pixel(14, 14), qRgb(255, 255, 255)));
    // An enhanced metafile of 20 x 5 pixels: a red rectangle from a tenth to
    // nine tenths across and a fifth to four fifths down, edged in the pen of
    // a pixel it begins with, drawn sharp at the thumbnail's size.
    std::string body;
    Put(body, {39, 24, 1, 0, 0x000000FF, 0, 37, 12, 1}); // a red brush, selected
    Put(body, {43, 24, 2, 1, 18, 4});                    // RECTANGLE
    Put(body, {14, 20, 0, 16, 20});                      // EOF
    const TThumbnailResult emf = LoadPictureThumbnail(
        TPictureKind::Metafile, dir.write("small.emf", EmfHeader(20, 5, body.size(), 4, 2) + body), 100, 100);
    ASSERT_FALSE(emf.image.isNull()) << emf.error;
    const QRgb red = qRgb(255, 0, 0), white = qRgb(255, 255, 255);
    for (const auto &[x, y, colour] : std::vector<std::tuple<int, int, QRgb>>{
             {50, 50, red}, {13, 50, red}, {87, 25, red}, {7, 50, white}, {50, 16, white}, {93, 50, white},
             {50, 84, white}})
        EXPECT_TRUE(Near(emf.image.pixel(x, y), colour)) << x << "," << y;
}

// A chord fills the part of the ellipse its line cuts off, a pie its slice.
TEST(PictureFiles, WmfChordsAndPiesFillTheirOwnParts)
{
    // From the top of the ellipse anticlockwise to its left: the top left quarter.
    // End and start (y, x), then bottom, right, top and left.
    const std::vector<uint32_t> box = {50, 0, 0, 50, 100, 100, 0, 0};
    const TPictureResult chord = DecodeMetafile(ShapesWmf(100, 100, 96, {{0x0830, box}}), QSize(100, 100));
    ASSERT_FALSE(chord.image.isNull()) << chord.error;
    ASSERT_EQ(chord.image.size(), QSize(100, 100));
    const TPictureResult pie = DecodeMetafile(ShapesWmf(100, 100, 96, {{0x081A, box}}), QSize(100, 100));
    ASSERT_FALSE(pie.image.isNull()) << pie.error;
    // Beyond the chord's line, within its line and the centre, elsewhere.
    EXPECT_TRUE(Near(chord.image.pixel(20, 20), qRgb(255, 0, 0)));
    EXPECT_TRUE(Near(chord.image.pixel(35, 35), qRgb(255, 255, 255)));
    EXPECT_TRUE(Near(chord.image.pixel(70, 70), qRgb(255, 255, 255)));
    EXPECT_TRUE(Near(pie.image.pixel(20, 20), qRgb(255, 0, 0)));
    EXPECT_TRUE(Near(pie.image.pixel(35, 35), qRgb(255, 0, 0)));
    EXPECT_TRUE(Near(pie.image.pixel(70, 70), qRgb(255, 255, 255)));
}

// ---- A pen of no width, and the limits the decoder is started under.

// A pen made with width 0 is a pixel wide at whatever size the picture is
// drawn; a pen one unit wide grows with it.
TEST(PictureFiles, EmfPenOfNoWidthStaysOnePixelAtAnySize)
{
    auto line = [](uint32_t penWidth) {
        std::string body;
        Put(body, {38, 28, 1, 0, penWidth, 0, 0x00FF0000}); // CREATEPEN: index, style, width, colour
        Put(body, {37, 12, 1});                             // SELECTOBJECT
        Put(body, {27, 16, 0, 5, 54, 16, 9, 5});            // MOVETOEX, LINETO across the middle
        Put(body, {14, 20, 0, 16, 20});                     // EOF
        return EmfHeader(10, 10, body.size(), 5, 2) + body;
    };
    // Pixels of the line across the middle column.
    auto thickness = [](const QImage &image) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            n += qGray(image.pixel(image.width() / 2, y)) < 200;
        return n;
    };
    for (int side : {10, 100, 1000}) {
        SCOPED_TRACE(side);
        const TPictureResult thin = DecodeEmf(line(0), QSize(side, side));
        ASSERT_FALSE(thin.image.isNull()) << thin.error;
        ASSERT_EQ(thin.image.size(), QSize(side, side));
        EXPECT_GE(thickness(thin.image), 1);
        EXPECT_LE(thickness(thin.image), 2);
    }
    const TPictureResult wide = DecodeEmf(line(1), QSize(1000, 1000));
    ASSERT_FALSE(wide.image.isNull()) << wide.error;
    EXPECT_GE(thickness(wide.image), 90);
}

// The decoder starts under the limits of PictureDecoderLimits(): address
// space, processor time and no core file. A probe started in its place
// reports them; in the sanitizer build the helper's own watch on resident
// memory is given the same bound.
TEST_F(PictureDecoderTest, DecoderStartsUnderItsLimits)
{
    struct Probe {
        ~Probe() { PictureDecoderProgram().clear(); }
    } restore;
    const std::string probe = dir.write("probe.sh", "#!/bin/sh\n"
                                                    "{ ulimit -v; ulimit -t; ulimit -c; printf '%s\\n' \"$ASAN_OPTIONS\"; }"
                                                    " > \"$4.limits\"\n");
    std::filesystem::permissions(probe, std::filesystem::perms::owner_all);
    PictureDecoderProgram() = probe;
    PictureDecoderLimits() = {uint64_t(300) << 20, 7, 10000};
    const std::string file = dir.write("any.jpg", "x");
    const TThumbnailResult r = LoadPictureThumbnail(TPictureKind::Jpeg, file, 10, 10);
    EXPECT_EQ(r.error, "the picture decoder gave no answer");
    std::istringstream said(orbtest::readFile(file + ".limits"));
    std::string space, cpu, core, asan;
    std::getline(said, space);
    std::getline(said, cpu);
    std::getline(said, core);
    std::getline(said, asan);
    EXPECT_EQ(space, std::to_string(300 * 1024)) << "address space in KiB";
    EXPECT_EQ(cpu, "7");
    EXPECT_EQ(core, "0");
    if (kAddressSpaceLimited)
        EXPECT_EQ(asan.find("hard_rss_limit_mb"), std::string::npos) << asan;
    else
        EXPECT_TRUE(asan.ends_with(":hard_rss_limit_mb=300")) << asan;
}
