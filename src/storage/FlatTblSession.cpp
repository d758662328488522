// The engine's session: the passwords it knows and the questions and notices it passes to the program.
#include "storage/FlatTblStore.h"

#include <algorithm>
#include <cstring>

#include "storage/FlatConst.h"
#include "storage/FlatTblInternal.h"
#include "util/TextCodec.h"

using namespace FlatTblInternal;

// ---------------------------------------------------------------------------------------
// Session

TFlatSession::TFlatSession() = default;

TFlatSession &FlatSession()
{
    static TFlatSession session;
    return session;
}

void TFlatSession::AddPassword(const std::string &password)
{
    if (password.empty())
        return;
    auto it = std::lower_bound(passwords_.begin(), passwords_.end(), password,
                               [](const std::string &a, const std::string &b) { return FlatCompareText(a, b, true) < 0; });
    if (it != passwords_.end() && FlatCompareText(*it, password, true) == 0)
        return;
    passwords_.insert(it, password);
}

void TFlatSession::RemovePassword(const std::string &password)
{
    auto it = std::find_if(passwords_.begin(), passwords_.end(),
                           [&](const std::string &p) { return FlatCompareText(p, password, true) == 0; });
    if (it != passwords_.end())
        passwords_.erase(it);
}

bool TFlatSession::HasPassword(const std::string &password) const
{
    return std::any_of(passwords_.begin(), passwords_.end(),
                       [&](const std::string &p) { return FlatCompareText(p, password, true) == 0; });
}

bool TFlatSession::TryKeyBlock(const std::string &candidate, uint8_t keyBlock[40], std::string &storePassword)
{
    if (TryKeyBytes(candidate, keyBlock, storePassword))
        return true;
    // A table protected on Windows was keyed with the Windows-1250 bytes of the password;
    // the same text typed here arrives as UTF-8. The form that worked stays the table's
    // password, so its next save can still be opened there.
    if (IsValidUtf8(candidate)) {
        const std::string cp1250 = Utf8ToCp1250(candidate, '\0');
        if (cp1250 != candidate && cp1250.find('\0') == std::string::npos)
            return TryKeyBytes(cp1250, keyBlock, storePassword);
    }
    return false;
}

bool TFlatSession::TryKeyBytes(const std::string &candidate, uint8_t keyBlock[40], std::string &storePassword)
{
    uint8_t copy[40];
    std::memcpy(copy, keyBlock, 40);
    Cipher.Initialize(candidate);
    Cipher.DecryptBuffer(copy, 38);
    if (Crc16(copy, 40) != 0 || copy[0] != '{' || copy[37] != '}')
        return false;
    std::memcpy(keyBlock, copy, 40);
    storePassword = candidate;
    return true;
}

bool TFlatSession::AskPassword(std::string &password)
{
    return OnPassword ? OnPassword(password) : false;
}

void TFlatSession::Notice(const std::string &text)
{
    if (OnNotice)
        OnNotice(text);
}

bool TFlatSession::CheckTablePassword(uint8_t keyBlock[40], std::string &storePassword)
{
    if (!storePassword.empty() && TryKeyBlock(storePassword, keyBlock, storePassword))
        return true;
    const std::vector<std::string> known = passwords_;
    for (const std::string &p : known)
        if (TryKeyBlock(p, keyBlock, storePassword))
            return true;
    const int tries = RetryCount < 1 ? 3 : RetryCount;
    bool ok = false;
    for (int i = 0; i < tries; ++i) {
        std::string answer;
        if (!AskPassword(answer))
            break;
        ok = TryKeyBlock(answer, keyBlock, storePassword);
        if (ok) {
            AddPassword(answer);
            break;
        }
        if (i + 1 < tries)
            Notice(SPasswordTryAgain);
    }
    return ok;
}
