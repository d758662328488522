// Splitting a URL into its parts and resolving a reference against a base URL.
#include "net/HttpClient.h"
#include "net/HttpClientInternal.h"

#include <algorithm>
#include <cctype>

using httpclient::LowerAscii;

// ---------------------------------------------------------------- URL splitting

void ParseURL(const std::string &URL, std::string &Proto, std::string &User, std::string &Pass, std::string &Host,
              std::string &Port, std::string &Path)
{
    const std::string base = Path;
    Proto.clear();
    User.clear();
    Pass.clear();
    Host.clear();
    Port.clear();
    Path.clear();
    if (URL.empty())
        return;
    if (URL.compare(0, 2, "./") == 0) {
        size_t p = base.rfind('/');
        Path = (p == std::string::npos ? std::string("/") : base.substr(0, p + 1)) + URL.substr(2);
        return;
    }
    if (URL.compare(0, 3, "../") == 0) {
        size_t p = base.rfind('/');
        std::string b = p == std::string::npos ? std::string("/") : base.substr(0, p + 1);
        std::string rest = URL;
        while (rest.compare(0, 3, "../") == 0) {
            rest.erase(0, 3);
            std::string t = b.substr(0, b.size() - 1); // without the trailing "/"
            size_t q = t.rfind('/');
            b = q == std::string::npos ? std::string("/") : t.substr(0, q + 1);
        }
        Path = b + rest;
        return;
    }
    size_t start = 0;
    const size_t sep = URL.find("://");
    if (sep != std::string::npos) {
        bool scheme = sep > 0;
        for (size_t i = 0; i < sep && scheme; ++i) {
            const char c = URL[i];
            scheme = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        }
        if (scheme) {
            Proto = URL.substr(0, sep);
            start = sep + 3;
        } else {
            Proto = "http";
        }
    } else if (URL[0] == '/') {
        Proto = "http";
        if (URL.size() < 2 || URL[1] != '/') {
            Path = URL;
            return;
        }
        start = 2;
    } else if (LowerAscii(URL.substr(0, 5)) == "http:") {
        Proto = "http";
        if (URL.size() >= 7 && URL[6] != '/') {
            Path = URL.substr(5);
            return;
        }
        start = 5;
    } else if (LowerAscii(URL.substr(0, 7)) == "mailto:") {
        Proto = "mailto";
        start = URL.find(':') + 1;
    }
    const std::string rest = URL.substr(start);
    const size_t pathStart = rest.find_first_of("/?");
    const std::string authority = rest.substr(0, pathStart);
    if (pathStart != std::string::npos)
        Path = rest.substr(pathStart);
    const size_t colon = authority.rfind(':');
    const size_t at = authority.rfind('@');
    if (colon == std::string::npos && at == std::string::npos) {
        Host = authority;
    } else if (colon != std::string::npos && (at == std::string::npos || colon > at)) {
        Port = authority.substr(colon + 1);
        const size_t h = at == std::string::npos ? 0 : at + 1;
        Host = authority.substr(h, colon - h);
    } else {
        Host = authority.substr(at + 1);
    }
    if (at != std::string::npos) {
        const std::string ui = authority.substr(0, at);
        const size_t c = ui.find(':');
        User = ui.substr(0, c);
        if (c != std::string::npos)
            Pass = ui.substr(c + 1);
    }
}

// ---------------------------------------------------------------- references

namespace {

// The parts of a URL reference (RFC 3986 appendix B); the flags tell an
// absent part from an empty one.
struct UrlParts {
    std::string Scheme, Authority, Path, Query;
    bool HasScheme = false, HasAuthority = false, HasQuery = false;
};

UrlParts SplitReference(const std::string &U)
{
    UrlParts p;
    std::string s = U.substr(0, U.find('#'));
    const size_t colon = s.find(':');
    const size_t delim = s.find_first_of("/?");
    if (colon != std::string::npos && colon > 0 && (delim == std::string::npos || colon < delim)) {
        const std::string scheme = s.substr(0, colon);
        const bool valid = std::isalpha(static_cast<unsigned char>(scheme[0])) &&
                           std::all_of(scheme.begin(), scheme.end(), [](char c) {
                               return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
                           });
        if (valid) {
            p.HasScheme = true;
            p.Scheme = LowerAscii(scheme);
            s.erase(0, colon + 1);
        }
    }
    if (s.compare(0, 2, "//") == 0) {
        p.HasAuthority = true;
        const size_t end = s.find_first_of("/?", 2);
        p.Authority = s.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        s.erase(0, end == std::string::npos ? s.size() : end);
    }
    const size_t q = s.find('?');
    if (q != std::string::npos) {
        p.HasQuery = true;
        p.Query = s.substr(q + 1);
        s.erase(q);
    }
    p.Path = s;
    return p;
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string In)
{
    std::string out;
    while (!In.empty()) {
        if (In.compare(0, 3, "../") == 0) {
            In.erase(0, 3);
        } else if (In.compare(0, 2, "./") == 0) {
            In.erase(0, 2);
        } else if (In.compare(0, 3, "/./") == 0) {
            In.erase(0, 2);
        } else if (In == "/.") {
            In = "/";
        } else if (In.compare(0, 4, "/../") == 0 || In == "/..") {
            In = In.size() == 3 ? std::string("/") : In.substr(3);
            const size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
        } else if (In == "." || In == "..") {
            In.clear();
        } else {
            const size_t next = In.find('/', 1);
            out += In.substr(0, next);
            In.erase(0, next == std::string::npos ? In.size() : next);
        }
    }
    return out;
}

} // namespace

std::string ResolveURL(const std::string &Base, const std::string &Ref)
{
    const UrlParts b = SplitReference(Base);
    const UrlParts r = SplitReference(Ref);
    UrlParts t;
    if (r.HasScheme) {
        t = r;
        t.Path = RemoveDotSegments(r.Path);
    } else {
        if (r.HasAuthority) {
            t.HasAuthority = true;
            t.Authority = r.Authority;
            t.Path = RemoveDotSegments(r.Path);
            t.HasQuery = r.HasQuery;
            t.Query = r.Query;
        } else {
            if (r.Path.empty()) {
                t.Path = b.Path;
                t.HasQuery = r.HasQuery || b.HasQuery;
                t.Query = r.HasQuery ? r.Query : b.Query;
            } else {
                if (r.Path[0] == '/') {
                    t.Path = RemoveDotSegments(r.Path);
                } else {
                    // Merge with the base path's folder.
                    const size_t slash = b.Path.rfind('/');
                    const std::string merged = b.HasAuthority && b.Path.empty()
                                                   ? "/" + r.Path
                                                   : (slash == std::string::npos ? std::string()
                                                                                 : b.Path.substr(0, slash + 1)) +
                                                         r.Path;
                    t.Path = RemoveDotSegments(merged);
                }
                t.HasQuery = r.HasQuery;
                t.Query = r.Query;
            }
            t.HasAuthority = b.HasAuthority;
            t.Authority = b.Authority;
        }
        t.HasScheme = b.HasScheme;
        t.Scheme = b.Scheme;
    }
    std::string out;
    if (t.HasScheme)
        out += t.Scheme + ":";
    if (t.HasAuthority)
        out += "//" + t.Authority;
    out += t.Path;
    if (t.HasQuery)
        out += "?" + t.Query;
    return out;
}
