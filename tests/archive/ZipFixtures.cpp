#include "archive/ZipFixtures.h"

#include "support/TempDir.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <stdexcept>

namespace ziptest {

std::string RunTool(const std::string &program, const std::vector<std::string> &args, const std::string &workDir)
{
    const QString exe = QStandardPaths::findExecutable(QString::fromStdString(program));
    if (exe.isEmpty())
        throw std::runtime_error("test tool '" + program + "' is not installed (run scripts/install-deps)");
    QStringList list;
    for (const auto &a : args)
        list << QString::fromStdString(a);
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(workDir));
    p.start(exe, list);
    if (!p.waitForStarted(10000))
        throw std::runtime_error("test tool '" + program + "' did not start");
    p.closeWriteChannel();
    if (!p.waitForFinished(120000))
        throw std::runtime_error("test tool '" + program + "' did not finish");
    const QByteArray out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw std::runtime_error("test tool '" + program + "' failed: " + p.readAllStandardError().toStdString());
    return out.toStdString();
}

PyListing PythonZipListing(const std::string &zipPath)
{
    static const char *script = R"(
import datetime, json, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
out = []
for i in z.infolist():
    try:
        dt = datetime.datetime(*i.date_time)
        serial = (dt - datetime.datetime(1899, 12, 30)).total_seconds() / 86400.0
    except ValueError:
        serial = 0.0
    out.append({'name': i.filename, 'size': i.file_size, 'dt': serial,
                'attr': i.external_attr, 'dir': i.is_dir()})
print(json.dumps({'entries': out, 'comment': z.comment.decode('latin-1')}))
)";
    const std::string text = RunTool("python3", {"-c", script, zipPath}, ".");
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    PyListing l;
    for (const auto &v : root.value("entries").toArray()) {
        const QJsonObject o = v.toObject();
        PyEntry e;
        e.Name = o.value("name").toString().replace('/', '\\').toStdString();
        e.Size = static_cast<uint64_t>(o.value("size").toDouble());
        e.DateTime = o.value("dt").toDouble();
        e.ExternalAttr = static_cast<uint32_t>(o.value("attr").toDouble());
        e.IsDir = o.value("dir").toBool();
        l.Entries.push_back(e);
    }
    l.Comment = root.value("comment").toString().toStdString();
    return l;
}

void Put16(std::string &s, uint16_t v) { Le(s, {{v, 2}}); }
void Put32(std::string &s, uint32_t v) { Le(s, {{v, 4}}); }
void Put64(std::string &s, uint64_t v) { Le(s, {{v, 8}}); }

void Le(std::string &s, std::initializer_list<std::pair<uint64_t, int>> fields)
{
    for (const auto &[v, bytes] : fields)
        for (int i = 0; i < bytes; ++i)
            s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

namespace {
uint32_t Crc32(const std::string &data)
{
    uint32_t c = 0xFFFFFFFF;
    for (unsigned char b : data) {
        c ^= b;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}
} // namespace

std::string BuildZip(const std::vector<HandMember> &members, const std::string &comment)
{
    std::string out, cd;
    for (const auto &m : members) {
        const uint32_t offset = static_cast<uint32_t>(out.size()), crc = Crc32(m.Data);
        const uint64_t size = m.Data.size(), name = m.RawName.size();
        // A zip64 extra field stands for both sizes in the central header.
        const bool big = m.Extra.size() >= 4 && m.Extra[0] == 1 && m.Extra[1] == 0;
        Le(out, {{0x04034B50, 4}, {20, 2}, {m.Flags, 2}, {0, 2}, {m.DosTime, 2}, {m.DosDate, 2}, {crc, 4},
                 {size, 4}, {size, 4}, {name, 2}, {0, 2}});
        out += m.RawName + m.Data;
        Le(cd, {{0x02014B50, 4}, {m.MadeBy, 1}, {m.Host, 1}, {20, 2}, {m.Flags, 2}, {0, 2}, {m.DosTime, 2},
                {m.DosDate, 2}, {crc, 4}, {big ? 0xFFFFFFFF : size, 4}, {big ? 0xFFFFFFFF : size, 4}, {name, 2},
                {m.Extra.size(), 2}, {0, 2}, {0, 2}, {0, 2}, {0, 4}, {offset, 4}});
        cd += m.RawName + m.Extra;
    }
    const uint64_t cdOffset = out.size(), count = members.size();
    out += cd;
    Le(out, {{0x06054B50, 4}, {0, 2}, {0, 2}, {count, 2}, {count, 2}, {cd.size(), 4}, {cdOffset, 4},
             {comment.size(), 2}});
    return out + comment;
}

std::string MakeGcab(const orbtest::TempDir &t, const std::string &name, bool compress, size_t dataSize)
{
    t.write("in/readme.txt", "read me\n");
    t.write("in/sub/data.bin", std::string(dataSize, 'd'));
    t.write("in/sub/deeper/empty.txt", "");
    std::vector<std::string> args = {"-c"};
    if (compress)
        args.push_back("-z");
    args.insert(args.end(), {name, "in/readme.txt", "in/sub/data.bin", "in/sub/deeper/empty.txt"});
    RunTool("gcab", args, t.str());
    return t.file(name);
}

} // namespace ziptest
