#include "QmRIFFStream.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <typeinfo>

#include "../platform/OsFile.h"
#include "RiffIds.h"

// ---------------------------------------------------------------- streams

void TStream64::SetSize(std::int64_t) {}

std::int64_t TStream64::GetPosition() { return Seek(0, os::FromCurrent); }

void TStream64::SetPosition(std::int64_t position) { Seek(position, os::FromBeginning); }

std::int64_t TStream64::GetSize() {
  std::int64_t pos = Seek(0, os::FromCurrent);
  std::int64_t size = Seek(0, os::FromEnd);
  Seek(pos, os::FromBeginning);
  return size;
}

namespace {
// One OS call moves at most 4 GiB - 1 bytes; a non-positive count moves none.
std::uint32_t CallCount(std::int64_t count) {
  if (count <= 0) return 0;
  return static_cast<std::uint32_t>(std::min<std::int64_t>(count, 0xFFFFFFFF));
}
}  // namespace

void THandleStream64::SetSize(std::int64_t newSize) {
  ++Generation;
  Seek(newSize, os::FromBeginning);
  os::SetEndOfFile(Handle);
}

std::int64_t THandleStream64::Read(void* buffer, std::int64_t count) {
  std::uint32_t n = CallCount(count);
  return n == 0 ? 0 : os::ReadFile(Handle, buffer, n);
}

std::int64_t THandleStream64::Write(const void* buffer, std::int64_t count) {
  std::uint32_t n = CallCount(count);
  if (n > 0) ++Generation;
  return n == 0 ? 0 : os::WriteFile(Handle, buffer, n);
}

std::int64_t THandleStream64::Seek(std::int64_t offset, std::uint16_t origin) {
  return os::SeekFile(Handle, offset, origin);
}

bool THandleStream64::Flush() { return os::FlushFile(Handle); }

namespace {
std::int32_t OpenByMode(const std::string& fileName, std::uint16_t mode, std::int64_t& size) {
  if (mode == fmCreate)
    return os::OpenFile(fileName, os::Access::ReadWrite, os::ShareNone, os::Disposition::CreateAlways, &size);
  os::Access access;
  switch (mode & 0x3) {
    case 0:
      access = os::Access::Read;
      break;
    case 1:
      access = os::Access::Write;
      break;
    case 2:
      access = os::Access::ReadWrite;
      break;
    default:
      return os::kInvalidHandle;  // access 3 is not a valid mode
  }
  unsigned share;
  switch ((mode >> 4) & 0xF) {
    case 0:
    case 1:
      share = os::ShareNone;
      break;
    case 2:
      share = os::ShareRead;
      break;
    case 3:
      share = os::ShareWrite;
      break;
    case 4:
      share = os::ShareReadWrite;
      break;
    default:
      return os::kInvalidHandle;  // sharing 5 to 15 is not a valid mode
  }
  return os::OpenFile(fileName, access, share, os::Disposition::OpenExisting, &size);
}
}  // namespace

TFileStream64::TFileStream64(const std::string& fileName, std::uint16_t mode) : TFileStream64(fileName, mode, 0) {}

TFileStream64::TFileStream64(const std::string& fileName, std::uint16_t mode, std::uint32_t /*rights*/)
    : THandleStream64(-1) {
  Handle = OpenByMode(fileName, mode, Size);
  if (Handle < 0) {
    if (mode == fmCreate) throw EFCreateError("Cannot create file " + fileName);
    throw EFOpenError("Cannot open file " + fileName);
  }
}

TFileStream64::~TFileStream64() {
  if (Handle >= 0) os::CloseFile(Handle);
}

void TFileStream64::SetSize(std::int64_t newSize) {
  ++Generation;
  blockStart_ = -1;
  Seek(newSize, os::FromBeginning);
  // Where the seek left it, as the system's end-of-file call would.
  if (os::SetFileSize(Handle, Position)) Size = Position;
}

std::int64_t TFileStream64::Read(void* buffer, std::int64_t count) {
  const std::uint32_t n = CallCount(count);
  if (n == 0) return 0;
  // From the block when the bytes lie in it, or it reached the file's end.
  const std::int64_t off = Position - blockStart_;
  if (blockStart_ >= 0 && off >= 0 && off <= blockLength_ &&
      (blockLength_ - off >= n || (Size >= 0 && blockStart_ + blockLength_ >= Size))) {
    const std::uint32_t done = std::min<std::uint32_t>(n, static_cast<std::uint32_t>(blockLength_ - off));
    std::memcpy(buffer, block_.data() + off, done);
    Position += done;
    return done;
  }
  std::uint32_t done;
  if (n >= kBlockSize) {
    done = os::ReadFileAt(Handle, buffer, n, Position);
  } else {
    block_.resize(kBlockSize);
    blockLength_ = os::ReadFileAt(Handle, block_.data(), kBlockSize, Position);
    blockStart_ = Position;
    done = std::min(n, blockLength_);
    std::memcpy(buffer, block_.data(), done);
  }
  Position += done;
  return done;
}

std::int64_t TFileStream64::Write(const void* buffer, std::int64_t count) {
  const std::uint32_t n = CallCount(count);
  if (n == 0) return 0;
  ++Generation;
  blockStart_ = -1;
  const std::uint32_t done = os::WriteFileAt(Handle, buffer, n, Position);
  Position += done;
  if (Size >= 0) Size = std::max(Size, Position);
  return done;
}

std::int64_t TFileStream64::End() const { return Size >= 0 ? Size : os::FileSize(Handle); }  // not known at the open

// ---------------------------------------------------------------- RIFF chunk stream

namespace {
using namespace riffid;
constexpr FourCC kJUNK = MakeFourCC("JUNK");
constexpr FourCC kRec = MakeFourCC("rec ");

std::uint8_t ByteOf(FourCC v, int i) { return static_cast<std::uint8_t>(v >> (8 * i)); }
constexpr bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
constexpr bool IsAlnumByte(std::uint8_t c) { return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

struct AlnumTable {
  std::uint8_t is[256];
  constexpr AlnumTable() : is() {
    for (int c = 0; c < 256; ++c) is[c] = IsAlnumByte(static_cast<std::uint8_t>(c)) ? 1 : 0;
  }
};
constexpr AlnumTable kAlnum;
bool IsAlnum(std::uint8_t c) { return kAlnum.is[c] != 0; }

// "00dc" and friends: two digits, then the kind of data.
bool IsStreamDataId(FourCC id, std::int64_t streamCount) {
  if (!IsDigit(ByteOf(id, 0)) || !IsDigit(ByteOf(id, 1))) return false;
  const FourCC kind = id >> 16;
  constexpr FourCC db = MakeFourCC("..db") >> 16, dc = MakeFourCC("..dc") >> 16, pc = MakeFourCC("..pc") >> 16,
                   wb = MakeFourCC("..wb") >> 16;
  if (kind != db && kind != dc && kind != pc && kind != wb) return false;
  return (ByteOf(id, 0) - '0') * 10 + (ByteOf(id, 1) - '0') < streamCount;
}

// "ix" and two digits: a per-stream index.
bool IsIndexId(FourCC id) {
  return ByteOf(id, 0) == 'i' && ByteOf(id, 1) == 'x' && IsDigit(ByteOf(id, 2)) && IsDigit(ByteOf(id, 3));
}

bool IsValidIndexId(FourCC id, std::int64_t streamCount) {
  return IsIndexId(id) && (ByteOf(id, 2) - '0') * 10 + (ByteOf(id, 3) - '0') < streamCount;
}

bool AllAlnum(FourCC id) {
  return (kAlnum.is[ByteOf(id, 0)] & kAlnum.is[ByteOf(id, 1)] & kAlnum.is[ByteOf(id, 2)] & kAlnum.is[ByteOf(id, 3)]) !=
         0;
}

// Whether an id is plausible for a chunk in the given context (see Context).
bool IsValidIn(FourCC context, FourCC id, std::int64_t streamCount) {
  if (context == kIdx1) return id == kJUNK || IsStreamDataId(id, streamCount);
  if (context == kMovi) return id == kJUNK || IsStreamDataId(id, streamCount) || IsValidIndexId(id, streamCount);
  return AllAlnum(id);
}

// Every id that is valid in some context is made of four alphanumeric
// bytes; so is each half of it.
std::uint8_t GoodPair(const std::uint8_t* p) { return kAlnum.is[p[0]] & kAlnum.is[p[1]]; }

// The scan's steps over bytes in memory, from index i of n: the window
// slides by two bytes when its last two are alphanumeric, else takes four
// fresh ones. Stops after the step that makes the id valid or reaches index
// limit, or when fewer than four bytes are left (the caller takes those steps
// one by one); returns the index reached, with id the window there.
//
// The steps themselves need not be taken one by one. Once the window is the
// four bytes before the position, call the two-byte pairs from its start
// 0, 1, 2...: window k is pairs k and k+1, and from window k the scan goes
// to k+1 when pair k+1 is good (both bytes alphanumeric), else to k+2. So it
// visits every window whose first pair is good, the first valid window among
// them is where it stops, and past the last good pair it moves in twos.
template <class Valid>
std::int64_t SkipLoop(const std::uint8_t* data, std::int64_t i, std::int64_t n, std::int64_t limit, FourCC& id,
                      Valid valid) {
  if (n - i < 4) return i;
  const FourCC next = FourCCFromBytes(data + i);
  const bool slide = (kAlnum.is[ByteOf(id, 2)] & kAlnum.is[ByteOf(id, 3)]) != 0;
  id = slide ? (id >> 16) | (next << 16) : next;
  i += slide ? 2 : 4;
  if (i >= limit || valid(id)) return i;
  const std::int64_t q = i - 4;  // window 0, just found invalid
  if (FourCCFromBytes(data + q) != id) return i;
  // Windows 1 to last end before the limit and lie in the buffer.
  const std::int64_t last = (std::min(n, limit - 1) - q - 4) / 2;
  std::int64_t lastGood = 0;
  std::uint8_t good = last >= 1 ? GoodPair(data + q + 2) : 0;
  for (std::int64_t k = 1; k <= last; ++k) {
    const std::uint8_t nextGood = GoodPair(data + q + 2 * k + 2);
    if (good & nextGood) {
      const FourCC candidate = FourCCFromBytes(data + q + 2 * k);
      if (valid(candidate)) {
        id = candidate;
        return q + 2 * k + 4;
      }
    }
    if (good) lastGood = k;
    good = nextGood;
  }
  if (last < 1) return i;
  const std::int64_t k = lastGood + (last - lastGood) / 2 * 2;
  if (k == 0) return i;
  id = FourCCFromBytes(data + q + 2 * k);
  return q + 2 * k + 4;
}

// A container's size counts its type field; one declared shorter than that
// is taken as empty, so that its end never lies before its data.
std::int64_t ContainerDataSize(std::int64_t declared) { return declared >= 4 ? declared - 4 : 0; }
}  // namespace

// Brackets one public walker call: the outermost one takes the stream's
// position on entry and puts the stream there on return. (A try block costs
// nothing until something throws; asking whether an exception is on its way
// cost a tenth of a walk over tiny chunks.)
template <class Body>
auto TQMRIFFStream::InCall(Body body) {
  const bool outermost = callDepth_++ == 0;
  decltype(body()) result{};
  try {
    if (outermost) Enter();
    result = body();
  } catch (...) {
    --callDepth_;
    if (outermost) Leave(true);
    throw;
  }
  --callDepth_;
  if (outermost) Leave(false);
  return result;
}

// A file stream is called directly: its seek is only arithmetic, and a walk
// over tiny chunks makes two for every chunk.
std::int64_t TQMRIFFStream::StreamSeek(std::int64_t offset, std::uint16_t origin) {
  return file_ ? file_->TFileStream64::Seek(offset, origin) : Stream->Seek(offset, origin);
}

void TQMRIFFStream::Enter() {
  buffered_ = false;
  if (ReadAhead <= 0 || !Stream) return;
  if (Stream != fileOf_)
    fileOf_ = Stream, file_ = typeid(*Stream) == typeid(TFileStream64) ? static_cast<TFileStream64*>(Stream) : nullptr;
  const std::int64_t position = StreamSeek(0, 1);
  if (position < 0) return;
  // The owner may have read, sought or written since the last call; what
  // was read ahead is kept only if the stream is where we left it and
  // nothing was written through it, even where the owner moved back.
  if (position != leftAt_ || Stream != bufferOf_ || Stream->Generation != generation_) {
    bufferStart_ = -1;
    bufferLength_ = 0;
    size_ = -1;
    bufferOf_ = Stream;
  }
  pos_ = realPos_ = position;
  buffered_ = true;
}

void TQMRIFFStream::Leave(bool unwinding) {
  if (!buffered_) return;
  buffered_ = false;
  leftAt_ = -1;
  // No further calls on a stream that has just thrown.
  if (unwinding) return;
  if (realPos_ != pos_) realPos_ = StreamSeek(pos_, 0);
  if (realPos_ == pos_) leftAt_ = pos_;
  generation_ = Stream->Generation;
}

std::int64_t TQMRIFFStream::Position() {
  if (buffered_) return pos_;
  return Stream ? Stream->GetPosition() : 0;
}

std::int64_t TQMRIFFStream::FileSize() {
  if (!buffered_) return Stream->GetSize();
  if (size_ < 0) size_ = Stream->GetSize();
  return size_;
}

// Reads the bytes at the walk's position, or as many as the file has there.
std::int64_t TQMRIFFStream::ReadBytes(std::uint8_t* buffer, std::int64_t count) {
  if (!buffered_) return Stream->Read(buffer, count);
  if (count <= 0) return 0;
  const std::int64_t end = bufferStart_ + bufferLength_;
  const bool inside = bufferStart_ >= 0 && pos_ >= bufferStart_ && pos_ <= end;
  // A read of as many bytes or more at this very position that came up
  // short met the end of the file; reading again would only find the same.
  const bool atEnd = bufferStart_ == pos_ && bufferAsked_ >= count;
  if (!inside || (end - pos_ < count && !atEnd)) Refill(count);
  const std::int64_t available = bufferStart_ + bufferLength_ - pos_;
  const std::int64_t n = std::clamp<std::int64_t>(available, 0, count);
  if (n > 0) std::memcpy(buffer, buffer_.data() + (pos_ - bufferStart_), static_cast<std::size_t>(n));
  pos_ += n;
  return n;
}

void TQMRIFFStream::Refill(std::int64_t count) {
  const std::int64_t asked = std::clamp<std::int64_t>(ReadAhead, count, kMaxReadAhead);
  if (static_cast<std::int64_t>(buffer_.size()) < asked) buffer_.resize(static_cast<std::size_t>(asked));
  bufferStart_ = pos_;
  bufferLength_ = 0;
  bufferAsked_ = asked;
  if (realPos_ != pos_) realPos_ = Stream->Seek(pos_, 0);
  if (realPos_ != pos_) {
    // A failed move: nothing read, and the next read tries again; the
    // stream is put right on return.
    realPos_ = -1;
    bufferAsked_ = 0;
    return;
  }
  const std::int64_t got = Stream->Read(buffer_.data(), asked);
  bufferLength_ = std::clamp<std::int64_t>(got, 0, asked);
  realPos_ = got == bufferLength_ ? pos_ + bufferLength_ : -1;
}

// A move from the beginning: like the stream's, one before the start fails
// and leaves the position alone.
std::int64_t TQMRIFFStream::SeekTo(std::int64_t position) {
  if (!buffered_) return Stream->Seek(position, 0);
  if (position < 0) return -1;
  pos_ = position;
  return pos_;
}

void TQMRIFFStream::StepBack4() {
  if (buffered_)
    SeekTo(pos_ - 4);
  else
    Stream->Seek(-4, 1);
}

std::int64_t TQMRIFFStream::Seek(std::int64_t offset, std::uint16_t origin) {
  return Stream ? Stream->Seek(offset, origin) : -1;
}

bool TQMRIFFStream::ReadFourCC(FourCC& value) {
  // Most reads of a walk: four bytes that are in the buffer already.
  if (buffered_ && bufferStart_ >= 0 && pos_ >= bufferStart_ && bufferStart_ + bufferLength_ - pos_ >= 4) {
    value = FourCCFromBytes(buffer_.data() + (pos_ - bufferStart_));
    pos_ += 4;
    return true;
  }
  std::uint8_t b[4];
  if (ReadBytes(b, 4) < 4) return false;
  value = FourCCFromBytes(b);
  return true;
}

bool TQMRIFFStream::ReadContainerType() {
  FormType = 0;
  if (!ReadFourCC(FormType)) return false;
  ChunkSize = ContainerDataSize(ChunkSize);
  return true;
}

// Moves the id window on by two bytes: its last two bytes become its first.
bool TQMRIFFStream::SlideWindow() {
  std::uint8_t b[2];
  if (ReadBytes(b, 2) < 2) return false;
  ChunkId = (ChunkId >> 16) | (static_cast<FourCC>(b[0]) << 16) | (static_cast<FourCC>(b[1]) << 24);
  return true;
}

FourCC TQMRIFFStream::Context(std::int64_t position) {
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

bool TQMRIFFStream::IsValidChunkId(FourCC id) { return IsValidIn(Context(Position()), id, StreamCount); }

bool TQMRIFFStream::IsKnownList(FourCC id, FourCC type) {
  if (id == kRIFF) return type == MakeFourCC("AVI ") || type == MakeFourCC("AVIX");
  if (id == kLIST)
    return type == MakeFourCC("hdrl") || type == MakeFourCC("strl") || type == kMovi || type == kRec ||
           type == MakeFourCC("odml") || type == MakeFourCC("INFO");
  return false;
}

// The scan's inner loop, run on the read-ahead buffer: moves the id window
// on, as FindNext does, while the id stays implausible, the bytes are in the
// buffer and the context cannot change. Stops on the first plausible id with
// the window and position as FindNext would have them; false when it could
// not move at all.
bool TQMRIFFStream::SkipInvalidIds() {
  const std::int64_t end = bufferStart_ + bufferLength_;
  if (bufferStart_ < 0 || pos_ < bufferStart_ || pos_ > end) return false;
  const FourCC context = Context(pos_);
  // The context holds until the position reaches the end of the entry that
  // gives it; with none, it holds to the end of the file.
  const std::int64_t limit = contextIndex_ >= 0 ? Tags[static_cast<std::size_t>(contextIndex_)].PaddedEnd()
                                                : std::numeric_limits<std::int64_t>::max();
  const std::int64_t start = pos_ - bufferStart_;
  FourCC id = ChunkId;
  const std::int64_t streamCount = StreamCount;
  const std::int64_t stop =
      context == kIdx1 || context == kMovi
          ? SkipLoop(buffer_.data(), start, bufferLength_, limit - bufferStart_, id,
                     [context, streamCount](FourCC v) { return IsValidIn(context, v, streamCount); })
          : SkipLoop(buffer_.data(), start, bufferLength_, limit - bufferStart_, id, AllAlnum);
  ChunkId = id;
  pos_ = bufferStart_ + stop;
  return stop != start;
}

std::int64_t TQMRIFFStream::FindNextChunk() {
  if (!Stream) return -1;
  return InCall([this] { return FindNext(); });
}

// Every pass reads at least two bytes further, so the scan ends at the end
// of the file at the latest.
std::int64_t TQMRIFFStream::FindNext() {
  if (!Stream) return -1;
  if (!ReadFourCC(ChunkId)) return -1;
  for (;;) {
    while (!IsValidChunkId(ChunkId)) {
      Resync = true;
      if (buffered_ && SkipInvalidIds()) continue;
      if (IsAlnum(ByteOf(ChunkId, 2)) && IsAlnum(ByteOf(ChunkId, 3))) {
        if (!SlideWindow()) return -1;
      } else if (!ReadFourCC(ChunkId)) {
        return -1;
      }
    }
    FourCC size;
    if (!ReadFourCC(size)) return -1;
    ChunkSize = size;
    if (Position() + ChunkSize > FileSize() || ChunkSize > kMaxScannedChunkSize) {
      StepBack4();
      if (!SlideWindow()) return -1;
      continue;
    }
    if (IsContainer(ChunkId)) {
      if (!ReadContainerType()) return -1;
      if (!IsKnownList(ChunkId, FormType)) {
        ChunkId = 0;  // pass over its header and look inside
        continue;
      }
      return Position() - 12;
    }
    return Position() - 8;
  }
}

bool TQMRIFFStream::Descend() {
  EndOfFile = true;
  HeaderValid = false;
  if (!Stream) return false;
  return InCall([this] { return DescendHere(); });
}

bool TQMRIFFStream::DescendHere() {
  if (Resync) {
    if (FindNext() < 0) return false;
  } else {
    FourCC size;
    if (!ReadFourCC(ChunkId) || !ReadFourCC(size)) return false;
    ChunkSize = size;
    FormType = 0;
    if (IsContainer(ChunkId)) {
      if (!ReadContainerType()) return false;
    } else if (!IsValidChunkId(ChunkId) || ChunkSize > 0x7FFFFFFF) {
      // The sizes led astray: look again from the last data we trusted.
      SeekTo(DataPos);
      if (FindNext() < 0) return false;
    }
  }
  DataPos = Position();
  // A container is judged against its own end, which it sets first, so it
  // never switches the walk to scanning: its chunks are walked by their
  // sizes, and a chunk that runs past the list around it is the damage.
  if (IsContainer(ChunkId)) ListEnd = DataPos + ((ChunkSize + 1) & ~std::int64_t{1});
  if (!Resync && ListEnd != 0 && DataPos + ChunkSize > ListEnd) Resync = true;
  EndOfFile = FileSize() <= DataPos;
  HeaderValid = true;
  Push(ChunkId, FormType, DataPos, ChunkSize);
  EndOfChunk = ChunkSize == 0;
  return true;
}

// The values come as arguments: copied from the members as one block, the
// fields Descend had just written stalled the load that gathered them (a
// seventh of a walk over tiny chunks).
void TQMRIFFStream::Push(FourCC id, FourCC formType, std::int64_t dataPos, std::int64_t size) {
  ++Depth;
  if (Depth >= Tags.size()) Tags.resize(Tags.size() + 16);
  Tags[Depth - 1] = TPosTag{id, formType, dataPos, size};
  ++stackVersion_;
}

std::int64_t TQMRIFFStream::Ascend() {
  EndOfChunk = false;
  if (!HeaderValid || !Stream) return -1;
  return InCall([this] { return AscendHere(); });
}

std::int64_t TQMRIFFStream::AscendHere() {
  if (Depth > Tags.size()) Depth = static_cast<std::uint32_t>(Tags.size());
  std::int64_t result = -1;
  if (!Resync) {
    if (Depth > 0) {
      const std::int64_t target = Tags[Depth - 1].PaddedEnd();
      if (Position() != target) result = SeekTo(target);
      --Depth;
      ++stackVersion_;
    }
  } else {
    if (Depth > 0 && IsIndexId(Tags[Depth - 1].Id)) {
      // Only the 32-byte head of a stream index is skipped; its entries
      // are scanned like any other data.
      const std::int64_t target = Tags[Depth - 1].DataPos + 32;
      if (Position() != target) result = SeekTo(target);
    }
    const std::int64_t found = FindNext();
    if (found >= 0) result = SeekTo(found);  // the next Descend reads it again
    const std::int64_t position = Position();
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
  const std::int64_t position = Position();
  const std::int64_t size = FileSize();
  EndOfFile = size <= position || position < 0;
  if (Depth > 0) EndOfChunk = Tags[Depth - 1].End() <= position || position < 0 || size <= position;
  return result;
}
