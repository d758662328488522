#pragma once
// Blending of 32-bit ARGB pixels (alpha in the top byte). Each operation has a
// portable form and a vector form; the forms are chosen once at start-up from
// the processor identification and called through the references below.
#include <cstdint>

using TColor32 = uint32_t;

using TBlendReg = TColor32 (*)(TColor32 f, TColor32 b, TColor32 w);
using TBlendMem = void (*)(TColor32 f, TColor32 &b, TColor32 w);
using TBlendRegAlpha = TColor32 (*)(TColor32 f, TColor32 b);
using TBlendMemAlpha = void (*)(TColor32 f, TColor32 &b);
using TBlendLine = void (*)(const TColor32 *src, TColor32 *dst, int count);
using TBlendLineMaster = void (*)(const TColor32 *src, TColor32 *dst, int count, TColor32 m);

// The eight blend operations in force (weights 0 .. 255; Alpha forms weigh by
// F's alpha, Master forms by F's alpha x M / 256; Mem forms write into B).
extern TBlendReg BlendReg;
extern TBlendMem BlendMem;
extern TBlendRegAlpha BlendRegAlpha;
extern TBlendMemAlpha BlendMemAlpha;
extern TBlendReg BlendRegMaster;
extern TBlendMem BlendMemMaster;
extern TBlendLine BlendLine;
extern TBlendLineMaster BlendLineMaster;

// One full set of the operations.
struct BlendRoutines {
    TBlendReg Reg;
    TBlendMem Mem;
    TBlendRegAlpha RegAlpha;
    TBlendMemAlpha MemAlpha;
    TBlendReg RegMaster;
    TBlendMem MemMaster;
    TBlendLine Line;
    TBlendLineMaster LineMaster;
};

const BlendRoutines &PortableBlendRoutines();
// The vector forms; null when this build has none for the processor family.
const BlendRoutines *VectorBlendRoutines();
// True when the start-up choice took the vector forms.
bool UsingVectorBlendRoutines();
