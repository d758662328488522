// The listing library's reading session and what its files share; nothing outside the library sees them.
#pragma once

#include "RarApi.h"
#include "RarCrypt.h"
#include "RarFormat.h"

#include <archive.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace rarlib {

constexpr size_t kChunk = 64 * 1024;

// Copies `text` into a fixed buffer of `size` bytes, never cutting a UTF-8
// character, always terminated.
void CopyText(char *dst, size_t size, const std::string &text);

class Session {
public:
    ~Session()
    {
        CloseVolume();
        CloseLibarchive();
    }

    int Open(const char *name, unsigned mode, char *cmtBuf, unsigned cmtBufSize, unsigned &cmtSize,
             unsigned &cmtState, unsigned &arcFlags);
    int ReadHeader(Block &out, std::string &volumeName);
    int Process(int operation, const char *destPath, const char *destName);

    UNRARCALLBACK callback = nullptr;
    LPARAM userData = 0;
    CHANGEVOLPROC changeVolProc = nullptr;
    PROCESSDATAPROC processDataProc = nullptr;
    std::string password;

private:
    int OpenVolume(const std::string &name, bool first);
    // Where the archive begins in the open file: at its start, or after a
    // program stub. Sets format_ and returns the position after the signature.
    int FindSignature(uint64_t &afterSignature);
    // Takes the main header `b` read at pos_ as the volume's.
    int TakeMain(const Block &b, bool first);
    // Format 5.0 with encrypted headers: the key from the password, then the
    // main header, which is the first encrypted one.
    int ReadSealedMain(bool first);
    bool PrepareKey5();
    void CloseVolume();
    int ReadBlock(uint64_t pos, Block &b);
    int ReadSealedBlock(uint64_t pos, Block &b);
    int NextBlock(Block &b);
    int SwitchVolume();
    int AskPassword();
    int Emit(const uint8_t *data, size_t size, int fd, uint32_t &crc);
    int ReadStored(int fd, uint32_t &crc);
    int ReadCompressed(int fd, uint32_t &crc);
    // The current member's next part, in the next volume: a missing volume
    // fails the open, a block that does not go on with this member is bad data.
    int NextPart(Block &next);
    // Follows the current member through the volumes to its last part.
    int LastPart(Block &last);
    void CloseLibarchive();
    // The comment in the block at `headerPos`, its data right after the header.
    int ReadComment(const Block &b, uint64_t headerPos, char *buf, unsigned bufSize, unsigned &size);
    int ReadOldComment(char *buf, unsigned bufSize, unsigned &size);
    // The comment packed in the block at `headerPos`, decoded by handing
    // libarchive a one-member archive made of that block.
    int UnpackComment(const Block &b, uint64_t headerPos, std::string &text, size_t limit);

    int fd_ = -1;
    uint64_t fileSize_ = 0;
    std::string volumeName_;
    std::string firstVolume_;
    int format_ = 0;
    unsigned mode_ = RAR_OM_LIST;
    bool volumeArchive_ = false;
    bool newNumbering_ = false;
    bool encryptedHeaders_ = false; // the archive's headers are encrypted
    bool sealed_ = false;           // the volume's headers from pos_ on are encrypted
    bool mainPending_ = false;      // format 5.0: the encrypted main header is not read yet
    bool headerKeyReady_ = false;   // the password for the headers is known
    uint64_t mainPos_ = 0;
    uint64_t archiveStart_ = 0;      // where the volume's signature stands (after any program stub)
    uint64_t firstArchiveStart_ = 0; // the same for the first volume
    Block crypt5_;                  // the volume's encryption header
    bool haveKey5_ = false, key5Ok_ = false;
    uint8_t key5Salt_[kSalt5Size] = {}; // what key5_ was derived for
    uint32_t key5Lg2_ = 0;
    Key5 key5_{};
    bool haveKey4_ = false;
    uint8_t key4Salt_[kSalt4Size] = {};
    Key4 key4_{};
    bool lastSplitAfter_ = false;
    uint64_t pos_ = 0;

    bool haveCurrent_ = false;
    Block current_;
    uint64_t currentDataPos_ = 0;
    // Which occurrence of its name the current member is, to find it again
    // when libarchive decodes it.
    size_t currentOccurrence_ = 0;
    // How often each name has come by so far, here and in libarchive's stream.
    std::unordered_map<std::string, size_t> seenNames_;
    std::unordered_map<std::string, size_t> seenByLibarchive_;
    Block main_;

    struct archive *la_ = nullptr;
    // libarchive's view of a self-extracting archive: the file from the
    // signature on, so that no program stub has to be found by libarchive.
    struct Tail {
        int fd = -1;
        uint64_t start = 0, size = 0, pos = 0;
        std::vector<uint8_t> buf;
        ~Tail()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };
    std::unique_ptr<Tail> tail_;
    int OpenTail(struct archive *a);
};

} // namespace rarlib
