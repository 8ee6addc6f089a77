// Small AVI images for the fuzzers to start from, and for the replay test to
// run the fuzz checks over: sound files of every codec and layout, and files
// damaged in the ways the reader has to cope with.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "RiffBuilder.h"
#include "app/CodecCatalogue.h"

namespace fuzzseeds {

using riff::Bytes;

inline std::string CodeText(FourCC v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                                                       static_cast<char>(v >> 16), static_cast<char>(v >> 24)}; }

inline std::vector<std::pair<std::string, Bytes>> MakeSeeds() {
  using namespace riff;
  std::vector<std::pair<std::string, Bytes>> seeds;
  auto add = [&](const std::string& name, Bytes b) { seeds.emplace_back(name, std::move(b)); };
  auto small = [](AviOptions o) {
    o.frames = 2;
    o.frameSize = 11;
    return o;
  };

  // Every codec of the catalogue, as the conversion writes it.
  for (TCodecId id = kFirstCodec; id <= kLastCodec; ++id) {
    AviOptions o = small({});
    o.handler = CodeText(TargetFourCCs(id).Handler);
    o.compression = CodeText(TargetFourCCs(id).Compression);
    add("codec" + std::to_string(id), MakeAvi(o).bytes);
  }
  // Layouts.
  {
    AviOptions o = small({});
    o.audio = true;
    add("video-audio", MakeAvi(o).bytes);
    o.audioFirst = true;
    o.handler = o.compression = "XVID";
    add("audio-video", MakeAvi(o).bytes);
  }
  {
    AviOptions o = small({});
    o.strhSize = 64;
    o.strfSize = 1064 / 8;
    o.handler = "div3";
    o.compression = "DIV3";
    add("strh64-strf-codec-data", MakeAvi(o).bytes);
  }
  {
    AviOptions o = small({});
    o.extraStrl = {Chunk("JUNK", 7), Chunk("strn", Text(std::string("video\0", 6))), Chunk("indx", 24)};
    add("strl-extras", MakeAvi(o).bytes);
    o.idx1 = false;
    add("no-idx1", MakeAvi(o).bytes);
  }
  {
    AviOptions o = small({});
    o.strhSize = 6;  // the handler field does not fit in the record
    add("short-strh", MakeAvi(o).bytes);
    o.strhSize = 56;
    o.strfSize = 18;  // neither does the compression field
    add("short-strf", MakeAvi(o).bytes);
  }
  add("handler-only", Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()),
                                                          List("strl", {Chunk("strh", StrhData("vids", "mp43"))})}),
                                           List("movi", {})})})
                          .bytes);
  add("two-videos", Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData(2)), VideoStrl("div3", "DIV3"),
                                                        VideoStrl("xvid", "XVID", 56, 40, "w")}),
                                         List("movi", {Chunk("00dc", 5), Chunk("01dc", 5)})})})
                        .bytes);
  add("odml-info-junk",
      Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()), VideoStrl("DIVX", "DIVX"),
                                         List("odml", {Chunk("dmlh", 248)})}),
                           List("INFO", {Chunk("ISFT", Text(std::string("x\0", 2)))}), Chunk("JUNK", 33),
                           List("movi", {List("rec ", {Chunk("00dc", 3)}), Chunk("ix00", 40)}), Chunk("idx1", 16)}),
             Riff("AVIX", {List("movi", {Chunk("00dc", 9)})})})
          .bytes);
  add("wave-form", Build({Riff("WAVE", {Chunk("fmt ", 16), Chunk("data", 9)})}).bytes);
  add("riff-only", Build({Riff("AVI ", {})}).bytes);

  // Damage.
  const Bytes sound = MakeAvi(small({})).bytes;
  {
    Image img = MakeAvi(small({}));
    add("truncated-in-strf", Bytes(img.bytes.begin(), img.bytes.begin() + img.DataPos("v.strf") + 10));
    add("truncated-in-strh", Bytes(img.bytes.begin(), img.bytes.begin() + img.DataPos("v.strh") + 6));
    Bytes big = img.bytes;
    Set32(big, 4, 0x7FFFFFF0);  // a form that runs past the end
    add("form-past-end", big);
    Bytes gap = img.bytes;
    gap.insert(gap.begin() + img.HeaderPos("v.strl"), {'#', 0, 1, '?', ' ', 0xFF});
    add("garbage-before-strl", gap);
  }
  add("list-size-below-4", Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData())}).Sized(2),
                                                VideoStrl("div3", "DIV3"), List("movi", {})})})
                               .bytes);
  add("huge-chunk", Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()), Chunk("JUNK", 4).Sized(0x80000001),
                                                       VideoStrl("mp42", "MP42")}),
                                         List("movi", {})})})
                        .bytes);
  add("scan-limit-chunk", Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()), Raw("!!"),
                                                             Chunk("JUNK", 4).Sized(10485761), VideoStrl("divx", "DX50")}),
                                               List("movi", {})})})
                              .bytes);
  add("unknown-list", Build({Riff("AVI ", {List("zzzz", {Chunk("abcd", 3)}), Raw("\x01\x02"),
                                           List("hdrl", {Chunk("avih", AvihData()), VideoStrl("ap41", "AP41")}),
                                           List("movi", {Chunk("00dc", 2)})})})
                          .bytes);
  add("overrunning-chunk", Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()).Sized(200),
                                                              VideoStrl("div4", "DIV3")}),
                                                List("movi", {})})})
                               .bytes);
  add("odd-no-pad", Build({Riff("AVI ", {List("hdrl", {Chunk("avih", AvihData()), VideoStrl("3iv2", "3IV2")}),
                                         Chunk("JUNK", 3).NoPad()})})
                        .bytes);
  return seeds;
}

}  // namespace fuzzseeds
