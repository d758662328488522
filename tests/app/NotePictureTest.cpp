// Notes of files and discs and disc pictures in the main window, checked in
// the table files the commands save, and the picture readers fed generated
// files of every kind (and damaged ones).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>

#include <cstdio>
#include <filesystem>

extern "C" {
#include <jpeglib.h>
}

#include "app/AddNote.h"
#include "app/CatalogTables.h"
#include "app/FileListView.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/MainPictureFiles.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_AddNoteForm.h"
#include "ui_MainForm.h"

#include "MainFormTestSupport.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Picture fixtures, written from their formats' layouts.

void Put16(std::string &s, uint32_t v)
{
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
void Put32(std::string &s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
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

// A placeable Windows metafile: a black-bordered rectangle filled green over
// the whole 100 x 100 picture.
std::string MakeWmf(bool text = false)
{
    std::string records;
    uint32_t largest = 0;
    auto rec = [&](uint16_t function, std::initializer_list<uint16_t> params) {
        largest = std::max(largest, uint32_t(3 + params.size()));
        Put32(records, uint32_t(3 + params.size()));
        Put16(records, function);
        for (uint16_t p : params)
            Put16(records, p);
    };
    rec(0x020C, {100, 100});                     // SETWINDOWEXT (y, x)
    rec(0x020B, {0, 0});                         // SETWINDOWORG
    rec(0x02FC, {0 /*BS_SOLID*/, 0xFF00, 0x0000, 0}); // CREATEBRUSHINDIRECT green (COLORREF 0x0000FF00)
    rec(0x012D, {0});                            // SELECTOBJECT 0
    rec(0x041B, {100, 100, 0, 0});               // RECTANGLE (bottom, right, top, left)
    if (text) {
        // CREATEFONTINDIRECT: height 20, the rest default, face "Arial".
        rec(0x02FB, {20, 0, 0, 0, 400, 0, 0, 0, 0, 0x6C41 /*"Al"*/, 0x6169 /*"ia"*/, 0x0000, 0});
        rec(0x012D, {1});
        rec(0x0521, {2, 0x4848 /*"HH"*/, 40, 10});  // TEXTOUT "HH" at (10, 40)
    }
    rec(0x0000, {});                             // end
    std::string header;
    Put16(header, 1);  // memory metafile
    Put16(header, 9);  // header words
    Put16(header, 0x0300);
    const uint32_t words = uint32_t(9 + records.size() / 2);
    Put32(header, words);
    Put16(header, 2);  // objects
    Put32(header, largest); // largest record in words
    Put16(header, 0);
    std::string placeable;
    Put32(placeable, 0x9AC6CDD7);
    Put16(placeable, 0);
    for (uint16_t v : {0, 0, 100, 100})
        Put16(placeable, v);
    Put16(placeable, 96); // units per inch
    Put32(placeable, 0);
    uint16_t sum = 0;
    for (size_t i = 0; i < placeable.size(); i += 2)
        sum ^= uint16_t(uint8_t(placeable[i]) | (uint8_t(placeable[i + 1]) << 8));
    Put16(placeable, sum);
    return placeable + header + records;
}

// An enhanced metafile 200 x 100: a solid yellow rectangle on the left half,
// a blue line and a red ellipse on the right.
std::string MakeEmf(bool eof = true)
{
    std::string body;
    auto rec = [&](uint32_t type, std::initializer_list<uint32_t> params) {
        Put32(body, type);
        Put32(body, uint32_t(8 + 4 * params.size()));
        for (uint32_t p : params)
            Put32(body, p);
    };
    rec(39, {1, 0 /*BS_SOLID*/, 0x0000FFFF /*yellow*/, 0}); // CREATEBRUSHINDIRECT
    rec(37, {1});                                           // SELECTOBJECT
    rec(37, {0x80000008});                                  // SELECTOBJECT NULL_PEN
    rec(43, {0, 0, 100, 100});                              // RECTANGLE
    rec(38, {2, 0 /*PS_SOLID*/, 3, 0, 0x00FF0000 /*blue*/}); // CREATEPEN
    rec(37, {2});
    rec(27, {110, 5});                                      // MOVETOEX
    rec(54, {190, 5});                                      // LINETO
    rec(39, {3, 0, 0x000000FF /*red*/, 0});
    rec(37, {3});
    rec(42, {120, 30, 180, 90});                            // ELLIPSE
    rec(39, {4, 0, 0x0000FF00 /*green*/, 0});
    rec(37, {4});
    // POLYGON16: bounds, count, then 16-bit points.
    Put32(body, 86);
    Put32(body, 8 + 16 + 4 + 3 * 4);
    for (uint32_t v : {102u, 60u, 118u, 99u, 3u})
        Put32(body, v);
    for (uint16_t v : {102, 99, 118, 60, 118, 99})
        Put16(body, v);
    // STRETCHDIBITS: a 2 x 2 magenta bitmap, 24 bits, stretched to 30 x 30 at (10, 10).
    {
        std::string bmi, bits;
        for (uint32_t v : {40u, 2u, 2u})
            Put32(bmi, v);
        Put16(bmi, 1);
        Put16(bmi, 24);
        for (int i = 0; i < 6; ++i)
            Put32(bmi, 0);
        for (int row = 0; row < 2; ++row)
            bits += std::string("\xFF\x00\xFF\xFF\x00\xFF\x00\x00", 8); // B G R x2, padded to 8
        Put32(body, 81);
        Put32(body, uint32_t(80 + bmi.size() + bits.size()));
        for (uint32_t v : {10u, 10u, 39u, 39u, 10u, 10u, 0u, 0u, 2u, 2u, 80u, uint32_t(bmi.size()),
                           uint32_t(80 + bmi.size()), uint32_t(bits.size()), 0u, 0x00CC0020u, 30u, 30u})
            Put32(body, v);
        body += bmi + bits;
    }
    // EXTTEXTOUTW: "HH" in black at (20, 55), with its spacing array.
    {
        const uint32_t size = 76 + 4 + 8;
        Put32(body, 84);
        Put32(body, size);
        for (uint32_t v : {0u, 0u, 199u, 99u, 1u})
            Put32(body, v);
        Put32(body, 0x3F800000); // x and y scale 1.0
        Put32(body, 0x3F800000);
        for (uint32_t v : {20u, 55u, 2u, 76u, 0x100u /*no rectangle*/, 0u, 0u, 0u, 0u, 80u})
            Put32(body, v);
        Put16(body, 'H');
        Put16(body, 'H');
        Put32(body, 14);
        Put32(body, 14);
    }
    if (eof)
        rec(14, {0, 16, 20});                               // EOF
    std::string header;
    Put32(header, 1);
    Put32(header, 88);
    for (uint32_t v : {0u, 0u, 199u, 99u})    // bounds
        Put32(header, v);
    for (uint32_t v : {0u, 0u, 5000u, 2500u}) // frame, 0.01 mm
        Put32(header, v);
    Put32(header, 0x464D4520);
    Put32(header, 0x10000);
    Put32(header, uint32_t(88 + body.size()));
    Put32(header, 12);
    Put16(header, 5); // handles, the reserved 0 included
    Put16(header, 0);
    for (int i = 0; i < 3; ++i)
        Put32(header, 0); // description, palette
    for (uint32_t v : {1024u, 768u, 320u, 240u})
        Put32(header, v);
    return header + body;
}

// A CMYK JPEG as print programs write it (values inverted, Adobe marker):
// left half red, right half blue.
std::string CmykJpeg(int w, int h)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(size_t(w) * 4);
    for (int x = 0; x < w; ++x) {
        // Inverted ink: red is full magenta and yellow, blue full cyan and magenta.
        const bool red = x < w / 2;
        row[size_t(x) * 4 + 0] = red ? 255 : 0;
        row[size_t(x) * 4 + 1] = 0;
        row[size_t(x) * 4 + 2] = red ? 0 : 255;
        row[size_t(x) * 4 + 3] = 255;
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out(reinterpret_cast<const char *>(buffer), size);
    std::free(buffer);
    return out;
}

QRgb At(const QImage &image, int x, int y) { return image.pixel(x, y); }
bool Near(QRgb a, QRgb b, int slack = 40)
{
    return std::abs(qRed(a) - qRed(b)) <= slack && std::abs(qGreen(a) - qGreen(b)) <= slack &&
           std::abs(qBlue(a) - qBlue(b)) <= slack;
}

// ---------------------------------------------------------------------------

class NotePictureTest : public MainFormTablesTest {
protected:
    void TearDown() override
    {
        TMainForm::RunModal = nullptr;
        MainFormTablesTest::TearDown();
    }

    void AddFile(const std::string &disc, const std::string &path, const std::string &name, int type = 1,
                 const std::string &note = "")
    {
        files.Append();
        files.FieldByName("Path").SetAsString(path);
        files.FieldByName("Name").SetAsString(name);
        files.FieldByName("Namecd").SetAsString(disc);
        files.FieldByName("Number").SetAsString("1");
        files.FieldByName("Size").SetAsString("10");
        files.FieldByName("Type").SetAsInteger(type);
        files.FieldByName("Note").SetAsString(note);
        files.Post();
    }
    void AddDisc(const std::string &name, const std::string &note, int kind = 0)
    {
        discs.Append();
        discs.FieldByName("CdName").SetAsString(name);
        discs.FieldByName("Number").SetAsString("1");
        discs.FieldByName("CdNote").SetAsString(note);
        discs.FieldByName("CType").SetAsInteger(kind);
        discs.Post();
    }
    // One disc "e: [DATA]" whose root holds "docs", "a", "ab", "A" and
    // "readme.txt", and "docs" its own "readme.txt".
    void MakeCatalog()
    {
        AddDisc("e: [DATA]", "\xC2\xA9" "1999/Rock");
        AddDisc("f: [MORE]", "", 3);
        AddFile("e: [DATA]", "e:\\", "docs", 0);
        AddFile("e: [DATA]", "e:\\", "a");
        AddFile("e: [DATA]", "e:\\", "ab");
        AddFile("e: [DATA]", "e:\\", "A");
        AddFile("e: [DATA]", "e:\\", "readme.txt", 1, "root readme");
        AddFile("e: [DATA]", "e:\\docs\\", "readme.txt", 1, "");
        AddFile("f: [MORE]", "f:\\", "a", 1, "");
        files.SaveToFile(data + "/Cat.d");
        discs.SaveToFile(data + "/CdNames/Cat_cdname.d");
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup16=1\nSetup20=1\nSetup_Text4=Cat\n");
    }
    std::unique_ptr<TMainForm> Open()
    {
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->show();
        QApplication::setActiveWindow(form.get());
        QApplication::processEvents();
        return form;
    }
    static int RowNamed(TMainForm &form, const std::string &name)
    {
        const auto &rows = form.ui->LinksListView->Model()->Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == name)
                return int(i);
        return -1;
    }
    static void FocusList(TMainForm &form)
    {
        form.ui->LinksListView->ActiveView()->setFocus();
        QApplication::processEvents();
    }
    // Runs the note command on a list entry (or the tree) with `text` typed
    // into the dialog and OK clicked.
    static void WriteNote(TMainForm &form, const std::string &text)
    {
        TMainForm::RunModal = [text](QDialog &d) {
            auto &note = static_cast<TAddNoteForm &>(d);
            note.ui->Edit1->setText(QString::fromStdString(text));
            note.ui->OkButton->click();
            return 1;
        };
        form.NotePopupClick();
        TMainForm::RunModal = nullptr;
    }
    static void NoteOnFile(TMainForm &form, const std::string &name, const std::string &text)
    {
        form.ui->LinksListView->SelectRow(RowNamed(form, name));
        form.LinksListViewClick();
        FocusList(form);
        WriteNote(form, text);
    }
    // The note stored on disc for the file `path` + `name`.
    std::string StoredNote(const std::string &path, const std::string &name)
    {
        TFlatTable t;
        t.SetTableName(data + "/Cat.d");
        t.Open();
        for (t.First(); !t.Eof(); t.Next())
            if (t.FieldByName("Path").AsString() == path && t.FieldByName("Name").AsString() == name)
                return t.FieldByName("Note").AsString();
        return "<missing>";
    }
    std::string StoredDisc(const std::string &disc, const std::string &field)
    {
        TFlatTable t;
        t.SetTableName(data + "/CdNames/Cat_cdname.d");
        t.Open();
        for (t.First(); !t.Eof(); t.Next())
            if (t.FieldByName("CdName").AsString() == disc)
                return t.FieldByName(field).AsString();
        return "<missing>";
    }

};

} // namespace

// ---------------------------------------------------------------------------
// Notes

TEST_F(NotePictureTest, FileNoteGoesToTheSelectedFolderAndExactName)
{
    MakeCatalog();
    {
        auto form = Open();
        // Same name in two folders: the note goes to the one listed.
        form->ui->LinksListView->SelectRow(RowNamed(*form, "docs"));
        form->LinksListViewDblClick();
        ASSERT_GE(RowNamed(*form, "readme.txt"), 0);
        NoteOnFile(*form, "readme.txt", "in docs");
        // The entry stays selected and shows its new note.
        EXPECT_EQ(form->ui->StaticText6->text().toStdString(), "  in docs");
        form->BackButtonClick();
        // "a" beside "ab" and "A": each name gets its own note.
        NoteOnFile(*form, "A", "capital");
        NoteOnFile(*form, "a", "small");
        EXPECT_EQ(StoredNote("e:\\", "ab"), ""); // "a" is not a prefix match
        // The file table's own filter is back: the current disc's records.
        EXPECT_EQ(form->FlatTable1->RecordCount(), 6);
        // So is another filter installed before (a search's).
        bool asked = false;
        form->FlatTable1->SetOnFilterRecord([&](TDataSet *, bool &accept) { asked = accept = true; });
        NoteOnFile(*form, "ab", "ab note");
        asked = false;
        form->FlatTable1->Refresh();
        form->FlatTable1->First();
        EXPECT_TRUE(asked);
        EXPECT_EQ(form->FlatTable1->RecordCount(), 7);
    }
    EXPECT_EQ(StoredNote("e:\\docs\\", "readme.txt"), "in docs");
    EXPECT_EQ(StoredNote("e:\\", "readme.txt"), "root readme");
    EXPECT_EQ(StoredNote("e:\\", "a"), "small");
    EXPECT_EQ(StoredNote("e:\\", "A"), "capital");
    EXPECT_EQ(StoredNote("e:\\", "ab"), "ab note");
    // The same name on another disc is untouched.
    EXPECT_EQ(StoredNote("f:\\", "a"), "");
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(NotePictureTest, EmptyNoteClearsAndDialogShowsTheCurrentNote)
{
    MakeCatalog();
    {
        auto form = Open();
        form->ui->LinksListView->SelectRow(RowNamed(*form, "readme.txt"));
        form->LinksListViewClick();
        FocusList(*form);
        std::string shown, label;
        TMainForm::RunModal = [&](QDialog &d) {
            auto &note = static_cast<TAddNoteForm &>(d);
            shown = note.ui->Edit1->text().toStdString();
            label = note.ui->Label1->text().toStdString();
            note.ui->Edit1->clear();
            note.ui->OkButton->click();
            return 1;
        };
        form->NotePopupClick();
        EXPECT_EQ(shown, "root readme");
        EXPECT_EQ(label, "Note from file : readme.txt");
    }
    EXPECT_EQ(StoredNote("e:\\", "readme.txt"), "");
}

TEST_F(NotePictureTest, DiscNoteReplacesTheLookupTextAndShowsAfterRestart)
{
    MakeCatalog();
    {
        auto form = Open();
        ASSERT_GE(form->SelectTreeNodeByText("e: [DATA]"), 0);
        form->TreeView1Click();
        form->ui->TreeView1->setFocus();
        QApplication::processEvents();
        std::string shown;
        TMainForm::RunModal = [&](QDialog &d) {
            auto &note = static_cast<TAddNoteForm &>(d);
            shown = note.ui->Edit1->text().toStdString();
            EXPECT_EQ(note.ui->Label1->text().toStdString(), "Note from CD : e: [DATA]");
            note.ui->Edit1->setText("Holiday photos");
            note.ui->OkButton->click();
            return 1;
        };
        form->NotePopupClick();
        EXPECT_EQ(shown, "\xC2\xA9" "1999/Rock");
        EXPECT_EQ(form->ui->StaticText4->text().toStdString(), "  Holiday photos");
    }
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdNote"), "Holiday photos");
    auto again = Open();
    EXPECT_EQ(again->Browse.CurrentDisc, "e: [DATA]");
    EXPECT_EQ(again->ui->StaticText4->text().toStdString(), "  Holiday photos");
}

TEST_F(NotePictureTest, NoteCommandIsOfferedOnlyOverTheListAndTree)
{
    MakeCatalog();
    auto form = Open();
    FocusList(*form);
    form->CatPopupMenuPopup();
    EXPECT_TRUE(form->ui->NotePopup->isEnabled());
    form->ui->SearchView->setFocus();
    QApplication::processEvents();
    form->CatPopupMenuPopup();
    EXPECT_FALSE(form->ui->NotePopup->isEnabled());
    // Nothing opens from another control.
    bool opened = false;
    TMainForm::RunModal = [&](QDialog &) { return opened = true, 0; };
    form->NotePopupClick();
    EXPECT_FALSE(opened);
}

TEST(NoteEditWidth, KeepsWholeCharactersWithinTheFieldWidth)
{
    TCharWidthValidator v(2, nullptr);
    QString text = QString::fromUtf8("a\xC3\xA9\xE2\x82\xAC"); // a, e-acute (2 bytes), euro (3 bytes)
    int pos = text.size();
    EXPECT_EQ(v.validate(text, pos), QValidator::Acceptable);
    EXPECT_EQ(text, QString::fromUtf8("a\xC3\xA9"));
    EXPECT_EQ(pos, 2);
    TCharWidthValidator five(5, nullptr);
    QString japanese = QString::fromUtf8("\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5");
    pos = 0;
    five.validate(japanese, pos);
    EXPECT_EQ(japanese.size(), 5) << "five characters, fifteen bytes";
    QString fits = QStringLiteral("abcde");
    pos = 0;
    five.validate(fits, pos);
    EXPECT_EQ(fits, QStringLiteral("abcde"));
}

TEST_F(NotePictureTest, NoteBoxTakesNoMoreThanTheFieldStores)
{
    MakeCatalog();
    auto form = Open();
    form->NoteMode = 1;
    TAddNoteForm dialog(form.get());
    // 60 two-byte letters typed into a field of 50 characters: 50 of them are kept.
    dialog.ui->Edit1->insert(QString(60, QChar(0xE9)));
    EXPECT_EQ(dialog.ui->Edit1->text(), QString(50, QChar(0xE9)));
}

// ---------------------------------------------------------------------------
// Picture readers

TEST(PictureFiles, ExtensionsChooseTheReader)
{
    for (const char *name : {"photo.jpeg", "photo.JPG", "photo.Jpg"})
        EXPECT_EQ(PictureKindOfExtension(UpperExtensionOf(name)), TPictureKind::Jpeg) << name;
    EXPECT_EQ(PictureKindOfExtension(UpperExtensionOf("/a.b/pic.bmp")), TPictureKind::Bitmap);
    EXPECT_EQ(PictureKindOfExtension(UpperExtensionOf("x.ico")), TPictureKind::Icon);
    EXPECT_EQ(PictureKindOfExtension(UpperExtensionOf("x.wmf")), TPictureKind::Metafile);
    EXPECT_EQ(PictureKindOfExtension(UpperExtensionOf("x.Emf")), TPictureKind::Metafile);
    EXPECT_EQ(PictureKindOfExtension(UpperExtensionOf("x.gif")), TPictureKind::None);
    EXPECT_EQ(PictureKindOfExtension(UpperExtensionOf("x.png")), TPictureKind::None);
    EXPECT_EQ(UpperExtensionOf("/dir.d/noext"), "");
}

TEST(PictureFiles, EveryFormatDecodesToItsPicture)
{
    const QImage source = TwoColours(64, 32);
    for (auto [format, decode] : {std::pair{"JPEG", &DecodeJpeg}, std::pair{"BMP", &DecodeBitmap},
                                  std::pair{"ICO", &DecodeIcon}}) {
        const TPictureResult r = decode(Encode(source, format));
        ASSERT_FALSE(r.image.isNull()) << format << ": " << r.error;
        EXPECT_EQ(r.image.size(), QSize(64, 32)) << format;
        EXPECT_TRUE(Near(At(r.image, 5, 16), qRgb(255, 0, 0))) << format;
        EXPECT_TRUE(Near(At(r.image, 58, 16), qRgb(0, 0, 255))) << format;
    }
    const TPictureResult cmyk = DecodeJpeg(CmykJpeg(64, 32));
    ASSERT_FALSE(cmyk.image.isNull()) << cmyk.error;
    EXPECT_TRUE(Near(At(cmyk.image, 5, 16), qRgb(255, 0, 0)));
    EXPECT_TRUE(Near(At(cmyk.image, 58, 16), qRgb(0, 0, 255)));

    const TPictureResult wmf = DecodeMetafile(MakeWmf());
    ASSERT_FALSE(wmf.image.isNull()) << wmf.error;
    EXPECT_TRUE(Near(At(wmf.image, wmf.image.width() / 2, wmf.image.height() / 2), qRgb(0, 255, 0)));
    const TPictureResult wmfText = DecodeMetafile(MakeWmf(true));
    ASSERT_FALSE(wmfText.image.isNull()) << wmfText.error;
    // Text drawn with the library's own fonts, near (10, 40) of 100 x 100.
    int wmfDark = 0;
    const QImage &wt = wmfText.image;
    for (int y = wt.height() * 40 / 100; y < wt.height() * 65 / 100; ++y)
        for (int x = wt.width() * 8 / 100; x < wt.width() * 35 / 100; ++x)
            wmfDark += qGray(At(wt, x, y)) < 100;
    EXPECT_GT(wmfDark, 10);

    const TPictureResult emf = DecodeMetafile(MakeEmf());
    ASSERT_FALSE(emf.image.isNull()) << emf.error;
    EXPECT_EQ(emf.image.size(), QSize(200, 100));
    EXPECT_TRUE(Near(At(emf.image, 50, 50), qRgb(255, 255, 0)));
    EXPECT_TRUE(Near(At(emf.image, 150, 60), qRgb(255, 0, 0)));
    EXPECT_TRUE(Near(At(emf.image, 150, 5), qRgb(0, 0, 255)));
    EXPECT_TRUE(Near(At(emf.image, 195, 95), qRgb(255, 255, 255)));
    EXPECT_TRUE(Near(At(emf.image, 112, 92), qRgb(0, 255, 0)));   // polygon
    EXPECT_TRUE(Near(At(emf.image, 25, 25), qRgb(255, 0, 255)));  // bitmap
    int dark = 0;                                                 // text
    for (int y = 55; y < 80; ++y)
        for (int x = 20; x < 60; ++x)
            dark += qGray(At(emf.image, x, y)) < 100;
    EXPECT_GT(dark, 20);
}

TEST(PictureFiles, DamagedInputIsRefusedWithAReason)
{
    const std::string jpeg = Encode(TwoColours(64, 32), "JPEG");
    EXPECT_TRUE(DecodeJpeg(jpeg.substr(0, 20)).image.isNull());
    EXPECT_FALSE(DecodeJpeg("not a jpeg").error.empty());
    EXPECT_TRUE(DecodeJpeg("").image.isNull());
    EXPECT_TRUE(DecodeBitmap("BM garbage").image.isNull());
    EXPECT_TRUE(DecodeIcon(std::string(6, '\0')).image.isNull());
    // Every cut of the enhanced metafile, and forged record sizes, are read
    // without reading past the end.
    const std::string emf = MakeEmf();
    for (size_t n = 0; n < emf.size(); ++n)
        DecodeEmf(emf.substr(0, n));
    for (size_t at = 0; at + 4 <= emf.size(); at += 4) {
        for (uint32_t value : {0u, 4u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
            std::string bad = emf;
            for (int k = 0; k < 4; ++k)
                bad[at + size_t(k)] = char((value >> (8 * k)) & 0xFF);
            DecodeEmf(bad);
        }
    }
    std::string huge = emf;
    huge[92] = char(0xFC), huge[93] = huge[94] = huge[95] = char(0x7F);
    EXPECT_TRUE(DecodeEmf(huge).image.isNull());
    const std::string wmf = MakeWmf();
    for (size_t n = 0; n < wmf.size(); ++n)
        DecodeWmf(wmf.substr(0, n));
    for (size_t at = 22; at + 2 <= wmf.size(); at += 2) {
        for (uint16_t value : {0, 0x7FFF, 0xFFFF}) {
            std::string bad = wmf;
            bad[at] = char(value & 0xFF);
            bad[at + 1] = char(value >> 8);
            DecodeWmf(bad);
        }
    }
    EXPECT_TRUE(DecodeWmf("short").image.isNull());
}

TEST(PictureFiles, ThumbnailIsSqueezedNotCropped)
{
    const QImage thumb = StretchPicture(TwoColours(400, 100), 100, 100);
    EXPECT_EQ(thumb.size(), QSize(100, 100));
    EXPECT_TRUE(Near(At(thumb, 10, 50), qRgb(255, 0, 0)));
    EXPECT_TRUE(Near(At(thumb, 90, 50), qRgb(0, 0, 255)));
    QImage back;
    const std::string bytes = PictureFieldBytes(thumb);
    ASSERT_EQ(bytes.substr(0, 2), "BM");
    ASSERT_TRUE(back.loadFromData(reinterpret_cast<const uchar *>(bytes.data()), int(bytes.size())));
    EXPECT_EQ(back.size(), QSize(100, 100));
}

// ---------------------------------------------------------------------------
// Disc pictures in the window

TEST_F(NotePictureTest, DroppedJpegBecomesTheDiscThumbnailAfterRestart)
{
    MakeCatalog();
    const std::string photo = dir.write("photo.JPG", Encode(TwoColours(400, 100), "JPEG"));
    const std::string text = dir.write("notes.txt", "text");
    {
        auto form = Open();
        ASSERT_GE(form->SelectTreeNodeByText("f: [MORE]"), 0);
        form->TreeView1Click();
        // Kind 3 without a picture shows the diskette.
        EXPECT_EQ(form->ui->CDImage->pixmap().toImage(), form->DisketteBmp.toImage());
        QLabel *target = form->ui->CDImage;
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(text)), QUrl::fromLocalFile(QString::fromStdString(photo))});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(target, &drop);
        EXPECT_TRUE(drop.isAccepted());
        EXPECT_EQ(drop.dropAction(), Qt::CopyAction); // copy only, whatever the keys
        QApplication::processEvents();
        const QImage shown = form->ui->CDImage->pixmap().toImage();
        EXPECT_EQ(shown.size(), QSize(100, 100));
        EXPECT_TRUE(Near(shown.pixel(10, 50), qRgb(255, 0, 0)));
    }
    EXPECT_TRUE(prompt.Asked().empty()); // the text file is ignored silently
    const std::string stored = StoredDisc("f: [MORE]", "CdPicture");
    QImage thumb;
    ASSERT_TRUE(thumb.loadFromData(reinterpret_cast<const uchar *>(stored.data()), int(stored.size())));
    EXPECT_EQ(thumb.size(), QSize(100, 100));
    EXPECT_TRUE(Near(thumb.pixel(90, 50), qRgb(0, 0, 255)));
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), "");

    auto again = Open();
    ASSERT_GE(again->SelectTreeNodeByText("f: [MORE]"), 0);
    again->TreeView1Click();
    EXPECT_TRUE(Near(again->ui->CDImage->pixmap().toImage().pixel(10, 50), qRgb(255, 0, 0)));
    // Deleting brings the kind's picture back, on disc too.
    again->DeleteImageToolButtonClick();
    EXPECT_EQ(again->ui->CDImage->pixmap().toImage(), again->DisketteBmp.toImage());
    EXPECT_EQ(StoredDisc("f: [MORE]", "CdPicture"), "");
}

TEST_F(NotePictureTest, DamagedPictureKeepsTheOldOneAndNamesTheFile)
{
    MakeCatalog();
    const std::string good = dir.write("good.bmp", Encode(TwoColours(50, 50), "BMP"));
    const std::string jpeg = Encode(TwoColours(64, 64), "JPEG");
    const std::string bad = dir.write("broken.jpg", jpeg.substr(0, jpeg.size() / 3) + std::string(16, 'x'));
    auto form = Open();
    ASSERT_TRUE(form->LoadCdPicture(".BMP", good));
    const std::string before = StoredDisc("e: [DATA]", "CdPicture");
    ASSERT_FALSE(before.empty());
    EXPECT_FALSE(form->LoadCdPicture(".JPG", bad));
    EXPECT_EQ(form->CdNameTable->State(), dsBrowse);
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), before);
    EXPECT_EQ(form->CdNameTable->FieldByName("CdPicture").AsBytes(), before);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_NE(prompt.Asked()[0].text.toStdString().find("broken.jpg"), std::string::npos);
    // A picture dialog's choice goes the same way; GIF and PNG are ignored.
    const auto dialog = TMainForm::OpenPictureDialog1;
    const std::string png = dir.write("p.png", Encode(TwoColours(8, 8), "PNG"));
    TMainForm::OpenPictureDialog1 = [&](QWidget *, const QString &, const QString &) { return png; };
    form->ui->LoadImageMenu->trigger();
    EXPECT_EQ(StoredDisc("e: [DATA]", "CdPicture"), before);
    const std::string emf = dir.write("drawing.emf", MakeEmf());
    TMainForm::OpenPictureDialog1 = [&](QWidget *, const QString &, const QString &) { return emf; };
    form->ui->LoadImagePopup->trigger();
    TMainForm::OpenPictureDialog1 = dialog;
    EXPECT_NE(StoredDisc("e: [DATA]", "CdPicture"), before);
    EXPECT_EQ(prompt.Asked().size(), 1u);
}
