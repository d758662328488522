// The data-disc report of 10,000 rows written to a PDF file, against writing
// the same rows (name, path, disc name, disc number) as plain text to a file,
// all in the same run. The PDF is written as the program writes it (our PDF
// writer, then the file replaced atomically); the plain text both through a
// plain stream and through the same atomic write. For comparison the same
// pages also go through Qt's PDF engine (QPainter on a QPrinter), as the
// program wrote them before it had its own writer. Counters: the times, the
// ratios and the report's pages per second.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QPrinter>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/LangUnit.h"
#include "app/print/BandReport.h"
#include "app/print/report.h"
#include "app/print/selunit.h"
#include "storage/ExMemDS.h"
#include "util/BaseFileUtils.h"

#include "Measure.h"

namespace fs = std::filesystem;

namespace {

constexpr int Rows = 10000;
std::string Folder()
{
    static const std::string folder = [] {
        const fs::path p = fs::temp_directory_path() / ("orb-bench-print-" + std::to_string(getpid()));
        fs::create_directories(p);
        return p.string();
    }();
    return folder;
}

std::unique_ptr<TExMemoryData> MakeRows()
{
    auto table = MakeReportTable();
    table->Open();
    for (int i = 0; i < Rows; ++i) {
        TPrintRow r;
        r.Name = (i % 7 == 0 ? "Photo_" : "document_") + std::to_string(i) + (i % 3 == 0 ? ".jpg" : ".txt");
        r.Path = "e:\\folder" + std::to_string(i / 100) + "\\sub folder\\";
        r.Namecd = "e: [DATA DISC]";
        r.Number = "17";
        r.Size = "12 kb";
        r.CreateDate = "12.05.2024";
        r.LastChange = "13.05.2024";
        AppendPrintRow(*table, r);
    }
    return table;
}

// The same four columns, one row a line, tab-separated.
double WritePlainText(TExMemoryData &table, const std::string &file)
{
    const auto start = Clock::now();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    TField &name = table.FieldByName("Name");
    TField &path = table.FieldByName("Path");
    TField &disc = table.FieldByName("Namecd");
    TField &number = table.FieldByName("Number");
    for (table.First(); !table.Eof(); table.Next())
        out << name.AsString() << '\t' << path.AsString() << '\t' << disc.AsString() << '\t' << number.AsString()
            << '\n';
    out.close();
    if (!out)
        throw std::runtime_error("plain text not written");
    return Seconds(start);
}

// The same text, written atomically as the PDF is.
double WritePlainTextAtomically(TExMemoryData &table, const std::string &file)
{
    const auto start = Clock::now();
    std::string text;
    TField &name = table.FieldByName("Name");
    TField &path = table.FieldByName("Path");
    TField &disc = table.FieldByName("Namecd");
    TField &number = table.FieldByName("Number");
    for (table.First(); !table.Eof(); table.Next()) {
        text += name.AsString();
        text += '\t';
        text += path.AsString();
        text += '\t';
        text += disc.AsString();
        text += '\t';
        text += number.AsString();
        text += '\n';
    }
    std::string error;
    if (!WriteFileAtomically(file, text, error))
        throw std::runtime_error(error);
    return Seconds(start);
}

// The pages painted by Qt's PDF engine, the file then written atomically.
double WriteWithQtEngine(TExMemoryData &table, const std::string &scratch, const std::string &file)
{
    TReportForm report;
    report.SetDataSet(&table);
    const auto start = Clock::now();
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(scratch));
        TBandReport::PreparePrinter(printer);
        report.QuickRep1.Print(printer);
    }
    QFile in(QString::fromStdString(scratch));
    if (!in.open(QIODevice::ReadOnly))
        throw std::runtime_error("Qt's PDF not written");
    const QByteArray bytes = in.readAll();
    std::string error;
    if (!WriteFileAtomically(file, std::string_view(bytes.constData(), size_t(bytes.size())), error))
        throw std::runtime_error(error);
    return Seconds(start);
}

// The times are the fastest of the iterations: on a shared machine the slower
// runs measure the other processes. The ratios are the medians of each
// iteration's own ratio, the PDF and its references being written in turn.
void BM_DataDiscReportToPdf(benchmark::State &state)
{
    langunit::SetCurrentLanguage(langunit::LangEnglish);
    auto table = MakeRows();
    const std::string text = Folder() + "/rows.txt";
    const std::string pdf = Folder() + "/rows.pdf";
    double plain = 1e9, plainAtomic = 1e9, took = 1e9, qt = 1e9;
    std::vector<double> ratios, atomicRatios, qtRatios;
    int pages = 0;
    for (auto _ : state) {
        const double plainOnce = WritePlainText(*table, text);
        const double atomicOnce = WritePlainTextAtomically(*table, text);
        plain = std::min(plain, plainOnce);
        plainAtomic = std::min(plainAtomic, atomicOnce);
        TReportForm report;
        report.SetDataSet(table.get());
        const auto start = Clock::now();
        std::string error;
        if (!report.QuickRep1.WritePdf(pdf, error))
            throw std::runtime_error(error);
        const double once = Seconds(start);
        state.SetIterationTime(once);
        took = std::min(took, once);
        pages = report.QuickRep1.PageNumber();
        const double qtOnce = WriteWithQtEngine(*table, Folder() + "/qt-scratch.pdf", Folder() + "/qt.pdf");
        qt = std::min(qt, qtOnce);
        ratios.push_back(once / plainOnce);
        atomicRatios.push_back(once / atomicOnce);
        qtRatios.push_back(qtOnce / plainOnce);
    }
    state.counters["plain_text_s"] = plain;
    state.counters["plain_atomic_s"] = plainAtomic;
    state.counters["pdf_s"] = took;
    state.counters["ratio"] = MedianOf(ratios);
    state.counters["ratio_atomic"] = MedianOf(atomicRatios);
    state.counters["pages"] = pages;
    state.counters["pages_per_s"] = pages / took;
    state.counters["pdf_MB"] = static_cast<double>(fs::file_size(pdf)) / 1e6;
    state.counters["qt_engine_s"] = qt;
    state.counters["qt_ratio"] = MedianOf(qtRatios);
    state.counters["qt_MB"] = static_cast<double>(fs::file_size(Folder() + "/qt.pdf")) / 1e6;
}

} // namespace

BENCHMARK(BM_DataDiscReportToPdf)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(Folder(), ec);
    return 0;
}
