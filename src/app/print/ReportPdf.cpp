#include "app/print/ReportPdf.h"

#include <QGlyphRun>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPrinter>
#include <QTextLine>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/TextWrap.h"

// ---------------------------------------------------------------------------
// The cell rule, shared by the painter and the PDF writer

bool CellLayoutFromPairs = true;

QFont ReportFont(int pixels, bool bold)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    // No ligatures: a copied or searched "fi" stays two letters.
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QString CellLineText(QString text)
{
    // replace() copies nothing when there is nothing to replace.
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

TCellLayouter::TCellLayouter(const QFont &font, QPaintDevice *device, Qt::LayoutDirection direction)
    : layout_(QString(), font, device), device_(device), metrics_(font, device), leftToRight_(direction == Qt::LeftToRight)
{
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    // The direction a painted string takes: a name that starts in a
    // right-to-left script runs right to left.
    option.setTextDirection(direction);
    layout_.setTextOption(option);
}

TLaidCell TCellLayouter::Lay(qreal width, const QString &text)
{
    TLaidCell cell;
    cell.shown = CellLineText(text);
    if (CellLayoutFromPairs && LayFromPairs(width, cell.shown, cell))
        return cell;
    qreal ascent = 0;
    if (!LayOut(cell.shown, ascent))
        return cell;
    cell.advance = layout_.lineAt(0).horizontalAdvance();
    if (cell.advance > width) {
        cell.cut = true;
        cell.shown = metrics_.elidedText(cell.shown, Qt::ElideRight, width);
        if (!LayOut(cell.shown, ascent))
            return cell;
        cell.advance = layout_.lineAt(0).horizontalAdvance();
    }
    // The line's runs in visual order, one per font (the layout's own list
    // merges the runs of one font and loses the order of the letters).
    for (const QGlyphRun &run : layout_.lineAt(0).glyphRuns()) {
        TLaidRun part{run.rawFont(), run.glyphIndexes(), run.positions()};
        for (QPointF &p : part.positions)
            p.ry() -= ascent;
        cell.runs.push_back(std::move(part));
    }
    return cell;
}

QStringList TCellLayouter::Wrap(qreal width, const QString &text, int maxLines)
{
    return WrapTextLines(text, layout_.font(), width, device_, layout_.textOption().textDirection(), maxLines);
}

namespace {

// Letters that a line without shaping draws one glyph each, left to right,
// moved only by the kerning of each pair: printable Latin, no marks, no
// invisible or breaking characters.
bool SimpleLetter(char16_t c)
{
    return (c >= 0x20 && c <= 0x7E) || (c >= 0xA1 && c <= 0x24F && c != 0xAD);
}

} // namespace

const TCellLayouter::TLetter &TCellLayouter::Letter(char16_t c)
{
    auto found = letters_.constFind(c);
    if (found != letters_.constEnd())
        return *found;
    TLetter letter;
    qreal ascent = 0;
    if (LayOut(QString(QChar(c)), ascent)) {
        const QList<QGlyphRun> runs = layout_.lineAt(0).glyphRuns();
        if (runs.size() == 1 && runs[0].glyphIndexes().size() == 1 && runs[0].positions().size() == 1 &&
            runs[0].positions()[0].x() == 0 && (!hasFont_ || runs[0].rawFont() == font_)) {
            if (!hasFont_) {
                font_ = runs[0].rawFont();
                hasFont_ = true;
            }
            letter = TLetter{true, runs[0].glyphIndexes()[0], runs[0].positions()[0].y() - ascent,
                             layout_.lineAt(0).horizontalAdvance()};
        }
    }
    return *letters_.insert(c, letter);
}

const TCellLayouter::TStep &TCellLayouter::Step(char16_t a, char16_t b)
{
    const quint32 key = quint32(a) << 16 | b;
    auto found = steps_.constFind(key);
    if (found != steps_.constEnd())
        return *found;
    TStep step;
    const TLetter first = Letter(a), second = Letter(b);
    qreal ascent = 0;
    const QChar pair[2] = {QChar(a), QChar(b)};
    if (first.ok && second.ok && LayOut(QString(pair, 2), ascent)) {
        const QList<QGlyphRun> runs = layout_.lineAt(0).glyphRuns();
        if (runs.size() == 1 && runs[0].rawFont() == font_ && runs[0].glyphIndexes() == QList{first.glyph, second.glyph}) {
            const QList<QPointF> at = runs[0].positions();
            if (at.size() == 2 && at[0].x() == 0 && at[0].y() - ascent == first.y && at[1].y() - ascent == second.y)
                step = TStep{true, at[1].x()};
        }
    }
    return *steps_.insert(key, step);
}

bool TCellLayouter::LayFromPairs(qreal width, const QString &text, TLaidCell &cell)
{
    // Blanks at either end are left to the whole layout, as is a text that
    // will be cut.
    if (!leftToRight_ || text.isEmpty() || text.front() == QLatin1Char(' ') || text.back() == QLatin1Char(' '))
        return false;
    if (!hasFont_)
        Letter(u'x'); // the line's own font is the one a plain letter takes
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i)
        if (!SimpleLetter(text[i].unicode()))
            return false;
    TLaidRun run;
    run.glyphs.reserve(n);
    run.positions.reserve(n);
    qreal x = 0;
    for (qsizetype i = 0;; ++i) {
        const TLetter &letter = Letter(text[i].unicode());
        if (!letter.ok)
            return false;
        run.glyphs.push_back(letter.glyph);
        run.positions.push_back(QPointF(x, letter.y));
        if (i + 1 == n) {
            x += letter.advance;
            break;
        }
        const TStep &step = Step(text[i].unicode(), text[i + 1].unicode());
        if (!step.ok)
            return false;
        x += step.x;
    }
    if (x > width)
        return false;
    run.font = font_;
    cell.advance = x;
    cell.runs.clear();
    cell.runs.push_back(std::move(run));
    return true;
}

bool TCellLayouter::LayOut(const QString &text, qreal &ascent)
{
    layout_.setText(text);
    layout_.beginLayout();
    QTextLine line = layout_.createLine();
    if (line.isValid())
        line.setPosition(QPointF(0, 0));
    layout_.endLayout();
    if (!line.isValid())
        return false;
    ascent = line.ascent();
    return true;
}

// ---------------------------------------------------------------------------
// The PDF writer

namespace {

// Page streams and font files are compressed with zlib's fastest level: it
// takes a page of rows to about a tenth of its size at a fraction of the
// default level's time.
constexpr int StreamCompression = 1;

// Big-endian reads of a font table; false past its end (the tables come from
// a font file, so every offset is checked). Not inlined: with a constant offset
// GCC takes the empty table's one-byte buffer for the data and warns of a read
// that the size check already rules out.
[[gnu::noinline]] bool Read16(const QByteArray &t, qsizetype at, quint16 &v)
{
    if (at < 0 || at + 2 > t.size())
        return false;
    const auto *p = reinterpret_cast<const unsigned char *>(t.constData()) + at;
    v = quint16(p[0] << 8 | p[1]);
    return true;
}

[[gnu::noinline]] bool Read32(const QByteArray &t, qsizetype at, quint32 &v)
{
    if (at < 0 || at + 4 > t.size())
        return false;
    const auto *p = reinterpret_cast<const unsigned char *>(t.constData()) + at;
    v = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
    return true;
}

void Put16(std::string &out, quint32 v)
{
    out += char(v >> 8 & 0xff);
    out += char(v & 0xff);
}

void Put32(std::string &out, quint32 v)
{
    Put16(out, v >> 16);
    Put16(out, v & 0xffff);
}

void Set16(std::string &out, size_t at, quint32 v)
{
    out[at] = char(v >> 8 & 0xff);
    out[at + 1] = char(v & 0xff);
}

void Set32(std::string &out, size_t at, quint32 v)
{
    Set16(out, at, v >> 16);
    Set16(out, at + 2, v & 0xffff);
}

quint32 TableSum(std::string_view data)
{
    quint32 sum = 0;
    for (size_t i = 0; i < data.size(); i += 4) {
        quint32 word = 0;
        for (size_t k = 0; k < 4; ++k)
            word = word << 8 | (i + k < data.size() ? static_cast<unsigned char>(data[i + k]) : 0u);
        sum += word;
    }
    return sum;
}

// A number with at most three decimals, as PDF writes reals.
void AppendNumber(std::string &out, double value)
{
    long long milli = std::llround(value * 1000.0);
    if (milli < 0) {
        out += '-';
        milli = -milli;
    }
    char digits[24];
    int n = 0;
    long long whole = milli / 1000;
    do {
        digits[n++] = char('0' + whole % 10);
        whole /= 10;
    } while (whole > 0);
    while (n > 0)
        out += digits[--n];
    int frac = int(milli % 1000);
    if (frac != 0) {
        out += '.';
        int div = 100;
        while (frac != 0) {
            out += char('0' + frac / div);
            frac %= div;
            div /= 10;
        }
    }
}

void AppendInt(std::string &out, long long value)
{
    out += std::to_string(value);
}

void AppendHex16(std::string &out, quint32 v)
{
    static const char hex[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[v >> shift & 0xf];
}

// A glyph id as the two bytes of a literal string.
void AppendGlyph(std::string &out, quint32 glyph)
{
    for (const char b : {char(glyph >> 8 & 0xff), char(glyph & 0xff)}) {
        if (b == '(' || b == ')' || b == '\\')
            out += '\\';
        if (b == '\r') {
            out += "\\r";
            continue;
        }
        out += b;
    }
}

// A TrueType font as the document embeds it: its tables as the font file has
// them, the glyphs the document uses (and the parts they are built of) kept,
// the others emptied, so the glyph ids stay those of the font.
class TPdfFont {
public:
    TPdfFont(const QRawFont &raw, int index) : raw_(raw), index_(index)
    {
        head_ = raw.fontTable("head");
        hhea_ = raw.fontTable("hhea");
        glyf_ = raw.fontTable("glyf");
        const QByteArray maxp = raw.fontTable("maxp");
        const QByteArray loca = raw.fontTable("loca");
        const QByteArray hmtx = raw.fontTable("hmtx");
        quint16 glyphs = 0, locFormat = 0, metrics = 0, units = 0;
        if (glyf_.isEmpty() || !Read16(maxp, 4, glyphs) || !Read16(head_, 50, locFormat) ||
            !Read16(hhea_, 34, metrics) || !Read16(head_, 18, units) || glyphs == 0 || metrics == 0 || units == 0 ||
            locFormat > 1)
            throw TPdfUnsupported("The font " + raw.familyName().toStdString() + " is not a TrueType font.");
        unitsPerEm_ = units;
        maxp_ = maxp;
        extra_ = {{"cvt ", raw.fontTable("cvt ")}, {"fpgm", raw.fontTable("fpgm")}, {"prep", raw.fontTable("prep")},
                  {"OS/2", raw.fontTable("OS/2")}};
        offsets_.resize(size_t(glyphs) + 1);
        for (size_t g = 0; g <= glyphs; ++g) {
            quint32 at = 0;
            quint16 half = 0;
            const bool ok = locFormat == 0 ? Read16(loca, qsizetype(g * 2), half) : Read32(loca, qsizetype(g * 4), at);
            if (locFormat == 0)
                at = quint32(half) * 2;
            if (!ok || at > quint32(glyf_.size()) || (g > 0 && at < offsets_[g - 1]))
                throw TPdfUnsupported("The font " + raw.familyName().toStdString() + " has a damaged glyph table.");
            offsets_[g] = at;
        }
        hmtx_ = hmtx;
        if (hmtx.size() < qsizetype(metrics) * 4)
            throw TPdfUnsupported("The font " + raw.familyName().toStdString() + " has damaged metrics.");
        unicode_.resize(glyphs);
        name_ = FontName(raw);
    }

    size_t GlyphCount() const { return unicode_.size(); }

    // Records that `glyph` shows `text`; false when it cannot (no such glyph,
    // the font's own glyph for the text is another, or the glyph already
    // shows another text: reading the text back would go wrong).
    bool Use(quint32 glyph, QStringView text)
    {
        if (glyph == 0 || glyph >= unicode_.size())
            return false;
        QString &known = unicode_[glyph];
        if (!known.isEmpty())
            return known == text;
        quint32 own[2] = {0, 0};
        int count = 2;
        if (!raw_.glyphIndexesForChars(text.data(), int(text.size()), own, &count) || count != 1 || own[0] != glyph)
            return false;
        known = text.toString();
        return true;
    }

    // Writes the font file, its ToUnicode map and its descriptor from
    // `first` on; answers the next free object number.
    template <typename WriteObject, typename WriteStream>
    int Write(int first, WriteObject object, WriteStream stream)
    {
        fileObject_ = first;
        const std::string subset = Subset();
        stream(first, " /Length1 " + std::to_string(subset.size()), subset);
        stream(first + 1, std::string(), ToUnicode());
        quint16 u = 0;
        auto scaled = [&](qsizetype at, const QByteArray &table) {
            Read16(table, at, u);
            return std::to_string(std::lround(qint16(u) * 1000.0 / unitsPerEm_));
        };
        object(first + 2, "<< /Type /FontDescriptor /FontName /" + BaseName() + " /Flags 32 /FontBBox [" +
                              scaled(36, head_) + " " + scaled(38, head_) + " " + scaled(40, head_) + " " +
                              scaled(42, head_) + "] /ItalicAngle 0 /Ascent " + scaled(4, hhea_) + " /Descent " +
                              scaled(6, hhea_) + " /CapHeight " + scaled(4, hhea_) + " /StemV 80 /FontFile2 " +
                              std::to_string(first) + " 0 R >>");
        return first + 3;
    }
    int ToUnicodeObject() const { return fileObject_ + 1; }
    int DescriptorObject() const { return fileObject_ + 2; }
    std::string BaseName() const { return Tag() + "+" + name_; }

private:
    static std::string FontName(const QRawFont &raw)
    {
        std::string name;
        for (const QChar c : raw.familyName() + QLatin1Char('-') + raw.styleName())
            if ((c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-'))
                name += char(c.unicode());
        return name.empty() ? "Font" : name;
    }

    // Six capitals that mark a subset, different for each font of the file.
    std::string Tag() const
    {
        std::string tag = "ORBAAA";
        int n = index_;
        for (int i = 5; i >= 3; --i, n /= 26)
            tag[size_t(i)] = char('A' + n % 26);
        return tag;
    }

    std::string ToUnicode() const
    {
        std::string out = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                          "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                          "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                          "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
        std::vector<quint32> used;
        for (size_t g = 0; g < unicode_.size(); ++g)
            if (!unicode_[g].isEmpty())
                used.push_back(quint32(g));
        for (size_t at = 0; at < used.size(); at += 100) {
            const size_t n = std::min<size_t>(100, used.size() - at);
            out += std::to_string(n) + " beginbfchar\n";
            for (size_t i = at; i < at + n; ++i) {
                out += '<';
                AppendHex16(out, used[i]);
                out += "> <";
                for (const QChar c : unicode_[used[i]])
                    AppendHex16(out, c.unicode());
                out += ">\n";
            }
            out += "endbfchar\n";
        }
        out += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
        return out;
    }

    // The glyph data of `glyph`, empty when it has no outline.
    std::string_view Glyph(size_t glyph) const
    {
        return std::string_view(glyf_.constData() + offsets_[glyph], offsets_[glyph + 1] - offsets_[glyph]);
    }

    // The font file with only the used glyphs' outlines (and the glyph 0 that
    // readers draw for a missing one).
    std::string Subset() const
    {
        std::vector<bool> keep(unicode_.size(), false);
        std::vector<size_t> todo{0};
        keep[0] = true;
        for (size_t g = 0; g < unicode_.size(); ++g)
            if (!unicode_[g].isEmpty() && !keep[g]) {
                keep[g] = true;
                todo.push_back(g);
            }
        // A composite glyph is drawn from other glyphs: keep those too.
        while (!todo.empty()) {
            const size_t g = todo.back();
            todo.pop_back();
            const std::string_view data = Glyph(g);
            const QByteArray bytes = QByteArray::fromRawData(data.data(), qsizetype(data.size()));
            quint16 contours = 0, flags = 0, part = 0;
            if (!Read16(bytes, 0, contours) || qint16(contours) >= 0)
                continue;
            qsizetype at = 10;
            do {
                if (!Read16(bytes, at, flags) || !Read16(bytes, at + 2, part))
                    break;
                at += 4 + ((flags & 0x1) ? 4 : 2) + ((flags & 0x8) ? 2 : (flags & 0x40) ? 4 : (flags & 0x80) ? 8 : 0);
                if (part < keep.size() && !keep[part]) {
                    keep[part] = true;
                    todo.push_back(part);
                }
            } while (flags & 0x20);
        }
        std::string glyf, loca;
        for (size_t g = 0; g < keep.size(); ++g) {
            Put32(loca, quint32(glyf.size()));
            if (!keep[g])
                continue;
            glyf += Glyph(g);
            while (glyf.size() % 4)
                glyf += '\0';
        }
        Put32(loca, quint32(glyf.size()));
        std::string head(head_.constData(), size_t(head_.size()));
        Set32(head, 8, 0);   // checksum adjustment, set below
        Set16(head, 50, 1);  // long glyph offsets
        std::vector<std::pair<std::string, std::string>> tables = {
            {"glyf", std::move(glyf)},
            {"head", head},
            {"hhea", std::string(hhea_.constData(), size_t(hhea_.size()))},
            {"hmtx", std::string(hmtx_.constData(), size_t(hmtx_.size()))},
            {"loca", std::move(loca)},
            {"maxp", std::string(maxp_.constData(), size_t(maxp_.size()))},
        };
        for (const auto &[tag, table] : extra_)
            if (!table.isEmpty())
                tables.emplace_back(tag, std::string(table.constData(), size_t(table.size())));
        std::sort(tables.begin(), tables.end());
        std::string out;
        const quint32 count = quint32(tables.size());
        quint32 power = 1, log = 0;
        while (power * 2 <= count) {
            power *= 2;
            ++log;
        }
        Put32(out, 0x00010000);
        Put16(out, count);
        Put16(out, power * 16);
        Put16(out, log);
        Put16(out, count * 16 - power * 16);
        size_t offset = 12 + 16 * tables.size();
        size_t headAt = 0;
        for (const auto &[tag, table] : tables) {
            out += tag;
            Put32(out, TableSum(table));
            Put32(out, quint32(offset));
            Put32(out, quint32(table.size()));
            if (tag == "head")
                headAt = offset;
            offset += (table.size() + 3) / 4 * 4;
        }
        for (const auto &[tag, table] : tables) {
            out += table;
            while (out.size() % 4)
                out += '\0';
        }
        Set32(out, headAt + 8, 0xB1B0AFBAu - TableSum(out));
        return out;
    }

    QRawFont raw_;
    int index_;
    int unitsPerEm_ = 1000;
    QByteArray head_, hhea_, maxp_, hmtx_, glyf_;
    std::vector<std::pair<std::string, QByteArray>> extra_;
    std::vector<quint32> offsets_;
    int fileObject_ = 0;
    std::vector<QString> unicode_; // what each used glyph shows; empty: unused
    std::string name_;
};

// The font at one text size: the widths it states are the advances the
// layout gives its glyphs at that size, so a cell's glyphs land where the
// layout put them without a correction between each two.
class TPdfFace {
public:
    TPdfFace(TPdfFont &file, const QRawFont &raw, int index)
        : file_(file), raw_(raw), index_(index), widths_(file.GlyphCount(), -1.0)
    {
    }
    int Index() const { return index_; }
    double Width(quint32 glyph) const { return widths_[glyph]; }
    bool Use(quint32 glyph, QStringView text)
    {
        if (!file_.Use(glyph, text))
            return false;
        if (widths_[glyph] < 0) {
            QPointF advance;
            if (!raw_.advancesForGlyphIndexes(&glyph, &advance, 1) || raw_.pixelSize() <= 0)
                return false;
            widths_[glyph] = std::round(advance.x() * 1000000.0 / raw_.pixelSize()) / 1000.0;
        }
        return true;
    }
    // The Type0 font and its CID font, from `first` on (the file is written).
    template <typename WriteObject>
    int Write(int first, WriteObject object) const
    {
        const std::string base = file_.BaseName();
        object(first, "<< /Type /Font /Subtype /Type0 /BaseFont /" + base + " /Encoding /Identity-H /DescendantFonts [" +
                          std::to_string(first + 1) + " 0 R] /ToUnicode " + std::to_string(file_.ToUnicodeObject()) +
                          " 0 R >>");
        std::string widths;
        for (size_t g = 0; g < widths_.size();) {
            if (widths_[g] < 0) {
                ++g;
                continue;
            }
            AppendInt(widths, static_cast<long long>(g));
            widths += " [";
            for (; g < widths_.size() && widths_[g] >= 0; ++g) {
                AppendNumber(widths, widths_[g]);
                widths += ' ';
            }
            widths += "] ";
        }
        object(first + 1, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /" + base +
                              " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
                              " /FontDescriptor " +
                              std::to_string(file_.DescriptorObject()) + " 0 R /CIDToGIDMap /Identity /DW 0 /W [" +
                              widths + "] >>");
        return first + 2;
    }

private:
    TPdfFont &file_;
    QRawFont raw_;
    int index_;
    std::vector<double> widths_; // of the glyphs used; -1: unused
};

// A cell's glyphs as page operators, placed from the cell's origin.
struct TPdfSegment {
    int font;
    double size;
    QPointF start;
    std::string show; // "(..) Tj" or "[..] TJ"
};
struct TPdfCell {
    bool cut = false;
    qreal advance = 0;
    std::vector<TPdfSegment> segments;
};

} // namespace

struct TPdfSink::TImpl {
    explicit TImpl(QPrinter &p) : printer(p) {}

    QPrinter &printer;
    std::string out;
    std::vector<size_t> offsets{0, 0, 0, 0}; // by object number; 1-3 are the catalogue, pages, resources
    std::vector<int> pages;
    std::string content;
    bool inText = false;
    bool hasLine = false; // a text line start is set in this BT block
    double lineX = 0, lineY = 0;
    int textFont = -1;
    double textSize = 0;
    double scale = 0.75;
    QPointF origin;
    QRectF media;
    std::vector<std::unique_ptr<TPdfFont>> files;
    QHash<QString, int> fileByKey;
    std::vector<std::unique_ptr<TPdfFace>> faces;
    QHash<QString, int> faceByKey;
    std::vector<std::pair<QRawFont, int>> faceByFont;

    struct TFontCells {
        QFont font;
        std::unique_ptr<TCellLayouter> layouter;
        std::vector<QHash<QString, TPdfCell>> cells; // by column + 1
    };
    std::vector<TFontCells> cellFonts;
    int current = -1;

    const TPdfCell &CellOf(qreal width, const QString &text, int column);
    // The detail cells DetailLines() laid last, by column, which the Cell()
    // painting them takes without looking them up again.
    struct TLast {
        QString text;
        int font = -1;
        const TPdfCell *cell = nullptr;
    };
    std::vector<TLast> last;

    int NewObject()
    {
        offsets.push_back(0);
        return int(offsets.size() - 1);
    }

    void Object(int number, const std::string &body)
    {
        offsets[size_t(number)] = out.size();
        out += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    }

    void Stream(int number, const std::string &dict, const std::string &data)
    {
        const QByteArray packed =
            qCompress(QByteArray::fromRawData(data.data(), qsizetype(data.size())), StreamCompression);
        // qCompress puts the unpacked length before the zlib stream.
        const std::string_view zlib(packed.constData() + 4, size_t(packed.size() - 4));
        offsets[size_t(number)] = out.size();
        out += std::to_string(number) + " 0 obj\n<< /Length " + std::to_string(zlib.size()) +
               " /Filter /FlateDecode" + dict + " >>\nstream\n";
        out += zlib;
        out += "\nendstream\nendobj\n";
    }

    void StartPage()
    {
        content = "q\n";
        AppendNumber(content, scale);
        content += " 0 0 ";
        AppendNumber(content, -scale);
        content += ' ';
        AppendNumber(content, origin.x());
        content += ' ';
        AppendNumber(content, origin.y());
        content += " cm\n";
        inText = false;
        textFont = -1;
    }

    void EndPage()
    {
        if (inText)
            content += "ET\n";
        content += "Q\n";
        const int stream = NewObject();
        Stream(stream, std::string(), content);
        const int page = NewObject();
        std::string dict = "<< /Type /Page /Parent 2 0 R /Resources 3 0 R /MediaBox [";
        for (const double v : {media.left(), media.top(), media.right(), media.bottom()}) {
            AppendNumber(dict, v);
            dict += ' ';
        }
        dict += "] /Contents " + std::to_string(stream) + " 0 R >>";
        Object(page, dict);
        pages.push_back(page);
    }

    TPdfFace &FaceFor(const QRawFont &raw)
    {
        // The fonts a layout hands out are few and compare cheaply.
        for (const auto &[known, index] : faceByFont)
            if (known == raw)
                return *faces[size_t(index)];
        const QString fileKey = raw.familyName() + QLatin1Char('\n') + raw.styleName() + QLatin1Char('\n') +
                                QString::number(int(raw.weight())) + QLatin1Char('\n') +
                                QString::number(int(raw.style()));
        const QString faceKey = fileKey + QLatin1Char('\n') + QString::number(raw.pixelSize());
        auto face = faceByKey.constFind(faceKey);
        auto file = fileByKey.constFind(fileKey);
        if (file == fileByKey.constEnd()) {
            files.push_back(std::make_unique<TPdfFont>(raw, int(files.size())));
            file = fileByKey.insert(fileKey, int(files.size() - 1));
        }
        if (face == faceByKey.constEnd()) {
            faces.push_back(std::make_unique<TPdfFace>(*files[size_t(*file)], raw, int(faces.size())));
            face = faceByKey.insert(faceKey, int(faces.size() - 1));
        }
        if (faceByFont.size() < 64)
            faceByFont.emplace_back(raw, *face);
        return *faces[size_t(*face)];
    }

    // The cell's glyphs as operators; checks that each glyph reads back as
    // the letter it stands for.
    TPdfCell Encode(const TLaidCell &laid)
    {
        TPdfCell cell;
        cell.cut = laid.cut;
        cell.advance = laid.advance;
        const QString &text = laid.shown;
        qsizetype at = 0;
        for (const TLaidRun &run : laid.runs) {
            if (run.glyphs.size() != run.positions.size())
                throw TPdfUnsupported("A text's glyphs have no positions.");
            TPdfFace &font = FaceFor(run.font);
            const double size = run.font.pixelSize();
            TPdfSegment *segment = nullptr;
            std::string piece;
            bool adjusted = false;
            double nextX = 0;
            auto close = [&] {
                if (!segment)
                    return;
                segment->show = adjusted ? "[" + segment->show + "(" + piece + ")] TJ\n" : "(" + piece + ") Tj\n";
                piece.clear();
                adjusted = false;
            };
            for (qsizetype i = 0; i < run.glyphs.size(); ++i) {
                const quint32 glyph = run.glyphs[i];
                const qsizetype length =
                    at + 1 < text.size() && text[at].isHighSurrogate() && text[at + 1].isLowSurrogate() ? 2 : 1;
                if (at >= text.size() || !font.Use(glyph, QStringView(text).mid(at, length)))
                    throw TPdfUnsupported("A text needs a glyph that cannot be written directly.");
                at += length;
                const QPointF p = run.positions[i];
                if (!segment || std::abs(p.y() - segment->start.y()) > 1e-6) {
                    close();
                    cell.segments.push_back(TPdfSegment{font.Index(), size, p, std::string()});
                    segment = &cell.segments.back();
                } else if (std::abs(p.x() - nextX) > 1e-3) {
                    // The layout placed the glyph off the font's advance
                    // (hinting, kerning): move it there.
                    segment->show += "(" + piece + ")";
                    AppendNumber(segment->show, -(p.x() - nextX) * 1000.0 / size);
                    piece.clear();
                    adjusted = true;
                }
                AppendGlyph(piece, glyph);
                nextX = p.x() + font.Width(glyph) * size / 1000.0;
            }
            close();
        }
        if (at != text.size())
            throw TPdfUnsupported("A text has letters without glyphs.");
        return cell;
    }

    void Show(const TPdfCell &cell, const QPointF &origin)
    {
        if (!inText) {
            content += "BT\n";
            inText = true;
            hasLine = false;
        }
        for (const TPdfSegment &s : cell.segments) {
            if (s.font != textFont || s.size != textSize) {
                content += "/F";
                AppendInt(content, s.font);
                content += ' ';
                AppendNumber(content, s.size);
                content += " Tf\n";
                textFont = s.font;
                textSize = s.size;
            }
            const double x = origin.x() + s.start.x(), y = origin.y() + s.start.y();
            if (hasLine) {
                // A move from the last cell's start is shorter to write (and
                // to compress) than a whole matrix. The start moves by the
                // rounded steps a reader adds up, so no error piles up.
                const double dx = std::round((x - lineX) * 1000.0) / 1000.0;
                const double dy = std::round((y - lineY) * 1000.0) / 1000.0;
                AppendNumber(content, dx);
                content += ' ';
                AppendNumber(content, -dy); // the text matrix runs y upwards
                content += " Td ";
                lineX += dx;
                lineY += dy;
            } else {
                content += "1 0 0 -1 ";
                AppendNumber(content, x);
                content += ' ';
                AppendNumber(content, y);
                content += " Tm ";
                lineX = std::round(x * 1000.0) / 1000.0;
                lineY = std::round(y * 1000.0) / 1000.0;
                hasLine = true;
            }
            content += s.show;
        }
    }
};

TPdfSink::TPdfSink(QPrinter &printer) : d(std::make_unique<TImpl>(printer))
{
    // The painter's coordinates: units of 1/96 inch from the top left corner
    // of the page's printable area, y downwards.
    const QPageLayout layout = printer.pageLayout();
    const int resolution = printer.resolution();
    d->media = QRectF(QPointF(0, 0), layout.fullRectPoints().size());
    const QRect paint = layout.paintRectPixels(resolution);
    d->scale = printer.logicalDpiX() / 96.0 * 72.0 / resolution;
    d->origin = QPointF(paint.left() * 72.0 / resolution, d->media.height() - paint.top() * 72.0 / resolution);
    d->out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    d->StartPage();
}

TPdfSink::~TPdfSink() = default;

void TPdfSink::NewPage()
{
    d->EndPage();
    d->StartPage();
}

void TPdfSink::SetFont(const QFont &font)
{
    for (size_t i = 0; i < d->cellFonts.size(); ++i)
        if (d->cellFonts[i].font == font) {
            d->current = int(i);
            return;
        }
    d->cellFonts.push_back(TImpl::TFontCells{
        font, std::make_unique<TCellLayouter>(font, &d->printer, QGuiApplication::layoutDirection()), {}});
    d->current = int(d->cellFonts.size() - 1);
}

// The text laid out in its column's cache (made when missing).
const TPdfCell &TPdfSink::TImpl::CellOf(qreal width, const QString &text, int column)
{
    TFontCells &f = cellFonts[size_t(current)];
    const size_t slot = size_t(std::max(column, -1) + 1);
    if (slot >= f.cells.size())
        f.cells.resize(slot + 1);
    QHash<QString, TPdfCell> &cache = f.cells[slot];
    auto found = cache.constFind(text);
    if (found == cache.constEnd()) {
        if (cache.size() >= 4096)
            cache.clear();
        found = cache.insert(text, Encode(f.layouter->Lay(width, text)));
    }
    return *found;
}

QStringList TPdfSink::DetailLines(const QString &text, qreal width, int column, int maxLines)
{
    if (text.isEmpty() || d->current < 0)
        return {};
    const TPdfCell &cell = d->CellOf(width, text, column);
    if (column >= 0) {
        if (size_t(column) >= d->last.size())
            d->last.resize(size_t(column) + 1);
        d->last[size_t(column)] = TImpl::TLast{text, d->current, &cell};
    }
    if (!cell.cut)
        return {};
    return d->cellFonts[size_t(d->current)].layouter->Wrap(width, text, maxLines);
}

void TPdfSink::Cell(const QRectF &box, const QString &text, Qt::Alignment align, int column)
{
    if (text.isEmpty() || d->current < 0)
        return;
    TImpl::TFontCells &f = d->cellFonts[size_t(d->current)];
    TImpl::TLast *last = column >= 0 && size_t(column) < d->last.size() ? &d->last[size_t(column)] : nullptr;
    const TPdfCell *found = last && last->cell && last->font == d->current && text.isSharedWith(last->text)
                                ? last->cell
                                : &d->CellOf(box.width(), text, column);
    if (last)
        last->cell = nullptr;
    const QFontMetricsF &metrics = f.layouter->Metrics();
    qreal x = box.left();
    if (align & Qt::AlignRight)
        x = box.right() - found->advance;
    else if (align & Qt::AlignHCenter)
        x = box.left() + (box.width() - found->advance) / 2;
    const qreal baseline = box.top() + (box.height() - metrics.height()) / 2 + metrics.ascent();
    d->Show(*found, QPointF(x, baseline));
}

void TPdfSink::Line(const QPointF &from, const QPointF &to)
{
    std::string &c = d->content;
    if (d->inText) {
        c += "ET\n";
        d->inText = false;
    }
    // The painter's pen: one unit wide with square ends, drawn as Qt's PDF
    // engine draws it, as the outline of the line and of its two ends, so
    // readers put it on the same pixels as on the printed page (they snap a
    // plain rectangle to whole pixels).
    const QPointF along = to - from;
    const qreal length = std::hypot(along.x(), along.y());
    const QPointF dir = length > 0 ? along / length * 0.5 : QPointF(0.5, 0);
    const QPointF normal(-dir.y(), dir.x());
    const QPointF outline[] = {from - normal,       to - normal,         to + dir - normal, to + dir + normal,
                               to + normal,         from + normal,       from - dir + normal, from - dir - normal};
    for (size_t i = 0; i < std::size(outline); ++i) {
        AppendNumber(c, outline[i].x());
        c += ' ';
        AppendNumber(c, outline[i].y());
        c += i == 0 ? " m " : " l ";
    }
    c += "h f\n";
}

void TPdfSink::Finish()
{
    TImpl &s = *d;
    s.EndPage();
    int next = int(s.offsets.size());
    std::string resources = "<< /ProcSet [/PDF /Text] /Font <<";
    for (const auto &file : s.files) {
        s.offsets.resize(s.offsets.size() + 3);
        next = file->Write(
            next, [&s](int n, const std::string &body) { s.Object(n, body); },
            [&s](int n, const std::string &dict, const std::string &data) { s.Stream(n, dict, data); });
    }
    for (const auto &face : s.faces) {
        s.offsets.resize(s.offsets.size() + 2);
        resources += " /F" + std::to_string(face->Index()) + " " + std::to_string(next) + " 0 R";
        next = face->Write(next, [&s](int n, const std::string &body) { s.Object(n, body); });
    }
    resources += " >> >>";
    s.Object(3, resources);
    std::string kids;
    for (const int page : s.pages)
        kids += std::to_string(page) + " 0 R ";
    s.Object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(s.pages.size()) + " >>");
    s.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    const size_t xref = s.out.size();
    s.out += "xref\n0 " + std::to_string(s.offsets.size()) + "\n0000000000 65535 f \n";
    char entry[24];
    for (size_t n = 1; n < s.offsets.size(); ++n) {
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", s.offsets[n]);
        s.out += entry;
    }
    s.out += "trailer\n<< /Size " + std::to_string(s.offsets.size()) + " /Root 1 0 R >>\nstartxref\n" +
             std::to_string(xref) + "\n%%EOF\n";
}

const std::string &TPdfSink::Bytes() const
{
    return d->out;
}
