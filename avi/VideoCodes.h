// The codes the DivX-era MPEG-4 codecs write into a file: the video stream
// header's handler and the video format's compression, in the catalogue's
// order (codec 1 to 13), with the family of the handler. The catalogue and
// the readers take them from here, so the list is written once.
#pragma once

#include <array>
#include <cstdint>

#include "FourCC.h"

enum TCodecFamily : std::uint8_t { cfMsMpeg4 = 0, cfIsoMpeg4 = 1, cfOther = 2 };

struct TVideoCodes {
  FourCC Handler;
  FourCC Compression;
  TCodecFamily Family;
};

// Handlers lower case, compressions upper case; "DivX V3 Fast" writes "div4"
// with "DIV3", and DivX 4 and DivX 5 share the handler "divx".
inline constexpr std::array<TVideoCodes, 13> kVideoCodes = {{
    {MakeFourCC("mpg4"), MakeFourCC("MPG4"), cfMsMpeg4},
    {MakeFourCC("mp42"), MakeFourCC("MP42"), cfMsMpeg4},
    {MakeFourCC("mp43"), MakeFourCC("MP43"), cfMsMpeg4},
    {MakeFourCC("div1"), MakeFourCC("DIV1"), cfMsMpeg4},
    {MakeFourCC("div2"), MakeFourCC("DIV2"), cfMsMpeg4},
    {MakeFourCC("div3"), MakeFourCC("DIV3"), cfMsMpeg4},
    {MakeFourCC("div4"), MakeFourCC("DIV3"), cfMsMpeg4},
    {MakeFourCC("ap41"), MakeFourCC("AP41"), cfMsMpeg4},
    {MakeFourCC("ap42"), MakeFourCC("AP42"), cfMsMpeg4},
    {MakeFourCC("xvid"), MakeFourCC("XVID"), cfIsoMpeg4},
    {MakeFourCC("divx"), MakeFourCC("DIVX"), cfIsoMpeg4},
    {MakeFourCC("divx"), MakeFourCC("DX50"), cfIsoMpeg4},
    {MakeFourCC("3iv2"), MakeFourCC("3IV2"), cfIsoMpeg4},
}};

// The family of a video stream's handler, compared exactly. "DIVX", the
// handler DivX 4 files also carry, counts as MPEG-4 ISO too.
constexpr TCodecFamily FamilyOf(FourCC handler) {
  if (handler == MakeFourCC("DIVX")) return cfIsoMpeg4;
  for (const TVideoCodes& c : kVideoCodes)
    if (c.Handler == handler) return c.Family;
  return cfOther;
}
