// 64-bit file streams and the RIFF chunk stream.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FourCC.h"

// ---------------------------------------------------------------- streams

class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// Open modes. 0xFFFF creates; otherwise bits 0-1 are the access
// (0 read, 1 write, 2 read and write) and bits 4-7 the sharing
// (0 or 1 none, 2 others may read, 3 others may write, 4 others may both).
inline constexpr std::uint16_t fmCreate = 0xFFFF;
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyRead = 0x0030;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;
inline constexpr std::uint16_t kModeAnalyse = fmOpenRead | fmShareDenyNone;   // 64
inline constexpr std::uint16_t kModeConvert = fmOpenWrite | fmShareDenyNone;  // 65

// Room for what one read fills, left unset until then: a stream and its
// walker each have 64 KiB of it for every file opened, and setting that to
// zero first cost a sixth of an analysis. Growing it drops its bytes.
class TReadBuffer {
 public:
  std::uint8_t* data() { return bytes_.get(); }
  std::size_t size() const { return size_; }
  void resize(std::size_t n) {
    if (n > size_) bytes_.reset(new std::uint8_t[n]), size_ = n;
  }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
};

// Where a move of offset from base lands: -1 for a move before the start or
// past what 64 bits hold (and for a base that is -1 already). Every stream
// seeks through it.
constexpr std::int64_t SeekFrom(std::int64_t base, std::int64_t offset) {
  if (base < 0 || (offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return -1;
  return base + offset;
}

// Abstract 64-bit stream.
class TStream64 {
 public:
  virtual ~TStream64() = default;
  TStream64() = default;
  TStream64(const TStream64&) = delete;
  TStream64& operator=(const TStream64&) = delete;

  virtual void SetSize(std::int64_t newSize);
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, std::uint16_t origin) = 0;
  // Puts what was written on the disk; false when that failed. A stream
  // without a file has nothing to put there.
  virtual bool Flush() { return true; }

  std::int64_t GetPosition();
  void SetPosition(std::int64_t position);
  std::int64_t GetSize();  // three seeks; the position is left where it was

  // Counts the writes and size changes made through this stream, so that a
  // reader that keeps bytes it read ahead can tell they may be stale.
  // Streams that write bump it.
  std::uint64_t Generation = 0;
};

// Stream over a handle it does not own. No buffering: every operation is one
// OS call.
class THandleStream64 : public TStream64 {
 public:
  explicit THandleStream64(std::int32_t handle) : Handle(handle) {}

  void SetSize(std::int64_t newSize) override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override;
  bool Flush() override;

  std::int32_t Handle;  // negative: no valid handle
};

// Stream over a file it opens by name and closes on destruction. Nothing
// outside the program can see where its handle points, so the position lives
// here: a seek answers at once and a read or write is one call at that
// offset. The size is taken when the file is opened and follows this
// stream's own writes. A small read is served from one block read at its
// offset, so reading a file's headers field by field costs one call; a write
// drops the block. Positions, and what each call returns, are those of a
// stream that asks the system for every move; writes by others while the
// stream is open are not seen.
class TFileStream64 : public THandleStream64 {
 public:
  TFileStream64(const std::string& fileName, std::uint16_t mode);
  TFileStream64(const std::string& fileName, std::uint16_t mode, std::uint32_t rights);
  ~TFileStream64() override;

  void SetSize(std::int64_t newSize) override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // Here, so that a walker over this stream, which moves it twice for every
  // chunk, has it inline.
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    if (Handle < 0 || origin > 2) return -1;
    // A move that fails leaves the position.
    const std::int64_t to = SeekFrom(origin == 0 ? 0 : origin == 1 ? Position : End(), offset);
    return to < 0 ? -1 : Position = to;
  }

  static constexpr std::uint32_t kBlockSize = 65536;

 private:
  std::int64_t End() const;
  std::int64_t Position = 0;
  std::int64_t Size = -1;  // -1: not known, asked for each time
  TReadBuffer block_;
  std::int64_t blockStart_ = -1;   // file position of block_[0]; -1: none
  std::uint32_t blockLength_ = 0;  // bytes the block's read gave
};

// ---------------------------------------------------------------- RIFF chunk stream

// One open chunk on the walker's stack.
struct TPosTag {
  FourCC Id = 0;
  FourCC FormType = 0;       // form or list type for "RIFF"/"LIST"
  std::int64_t DataPos = 0;  // past the header (and the type for containers)
  std::int64_t Size = 0;     // data bytes from DataPos on

  std::int64_t End() const { return DataPos + Size; }
  std::int64_t PaddedEnd() const { return DataPos + ((Size + 1) & ~std::int64_t{1}); }
};
using TPosTags = std::vector<TPosTag>;

// Walks the chunk headers of a RIFF file one at a time. Trusts the declared
// sizes until the file proves them wrong, then finds headers by scanning for
// plausible chunk ids ("scan mode") for the rest of its life. Only reads and
// seeks the stream; never writes to it.
//
// The walk reads the file through a read-ahead buffer of its own, so that a
// scan over a damaged file moves at memory speed instead of making calls of
// two or four bytes. The buffer does not show: every call starts from the
// stream's current position and leaves the stream exactly where an
// unbuffered walk would. The buffer and the file size are kept from one call
// to the next only while the stream is still where the last call left it
// and nothing was written through it since; writes by others to the file
// while a walker lives over it are not seen.
class TQMRIFFStream {
 public:
  static constexpr std::int64_t kMaxScannedChunkSize = 10485760;  // 0xA00000
  static constexpr FourCC kTopLevel = 0xFFFFFFFF;
  static constexpr std::int64_t kReadAheadSize = 65536;
  static constexpr std::int64_t kMaxReadAhead = 16 << 20;

  // The stream stays the caller's and must outlive this object.
  explicit TQMRIFFStream(TStream64* stream) : Stream(stream) {}
  TQMRIFFStream(const TQMRIFFStream&) = delete;
  TQMRIFFStream& operator=(const TQMRIFFStream&) = delete;

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
  // Bytes the walk asks the stream for at a time. 0: none read ahead, every
  // step of the walk is a call on the stream as it comes. The results are
  // the same either way; tests compare them.
  std::int64_t ReadAhead = kReadAheadSize;

 private:
  template <class Body>
  auto InCall(Body body);
  bool DescendHere();
  std::int64_t AscendHere();

  FourCC Context(std::int64_t position);
  std::int64_t FindNext();
  bool ReadFourCC(FourCC& value);
  bool ReadContainerType();
  bool SlideWindow();
  bool SkipInvalidIds();
  void Push(FourCC id, FourCC formType, std::int64_t dataPos, std::int64_t size);

  // The walk's own file access: through the buffer during a call that reads
  // ahead, straight to the stream otherwise.
  std::int64_t Position();
  std::int64_t FileSize();
  std::int64_t ReadBytes(std::uint8_t* buffer, std::int64_t count);
  std::int64_t SeekTo(std::int64_t position);
  void StepBack4();
  void Refill(std::int64_t count);
  void Enter();
  void Leave(bool unwinding);
  std::int64_t StreamSeek(std::int64_t offset, std::uint16_t origin);

  // Where the last context search ended, so that a long scan over garbage
  // does not walk a deep stack again for every two bytes it moves.
  std::uint64_t stackVersion_ = 0;
  std::uint64_t contextVersion_ = ~std::uint64_t{0};
  std::int64_t contextPos_ = 0;
  std::int64_t contextIndex_ = -1;

  // Read-ahead state. During a call the walk's position is pos_ and the
  // stream's own is realPos_ (-1: not known); they meet again when the call
  // returns.
  int callDepth_ = 0;
  bool buffered_ = false;  // this call reads ahead
  TReadBuffer buffer_;
  std::int64_t bufferStart_ = -1;  // file position of buffer_[0]; -1: empty
  std::int64_t bufferLength_ = 0;  // bytes the last read gave
  std::int64_t bufferAsked_ = 0;   // bytes it asked for
  std::int64_t pos_ = 0;
  std::int64_t realPos_ = -1;
  std::int64_t size_ = -1;        // file size, -1 not asked yet
  std::int64_t leftAt_ = -1;      // where the last call left the stream
  std::uint64_t generation_ = 0;  // the stream's Generation then
  const TStream64* bufferOf_ = nullptr;
  const TStream64* fileOf_ = nullptr;
  TFileStream64* file_ = nullptr;  // fileOf_, when it is exactly a file stream
};
