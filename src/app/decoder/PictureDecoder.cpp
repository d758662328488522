// The helper program that decodes one picture file the user adds to a disc, in
// a process of its own held to limits of memory and time, and hands back its
// thumbnail:  orbalist-picture <kind> <width> <height> <file>
#include "app/discs/MainPictureFiles.h"

#include <cstdlib>

namespace {

bool Number(const char *text, long &value)
{
    char *end = nullptr;
    value = std::strtol(text, &end, 10);
    return *text && !*end;
}

} // namespace

int main(int argc, char **argv)
{
    long kind = 0, width = 0, height = 0;
    if (argc != 5 || !Number(argv[1], kind) || !Number(argv[2], width) || !Number(argv[3], height) ||
        kind <= long(TPictureKind::None) || kind > long(TPictureKind::Metafile) || width > 0xFFFF || height > 0xFFFF)
        return 2;
    return RunPictureDecoder(TPictureKind(kind), argv[4], int(width), int(height), PictureDecoderReplyFd);
}
