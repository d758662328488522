// The helper program that decodes one picture file the user adds to a disc, in
// a process of its own held to limits of memory and time, and hands back its
// thumbnail:  orbalist-picture <kind> <width> <height> <file>
#include "app/MainPictureFiles.h"

#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 5)
        return 2;
    char *end = nullptr;
    const long kind = std::strtol(argv[1], &end, 10);
    if (*end || kind <= int(TPictureKind::None) || kind > int(TPictureKind::Metafile))
        return 2;
    const long width = std::strtol(argv[2], &end, 10);
    if (*end)
        return 2;
    const long height = std::strtol(argv[3], &end, 10);
    if (*end || width <= 0 || height <= 0 || width > 4096 || height > 4096)
        return 2;
    return RunPictureDecoder(TPictureKind(kind), argv[4], int(width), int(height), PictureDecoderReplyFd);
}
