#pragma once
// Reading a written PDF back with the poppler tools: its text page by page,
// its page count, and its cross-reference table.
#include <QProcess>
#include <QStringList>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace printtest {

// What `tool` prints to its standard output; empty when it fails.
inline QByteArray Tool(const QString &tool, const QStringList &args)
{
    QProcess p;
    p.start(tool, args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return ok ? p.readAllStandardOutput() : QByteArray();
}

inline std::vector<std::string> Split(const QString &text, QChar at)
{
    std::vector<std::string> out;
    for (const QString &part : text.split(at))
        out.push_back(part.toStdString());
    return out;
}

inline std::vector<std::string> Lines(const std::string &text) { return Split(QString::fromStdString(text), '\n'); }

// The text of every page, laid out as on the page (columns in order).
inline std::vector<std::string> PdfPages(const std::string &pdf)
{
    auto pages = Split(QString::fromUtf8(Tool("pdftotext", {"-layout", QString::fromStdString(pdf), "-"})), '\f');
    if (!pages.empty() && pages.back().empty())
        pages.pop_back();
    return pages;
}

// Whether the texts stand in this order on the first line holding the first.
inline bool InOrderOnOneLine(const std::string &page, const std::vector<std::string> &texts)
{
    for (const std::string &line : Lines(page)) {
        if (texts.empty() || line.find(texts.front()) == std::string::npos)
            continue;
        size_t at = 0;
        for (const std::string &t : texts) {
            if ((at = line.find(t, at)) == std::string::npos)
                return false;
            at += t.size();
        }
        return true;
    }
    return false;
}

// A word on a page and its box in points from the page's top left corner.
struct TWord {
    std::string text;
    double left, top, right, bottom;
};

// The words of every page, as pdftotext's bounding boxes give them.
inline std::vector<std::vector<TWord>> PdfWords(const std::string &pdf)
{
    std::vector<std::vector<TWord>> pages;
    const QString html = QString::fromUtf8(Tool("pdftotext", {"-bbox", QString::fromStdString(pdf), "-"}));
    for (const QString &line : html.split('\n')) {
        const QString t = line.trimmed();
        if (t.startsWith("<page"))
            pages.emplace_back();
        if (!t.startsWith("<word") || pages.empty())
            continue;
        auto attribute = [&t](const QString &name) {
            const qsizetype at = t.indexOf(name + "=\"") + name.size() + 2;
            return t.mid(at, t.indexOf('"', at) - at).toDouble();
        };
        const qsizetype open = t.indexOf('>') + 1;
        const QString text = t.mid(open, t.lastIndexOf("</word>") - open);
        pages.back().push_back(TWord{text.toStdString(), attribute("xMin"), attribute("yMin"), attribute("xMax"),
                                     attribute("yMax")});
    }
    return pages;
}

inline int PdfInfoPages(const std::string &pdf)
{
    for (const std::string &line : Split(QString::fromUtf8(Tool("pdfinfo", {QString::fromStdString(pdf)})), '\n'))
        if (line.rfind("Pages:", 0) == 0)
            return std::stoi(line.substr(6));
    return -1;
}

// What is wrong with the file's structure (empty: nothing): every object where
// the cross-reference table says, every stream's length ending at "endstream".
inline std::string PdfStructureProblem(const std::string &pdf)
{
    std::ifstream in(pdf, std::ios::binary);
    const std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t start = b.rfind("startxref\n");
    if (b.compare(0, 5, "%PDF-") != 0 || start == std::string::npos)
        return "no PDF header or no startxref";
    const size_t xref = std::stoul(b.substr(start + 10)), table = b.find('\n', xref + 7) + 1;
    if (b.compare(xref, 7, "xref\n0 ") != 0)
        return "startxref does not point at the table";
    for (size_t n = 1, count = std::stoul(b.substr(xref + 7)); n < count; ++n) {
        const size_t at = std::stoul(b.substr(table + n * 20, 10));
        if (b.compare(at, std::to_string(n).size() + 7, std::to_string(n) + " 0 obj\n") != 0)
            return "object " + std::to_string(n) + " is not at its offset";
        const size_t end = b.find("endobj", at), stream = b.find(">>\nstream\n", at), length = b.find("/Length ", at);
        if (stream < end && length < stream &&
            b.compare(stream + 10 + std::stoul(b.substr(length + 8)), 10, "\nendstream") != 0)
            return "the stream of object " + std::to_string(n) + " has a wrong length";
    }
    return {};
}

} // namespace printtest
