#pragma once
// Reading a written PDF back as text, page by page, with pdftotext.
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace printtest {

// The text of every page of a PDF file, laid out as on the page (columns stay
// in their order on a line). Empty when the file cannot be read.
inline std::vector<std::string> PdfPages(const std::string &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), QString::fromStdString(pdf), QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    std::vector<std::string> pages;
    for (const QString &page : text.split(QLatin1Char('\f')))
        pages.push_back(page.toStdString());
    // pdftotext ends the last page with a form feed too.
    if (!pages.empty() && pages.back().empty())
        pages.pop_back();
    return pages;
}

inline std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

// The line of `page` that holds `needle`; empty when none does.
inline std::string LineWith(const std::string &page, const std::string &needle)
{
    for (const std::string &line : Lines(page))
        if (line.find(needle) != std::string::npos)
            return line;
    return {};
}

// Whether the texts stand on one line in this order.
inline bool InOrderOnOneLine(const std::string &page, const std::vector<std::string> &texts)
{
    if (texts.empty())
        return false;
    const std::string line = LineWith(page, texts.front());
    size_t at = 0;
    for (const std::string &t : texts) {
        const size_t found = line.find(t, at);
        if (found == std::string::npos)
            return false;
        at = found + t.size();
    }
    return true;
}

} // namespace printtest
