// The chunk walker as it was before it read ahead: every step is a call on
// the stream (4 or 2 bytes per read, the size asked for per candidate).
// Kept to prove that the buffered walker finds the same things and leaves
// the stream where this one does.
#pragma once

#include <algorithm>
#include <cstdint>

#include "avi/QmRIFFStream.h"

namespace reference {

// Walks the chunk headers of a RIFF file one at a time. Trusts the declared
// sizes until the file proves them wrong, then finds headers by scanning for
// plausible chunk ids ("scan mode") for the rest of its life. Only reads and
// seeks the stream; never writes to it.
class ReferenceRiffStream {
 public:
  static constexpr std::int64_t kMaxScannedChunkSize = 10485760;  // 0xA00000
  static constexpr FourCC kTopLevel = 0xFFFFFFFF;

  // The stream stays the caller's and must outlive this object.
  explicit ReferenceRiffStream(TStream64* stream) : Stream(stream) {}
  ReferenceRiffStream(const ReferenceRiffStream&) = delete;
  ReferenceRiffStream& operator=(const ReferenceRiffStream&) = delete;

  std::int64_t Seek(std::int64_t offset, std::uint16_t origin);
  bool IsValidChunkId(FourCC id);
  static bool IsKnownList(FourCC id, FourCC type);
  std::int64_t FindNextChunk();  // header position, or -1
  bool Descend();
  std::int64_t Ascend();  // position of a seek it made, else -1

  FourCC ChunkId = 0;
  std::int64_t ChunkSize = 0;
  FourCC FormType = 0;
  bool EndOfChunk = false;
  bool EndOfFile = false;
  bool HeaderValid = false;
  std::uint32_t Depth = 0;
  TPosTags Tags;
  bool Resync = false;
  std::int64_t DataPos = 0;
  std::int64_t StreamCount = 0;
  TStream64* Stream;
  std::int64_t ListEnd = 0;

 private:
  FourCC Context(std::int64_t position);
  bool ReadFourCC(FourCC& value);
  bool ReadContainerType();
  bool SlideWindow();
  void Push();

  // Where the last context search ended, so that a long scan over garbage
  // does not walk a deep stack again for every two bytes it moves.
  std::uint64_t stackVersion_ = 0;
  std::uint64_t contextVersion_ = ~std::uint64_t{0};
  std::int64_t contextPos_ = 0;
  std::int64_t contextIndex_ = -1;
};


namespace detail {
constexpr FourCC kRIFF = MakeFourCC("RIFF");
constexpr FourCC kLIST = MakeFourCC("LIST");
constexpr FourCC kIdx1 = MakeFourCC("idx1");
constexpr FourCC kJUNK = MakeFourCC("JUNK");
constexpr FourCC kMovi = MakeFourCC("movi");
constexpr FourCC kRec = MakeFourCC("rec ");

inline bool IsContainer(FourCC id) { return id == kRIFF || id == kLIST; }

inline std::uint8_t ByteOf(FourCC v, int i) { return static_cast<std::uint8_t>(v >> (8 * i)); }
inline bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
inline bool IsAlnum(std::uint8_t c) { return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "00dc" and friends: two digits, then the kind of data.
inline bool IsStreamDataId(FourCC id, std::int64_t streamCount) {
  if (!IsDigit(ByteOf(id, 0)) || !IsDigit(ByteOf(id, 1))) return false;
  const FourCC kind = id >> 16;
  constexpr FourCC db = MakeFourCC("..db") >> 16, dc = MakeFourCC("..dc") >> 16, pc = MakeFourCC("..pc") >> 16,
                   wb = MakeFourCC("..wb") >> 16;
  if (kind != db && kind != dc && kind != pc && kind != wb) return false;
  return (ByteOf(id, 0) - '0') * 10 + (ByteOf(id, 1) - '0') < streamCount;
}

// "ix" and two digits: a per-stream index.
inline bool IsIndexId(FourCC id) {
  return ByteOf(id, 0) == 'i' && ByteOf(id, 1) == 'x' && IsDigit(ByteOf(id, 2)) && IsDigit(ByteOf(id, 3));
}

inline bool IsValidIndexId(FourCC id, std::int64_t streamCount) {
  return IsIndexId(id) && (ByteOf(id, 2) - '0') * 10 + (ByteOf(id, 3) - '0') < streamCount;
}

// A container's size counts its type field; one declared shorter than that
// is taken as empty, so that its end never lies before its data.
inline std::int64_t ContainerDataSize(std::int64_t declared) { return declared >= 4 ? declared - 4 : 0; }
}  // namespace detail

using namespace detail;

inline std::int64_t ReferenceRiffStream::Seek(std::int64_t offset, std::uint16_t origin) {
  return Stream ? Stream->Seek(offset, origin) : -1;
}

inline bool ReferenceRiffStream::ReadFourCC(FourCC& value) {
  std::uint8_t b[4];
  if (Stream->Read(b, 4) < 4) return false;
  value = FourCCFromBytes(b);
  return true;
}

inline bool ReferenceRiffStream::ReadContainerType() {
  FormType = 0;
  if (!ReadFourCC(FormType)) return false;
  ChunkSize = ContainerDataSize(ChunkSize);
  return true;
}

// Moves the id window on by two bytes: its last two bytes become its first.
inline bool ReferenceRiffStream::SlideWindow() {
  std::uint8_t b[2];
  if (Stream->Read(b, 2) < 2) return false;
  ChunkId = (ChunkId >> 16) | (static_cast<FourCC>(b[0]) << 16) | (static_cast<FourCC>(b[1]) << 24);
  return true;
}

inline FourCC ReferenceRiffStream::Context(std::int64_t position) {
  const std::int64_t depth = std::min<std::int64_t>(Depth, static_cast<std::int64_t>(Tags.size()));
  std::int64_t i = depth - 1;
  // Entries that had ended, or could not give a context, at an earlier
  // position of the same stack still cannot: resume where that search ended.
  if (contextVersion_ == stackVersion_ && position >= contextPos_) i = std::min(i, contextIndex_);
  for (; i >= 0; --i) {
    const TPosTag& t = Tags[static_cast<std::size_t>(i)];
    if (t.PaddedEnd() <= position) continue;
    if (t.Id == kRIFF || t.Id == kIdx1 || (t.Id == kLIST && t.FormType != kRec)) break;
  }
  contextVersion_ = stackVersion_;
  contextPos_ = position;
  contextIndex_ = i;
  if (i < 0) return 0;
  const TPosTag& t = Tags[static_cast<std::size_t>(i)];
  return t.Id == kIdx1 ? kIdx1 : t.FormType;
}

inline bool ReferenceRiffStream::IsValidChunkId(FourCC id) {
  const FourCC context = Context(Stream ? Stream->GetPosition() : 0);
  if (context == kIdx1) return id == kJUNK || IsStreamDataId(id, StreamCount);
  if (context == kMovi)
    return id == kJUNK || IsStreamDataId(id, StreamCount) || IsValidIndexId(id, StreamCount);
  for (int i = 0; i < 4; ++i)
    if (!IsAlnum(ByteOf(id, i))) return false;
  return true;
}

inline bool ReferenceRiffStream::IsKnownList(FourCC id, FourCC type) {
  if (id == kRIFF) return type == MakeFourCC("AVI ") || type == MakeFourCC("AVIX");
  if (id == kLIST)
    return type == MakeFourCC("hdrl") || type == MakeFourCC("strl") || type == kMovi || type == kRec ||
           type == MakeFourCC("odml") || type == MakeFourCC("INFO");
  return false;
}

// Every pass reads at least two bytes further, so the scan ends at the end
// of the file at the latest.
inline std::int64_t ReferenceRiffStream::FindNextChunk() {
  if (!Stream) return -1;
  if (!ReadFourCC(ChunkId)) return -1;
  for (;;) {
    while (!IsValidChunkId(ChunkId)) {
      Resync = true;
      if (IsAlnum(ByteOf(ChunkId, 2)) && IsAlnum(ByteOf(ChunkId, 3))) {
        if (!SlideWindow()) return -1;
      } else if (!ReadFourCC(ChunkId)) {
        return -1;
      }
    }
    FourCC size;
    if (!ReadFourCC(size)) return -1;
    ChunkSize = size;
    if (Stream->GetPosition() + ChunkSize > Stream->GetSize() || ChunkSize > kMaxScannedChunkSize) {
      Stream->Seek(-4, 1);
      if (!SlideWindow()) return -1;
      continue;
    }
    if (IsContainer(ChunkId)) {
      if (!ReadContainerType()) return -1;
      if (!IsKnownList(ChunkId, FormType)) {
        ChunkId = 0;  // pass over its header and look inside
        continue;
      }
      return Stream->GetPosition() - 12;
    }
    return Stream->GetPosition() - 8;
  }
}

inline bool ReferenceRiffStream::Descend() {
  EndOfFile = true;
  HeaderValid = false;
  if (!Stream) return false;
  if (Resync) {
    if (FindNextChunk() < 0) return false;
  } else {
    FourCC size;
    if (!ReadFourCC(ChunkId) || !ReadFourCC(size)) return false;
    ChunkSize = size;
    FormType = 0;
    if (IsContainer(ChunkId)) {
      if (!ReadContainerType()) return false;
    } else if (!IsValidChunkId(ChunkId) || ChunkSize > 0x7FFFFFFF) {
      // The sizes led astray: look again from the last data we trusted.
      Stream->Seek(DataPos, 0);
      if (FindNextChunk() < 0) return false;
    }
  }
  DataPos = Stream->GetPosition();
  // A container is judged against the list around it, not its own end.
  const std::int64_t enclosingEnd = ListEnd;
  if (IsContainer(ChunkId)) ListEnd = DataPos + ((ChunkSize + 1) & ~std::int64_t{1});
  if (!Resync && enclosingEnd != 0 && DataPos + ChunkSize > enclosingEnd) Resync = true;
  EndOfFile = Stream->GetSize() <= DataPos;
  HeaderValid = true;
  Push();
  EndOfChunk = ChunkSize == 0;
  return true;
}

inline void ReferenceRiffStream::Push() {
  ++Depth;
  if (Depth >= Tags.size()) Tags.resize(Tags.size() + 16);
  Tags[Depth - 1] = TPosTag{ChunkId, FormType, DataPos, ChunkSize};
  ++stackVersion_;
}

inline std::int64_t ReferenceRiffStream::Ascend() {
  EndOfChunk = false;
  if (!HeaderValid || !Stream) return -1;
  if (Depth > Tags.size()) Depth = static_cast<std::uint32_t>(Tags.size());
  std::int64_t result = -1;
  if (!Resync) {
    if (Depth > 0) {
      const std::int64_t target = Tags[Depth - 1].PaddedEnd();
      if (Stream->GetPosition() != target) result = Stream->Seek(target, 0);
      --Depth;
      ++stackVersion_;
    }
  } else {
    if (Depth > 0 && IsIndexId(Tags[Depth - 1].Id)) {
      // Only the 32-byte head of a stream index is skipped; its entries
      // are scanned like any other data.
      const std::int64_t target = Tags[Depth - 1].DataPos + 32;
      if (Stream->GetPosition() != target) result = Stream->Seek(target, 0);
    }
    const std::int64_t found = FindNextChunk();
    if (found >= 0) result = Stream->Seek(found, 0);  // the next Descend reads it again
    const std::int64_t position = Stream->GetPosition();
    if (Depth > 0) --Depth;
    while (Depth > 0 && Tags[Depth - 1].PaddedEnd() <= position) --Depth;
    ++stackVersion_;
  }
  if (Depth > 0) {
    const TPosTag& t = Tags[Depth - 1];
    ChunkId = t.Id;
    ChunkSize = t.Size;
    if (IsContainer(t.Id)) ListEnd = t.PaddedEnd();
  } else {
    ListEnd = 0;
    ChunkId = kTopLevel;
  }
  const std::int64_t position = Stream->GetPosition();
  const std::int64_t size = Stream->GetSize();
  EndOfFile = size <= position || position < 0;
  if (Depth > 0) EndOfChunk = Tags[Depth - 1].End() <= position || position < 0 || size <= position;
  return result;
}

}  // namespace reference
