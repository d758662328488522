// The picture decoder process: the program starts it for each picture the user adds, under memory, processor
// and time limits, and reads back the thumbnail it made, every length checked.
#include "app/discs/MainPictureFiles.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/discs/PictureFileBytes.h"
#include "util/BaseFileUtils.h"

using picturefiles::LeU32;


// The decoder process. It reads and decodes one file, and writes to its reply
// descriptor: "OPIC", a 32-bit status, its largest resident size in KiB, then
// for status 0 the width, height and width x height 32-bit pixels of the
// thumbnail, for 1 the length and bytes of the reason. All values
// little-endian.

namespace {

constexpr char kReplyMark[4] = {'O', 'P', 'I', 'C'};
constexpr uint32_t kMaxReplyError = 4096;
constexpr int kMaxThumbnailSide = 1024;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

void PutU32(std::string &s, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        s += char((v >> (8 * k)) & 0xFF);
}

bool WriteAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// The largest resident size of this process, or of the decoder `pid`, since
// its program started, in KiB; 0 when it cannot be read (the process has
// ended, or is still the program's copy that has yet to start the decoder).
long PeakResidentKiB(pid_t pid = 0)
{
    std::ifstream status(pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
    std::string line;
    // The kernel keeps 15 characters of a program's name.
    const std::string name = "Name:\t" + std::string(PictureDecoderName).substr(0, 15);
    bool decoder = pid == 0;
    while (std::getline(status, line)) {
        if (line.rfind("Name:", 0) == 0)
            decoder = decoder || line == name;
        else if (line.rfind("VmHWM:", 0) == 0 && decoder)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

std::string ReplyHead(uint32_t status)
{
    std::string reply(kReplyMark, 4);
    PutU32(reply, status);
    PutU32(reply, uint32_t(PeakResidentKiB()));
    return reply;
}

std::string ErrorReply(const std::string &why)
{
    std::string reply = ReplyHead(1);
    const std::string text = why.substr(0, kMaxReplyError);
    PutU32(reply, uint32_t(text.size()));
    return reply + text;
}

// What the decoder said, every length checked against what was asked for.
TPictureResult ParseReply(const std::string &reply, int width, int height, long &peakKiB)
{
    TPictureResult r;
    r.error = "the picture decoder gave no answer";
    const auto *d = reinterpret_cast<const unsigned char *>(reply.data());
    if (reply.size() < 16 || std::memcmp(d, kReplyMark, 4) != 0)
        return r;
    const uint32_t status = LeU32(d + 4);
    peakKiB = std::max(peakKiB, long(LeU32(d + 8)));
    if (status == 1) {
        const uint32_t length = LeU32(d + 12);
        if (length <= kMaxReplyError && reply.size() == 16 + size_t(length))
            r.error = length ? reply.substr(16) : "damaged picture";
        return r;
    }
    if (status != 0 || reply.size() < 20 || LeU32(d + 12) != uint32_t(width) || LeU32(d + 16) != uint32_t(height) ||
        reply.size() != 20 + size_t(width) * size_t(height) * 4)
        return r;
    QImage image(width, height, QImage::Format_RGB32);
    const unsigned char *p = d + 20;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x, p += 4)
            line[x] = 0xFF000000u | (LeU32(p) & 0xFFFFFF);
    }
    r.image = image;
    r.error.clear();
    return r;
}

std::string DecoderPath()
{
    const std::string exe = GetModulePath(0);
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1) + PictureDecoderName;
}

// The decoder's environment: the program's own, in a sanitizer build with
// the sanitizer's own watch on resident memory in place of the address-space
// limit (its shadow memory reserves terabytes of addresses), and without its
// leak report at exit.
std::vector<std::string> DecoderEnvironment(const TPictureDecoderLimits &limits)
{
    std::vector<std::string> env;
    std::string asan;
    for (char **e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0)
            asan = *e + 13;
        else
            env.emplace_back(*e);
    }
    if (kAddressSanitizer) {
        const uint64_t mb = std::max<uint64_t>(64, limits.addressSpace >> 20);
        asan += (asan.empty() ? "" : ":") + std::string("detect_leaks=0:allocator_may_return_null=1") +
                ":hard_rss_limit_mb=" + std::to_string(mb);
    }
    if (!asan.empty())
        env.push_back("ASAN_OPTIONS=" + asan);
    return env;
}

// Waits up to `ms` for `fd` to become readable (for `ms` alone when `fd` is
// -1), as poll does. On the program's window thread its events go on being
// processed meanwhile - painting, timers - but not the user's input, so the
// window stays alive while the command that waits cannot be run again.
int WaitReadable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    QCoreApplication *app = QCoreApplication::instance();
    if (ms <= 0 || !app || QThread::currentThread() != app->thread())
        return fd < 0 ? (ms > 0 ? ::poll(nullptr, 0, ms) : 0) : ::poll(&p, 1, ms);
    if (fd >= 0)
        if (const int ready = ::poll(&p, 1, 0); ready != 0)
            return ready;
    QEventLoop loop;
    std::unique_ptr<QSocketNotifier> notifier;
    if (fd >= 0) {
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return fd < 0 ? 0 : ::poll(&p, 1, 0);
}

struct TFd {
    int fd = -1;
    ~TFd() { Close(); }
    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

} // namespace

TPictureDecoderLimits &PictureDecoderLimits()
{
    static TPictureDecoderLimits limits;
    return limits;
}

std::string &PictureDecoderProgram()
{
    static std::string program;
    return program;
}

TThumbnailResult LoadPictureThumbnail(TPictureKind kind, const std::string &fileName, int width, int height)
{
    TThumbnailResult result;
    if (width <= 0 || height <= 0 || width > kMaxThumbnailSide || height > kMaxThumbnailSide) {
        result.error = "no thumbnail of that size";
        return result;
    }
    const TPictureDecoderLimits limits = PictureDecoderLimits();
    const std::string decoder = PictureDecoderProgram().empty() ? DecoderPath() : PictureDecoderProgram();
    // The sanitizer's shadow memory reserves terabytes of addresses: the
    // helper built with it is held to a resident size the sanitizer watches
    // (DecoderEnvironment) in place of the address-space limit; any other
    // program gets the limit.
    const bool sanitizedDecoder = kAddressSanitizer && PictureDecoderProgram().empty();
    if (decoder.empty() || ::access(decoder.c_str(), X_OK) != 0) {
        result.error = std::string("the picture decoder ") + PictureDecoderName + " is missing";
        return result;
    }
    // Everything the child needs is made before the fork: between fork and
    // exec it makes system calls only.
    std::vector<std::string> args = {decoder, std::to_string(int(kind)), std::to_string(width),
                                     std::to_string(height), fileName};
    std::vector<std::string> env = DecoderEnvironment(limits);
    std::vector<char *> argv, envp;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.error = "the picture decoder could not be started";
        return result;
    }
    TFd readEnd{fds[0]}, writeEnd{fds[1]};
    TFd devNull{::open("/dev/null", O_RDWR | O_CLOEXEC)};
    if (devNull.fd < 0) {
        result.error = "the picture decoder could not be started";
        return result;
    }
    const rlimit cpu{rlim_t(limits.cpuSeconds), rlim_t(limits.cpuSeconds) + 1};
    const rlimit space{rlim_t(limits.addressSpace), rlim_t(limits.addressSpace)};
    const rlimit noCore{0, 0};
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.error = "the picture decoder could not be started";
        return result;
    }
    if (pid == 0) {
        // Above the three standard descriptors first, so that no dup2 below
        // overwrites the other end.
        const int reply = ::fcntl(writeEnd.fd, F_DUPFD, 10);
        if (reply < 0 || ::dup2(devNull.fd, 0) < 0 || ::dup2(devNull.fd, 1) < 0 ||
            ::dup2(reply, PictureDecoderReplyFd) < 0)
            ::_exit(127);
        // Nothing else of the program's goes with it.
        ::close_range(PictureDecoderReplyFd + 1, ~0u, 0);
        ::setrlimit(RLIMIT_CPU, &cpu);
        ::setrlimit(RLIMIT_CORE, &noCore);
        if (!sanitizedDecoder)
            ::setrlimit(RLIMIT_AS, &space);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    writeEnd.Close();
    devNull.Close();

    // Read the reply until the decoder closes it, within the wall time; a
    // reply longer than the largest possible one ends the decoder too.
    const size_t maxReply = 20 + size_t(width) * size_t(height) * 4;
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.wallMilliseconds);
    auto left = [&] {
        return int(std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count()));
    };
    bool timedOut = false, overlong = false;
    for (;;) {
        // Its memory is looked at now and then: after its end it cannot be.
        result.decoderPeakKiB = std::max(result.decoderPeakKiB, PeakResidentKiB(pid));
        const int ready = WaitReadable(readEnd.fd, std::min(left(), 50));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0 && left() > 0)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        char buf[65536];
        const ssize_t n = ::read(readEnd.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (reply.size() + size_t(n) > maxReply) {
            overlong = true;
            break;
        }
        reply.append(buf, size_t(n));
    }
    readEnd.Close();
    // Then wait for its end, still within the wall time.
    int status = 0;
    pid_t waited = 0;
    while (!timedOut && !overlong) {
        waited = ::waitpid(pid, &status, WNOHANG);
        if (waited != 0 || left() == 0)
            break;
        WaitReadable(-1, 2);
    }
    if (waited == 0) {
        ::kill(pid, SIGKILL);
        while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        timedOut = timedOut || !overlong;
    }
    const bool exitedWell = waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (timedOut || (waited == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)) {
        result.error = "the picture takes too long to decode";
        return result;
    }
    if (overlong) {
        result.error = "the picture decoder gave no answer";
        return result;
    }
    if (waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 127 && reply.empty()) {
        result.error = "the picture decoder could not be started";
        return result;
    }
    if (!exitedWell && !(waited < 0 && errno == ECHILD)) {
        // Died (out of memory, say), whatever it wrote before.
        result.error = "damaged, or too large to decode";
        return result;
    }
    static_cast<TPictureResult &>(result) = ParseReply(reply, width, height, result.decoderPeakKiB);
    return result;
}

int RunPictureDecoder(TPictureKind kind, const std::string &fileName, int width, int height, int out)
{
    if (width <= 0 || height <= 0 || width > kMaxThumbnailSide || height > kMaxThumbnailSide)
        return 2;
    std::string bytes;
    const std::string unread = ReadPictureFile(fileName, bytes);
    if (!unread.empty())
        return WriteAll(out, ErrorReply(unread)) ? 0 : 1;
    // Only an enhanced metafile draws text, with Qt's fonts; the other readers
    // need no application object and start faster without one.
    std::unique_ptr<QGuiApplication> app;
    if (kind == TPictureKind::Metafile && IsEnhancedMetafile(bytes)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "orbalist-picture";
        static char *argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    // A metafile is drawn at the thumbnail's size, not stretched to it.
    const TPictureResult picture = DecodePicture(kind, bytes, QSize(width, height));
    bytes = std::string();
    if (picture.image.isNull())
        return WriteAll(out, ErrorReply(picture.error.empty() ? "damaged picture" : picture.error)) ? 0 : 1;
    const QImage thumbnail = StretchPicture(picture.image, width, height).convertToFormat(QImage::Format_RGB32);
    std::string reply = ReplyHead(0);
    reply.reserve(20 + size_t(width) * size_t(height) * 4);
    for (uint32_t v : {uint32_t(width), uint32_t(height)})
        PutU32(reply, v);
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(thumbnail.constScanLine(y));
        for (int x = 0; x < width; ++x)
            PutU32(reply, line[x] & 0xFFFFFF);
    }
    return WriteAll(out, reply) ? 0 : 1;
}
