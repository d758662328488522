#include "util/BaseGraphUtils.h"

#include "util/BaseSysInfo.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define ORB_HAVE_SSE2 1
#else
#define ORB_HAVE_SSE2 0
#endif

namespace {

// ---- Portable forms: two channels at a time with the mask 0x00FF00FF.

TColor32 PortableReg(TColor32 f, TColor32 b, TColor32 w)
{
    if (w == 0)
        return b;
    if (w >= 255)
        return f;
    const TColor32 iw = 255 - w;
    // Each product is at most 255 x 255 + 128, which fits in its 16-bit lane.
    const TColor32 fRB = (((f & 0x00FF00FF) * w + 0x00800080) >> 8) & 0x00FF00FF;
    const TColor32 fAG = ((((f >> 8) & 0x00FF00FF) * w + 0x00800080) >> 8) & 0x00FF00FF;
    const TColor32 bRB = (((b & 0x00FF00FF) * iw + 0x00800080) >> 8) & 0x00FF00FF;
    const TColor32 bAG = ((((b >> 8) & 0x00FF00FF) * iw + 0x00800080) >> 8) & 0x00FF00FF;
    return (fRB + bRB) | ((fAG + bAG) << 8);
}

void PortableMem(TColor32 f, TColor32 &b, TColor32 w)
{
    b = PortableReg(f, b, w);
}

TColor32 PortableRegAlpha(TColor32 f, TColor32 b)
{
    return PortableReg(f, b, f >> 24);
}

void PortableMemAlpha(TColor32 f, TColor32 &b)
{
    b = PortableReg(f, b, f >> 24);
}

TColor32 PortableRegMaster(TColor32 f, TColor32 b, TColor32 m)
{
    return PortableReg(f, b, ((f >> 24) * (m & 0xFF)) >> 8);
}

void PortableMemMaster(TColor32 f, TColor32 &b, TColor32 m)
{
    b = PortableRegMaster(f, b, m);
}

void PortableLine(const TColor32 *src, TColor32 *dst, int count)
{
    for (int i = 0; i < count; ++i) {
        const TColor32 a = src[i] >> 24;
        if (a == 0)
            continue;
        dst[i] = a == 255 ? src[i] : PortableReg(src[i], dst[i], a);
    }
}

void PortableLineMaster(const TColor32 *src, TColor32 *dst, int count, TColor32 m)
{
    for (int i = 0; i < count; ++i)
        PortableMemMaster(src[i], dst[i], m);
}

const BlendRoutines kPortable = {PortableReg,      PortableMem,       PortableRegAlpha, PortableMemAlpha,
                                 PortableRegMaster, PortableMemMaster, PortableLine,     PortableLineMaster};

#if ORB_HAVE_SSE2
// ---- Vector forms: B + (F - B) x W / 256 in 16-bit lanes with a rounding
// bias of 128; may differ from the portable forms in the last bit.

inline __m128i BlendLanes(__m128i f16, __m128i b16, __m128i w16)
{
    // B + (F - B) x W / 256 written as (F x W + B x (256 - W) + 128) / 256:
    // every term stays below 65536, so unsigned 16-bit lanes cannot overflow
    // (the signed difference times the weight would).
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i iw = _mm_sub_epi16(_mm_set1_epi16(256), w16);
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(f16, w16), _mm_mullo_epi16(b16, iw));
    t = _mm_add_epi16(t, bias);
    return _mm_srli_epi16(t, 8);
}

TColor32 VectorReg(TColor32 f, TColor32 b, TColor32 w)
{
    if (w == 0)
        return b;
    if (w >= 255)
        return f;
    const __m128i zero = _mm_setzero_si128();
    const __m128i f16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(f)), zero);
    const __m128i b16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(b)), zero);
    const __m128i r = BlendLanes(f16, b16, _mm_set1_epi16(static_cast<short>(w)));
    return static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(r, zero)));
}

void VectorMem(TColor32 f, TColor32 &b, TColor32 w)
{
    b = VectorReg(f, b, w);
}

TColor32 VectorRegAlpha(TColor32 f, TColor32 b)
{
    return VectorReg(f, b, f >> 24);
}

void VectorMemAlpha(TColor32 f, TColor32 &b)
{
    b = VectorReg(f, b, f >> 24);
}

TColor32 VectorRegMaster(TColor32 f, TColor32 b, TColor32 m)
{
    return VectorReg(f, b, ((f >> 24) * (m & 0xFF)) >> 8);
}

void VectorMemMaster(TColor32 f, TColor32 &b, TColor32 m)
{
    b = VectorRegMaster(f, b, m);
}

void VectorLine(const TColor32 *src, TColor32 *dst, int count)
{
    int i = 0;
    const __m128i zero = _mm_setzero_si128();
    // Two pixels per step; each pixel's weight is its own alpha, with the
    // 0 and 255 cases kept exact as in the single-pixel forms.
    for (; i + 2 <= count; i += 2) {
        const TColor32 a0 = src[i] >> 24, a1 = src[i + 1] >> 24;
        if ((a0 == 0 || a0 == 255) && (a1 == 0 || a1 == 255)) {
            if (a0 == 255) dst[i] = src[i];
            if (a1 == 255) dst[i + 1] = src[i + 1];
            continue;
        }
        const __m128i f = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + i));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(dst + i));
        const __m128i w = _mm_set_epi16(short(a1), short(a1), short(a1), short(a1),
                                        short(a0), short(a0), short(a0), short(a0));
        const __m128i r = _mm_packus_epi16(BlendLanes(_mm_unpacklo_epi8(f, zero), _mm_unpacklo_epi8(b, zero), w), zero);
        TColor32 out[4];
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), r);
        if (a0 != 0) dst[i] = a0 == 255 ? src[i] : out[0];
        if (a1 != 0) dst[i + 1] = a1 == 255 ? src[i + 1] : out[1];
    }
    for (; i < count; ++i) {
        const TColor32 a = src[i] >> 24;
        if (a != 0)
            dst[i] = a == 255 ? src[i] : VectorReg(src[i], dst[i], a);
    }
}

void VectorLineMaster(const TColor32 *src, TColor32 *dst, int count, TColor32 m)
{
    for (int i = 0; i < count; ++i)
        VectorMemMaster(src[i], dst[i], m);
}

const BlendRoutines kVector = {VectorReg,      VectorMem,       VectorRegAlpha, VectorMemAlpha,
                               VectorRegMaster, VectorMemMaster, VectorLine,     VectorLineMaster};
#endif

const BlendRoutines &ChooseAtStartup()
{
#if ORB_HAVE_SSE2
    if (GetCpuInfo().HasMMX)
        return kVector;
#endif
    return kPortable;
}

const BlendRoutines &g_chosen = ChooseAtStartup();

} // namespace

TBlendReg BlendReg = g_chosen.Reg;
TBlendMem BlendMem = g_chosen.Mem;
TBlendRegAlpha BlendRegAlpha = g_chosen.RegAlpha;
TBlendMemAlpha BlendMemAlpha = g_chosen.MemAlpha;
TBlendReg BlendRegMaster = g_chosen.RegMaster;
TBlendMem BlendMemMaster = g_chosen.MemMaster;
TBlendLine BlendLine = g_chosen.Line;
TBlendLineMaster BlendLineMaster = g_chosen.LineMaster;

const BlendRoutines &PortableBlendRoutines()
{
    return kPortable;
}

const BlendRoutines *VectorBlendRoutines()
{
#if ORB_HAVE_SSE2
    return &kVector;
#else
    return nullptr;
#endif
}

bool UsingVectorBlendRoutines()
{
    return BlendReg != kPortable.Reg;
}
