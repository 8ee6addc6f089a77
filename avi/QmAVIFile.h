// AVI reader: chunk tree, header model and the header scan.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "QmRIFFStream.h"
#include "VideoCodes.h"

using TNodeIndex = std::uint32_t;
inline constexpr TNodeIndex kNoNode = 0xFFFFFFFFu;

inline constexpr std::uint32_t nfDamaged = 4;

struct TChunkNode {
  FourCC Id;
  std::int64_t DataPos;
  std::uint64_t Reserved;
  std::int64_t Size;
  TNodeIndex NextSibling;
  std::uint32_t Flags;
  FourCC FormType;
  TNodeIndex FirstChild;
  TNodeIndex LastChild;
  std::int32_t ChildCount;
};

class TQmAVIFileReader {
 public:
  // Stream: open and positioned at its start; stays the caller's and must
  // outlive the reader. The reader only reads and seeks it.
  explicit TQmAVIFileReader(TStream64* stream);
  ~TQmAVIFileReader();
  TQmAVIFileReader(const TQmAVIFileReader&) = delete;
  TQmAVIFileReader& operator=(const TQmAVIFileReader&) = delete;

  // Mode 0, the header scan, is the only mode: it walks the chunk headers up
  // to the first "movi" list. 0 when the walk ran; -2 when it could not start
  // (no stream, no readable "RIFF" header first) or the mode is unknown.
  std::int32_t Scan(std::uint8_t scanMode);
  void ReadHeaders();

  // Chunk tree. Indices come from AddNode or a search; an index that names
  // no node reads as an empty node and is not written.
  TNodeIndex AddNode(TNodeIndex parent, FourCC id, FourCC formType, std::int64_t dataPos, std::int64_t size);
  void Clear();
  TNodeIndex FindChild(TNodeIndex parent, FourCC id) const;
  TNodeIndex FindNextSibling(TNodeIndex node, FourCC id) const;
  TNodeIndex FindChildList(TNodeIndex parent, FourCC id, FourCC formType) const;
  TNodeIndex FindNextList(TNodeIndex node, FourCC id, FourCC formType) const;
  std::uint32_t GetNodeFlags(TNodeIndex node) const;
  void SetNodeFlags(TNodeIndex node, std::uint32_t flags);
  std::int64_t GetNodePos(TNodeIndex node) const;
  std::int64_t GetNodeSize(TNodeIndex node) const;
  FourCC GetNodeId(TNodeIndex node) const;
  TNodeIndex GetNextSibling(TNodeIndex node) const;
  TNodeIndex GetFirstChild(TNodeIndex node) const;
  const TChunkNode& GetNode(TNodeIndex node) const { return Node(node); }
  std::size_t PageTableLength() const { return Pages.size(); }
  std::size_t AllocatedPages() const;

  // Results (read by the driver after Scan).
  std::int32_t Status = 0;     // 0, -3 or -4 after construction
  std::int32_t Integrity = 0;  // 0 sound, -2 form past the end, -1 resynchronised
  std::int64_t FileSize = 0;
  std::array<std::uint8_t, 56> MainHeader{};
  std::array<std::uint8_t, 64> VideoStreamHeader{};
  std::int64_t VideoStreamHeaderPos = 0;   // data start of the video strh, 0 none
  std::int64_t VideoStreamHeaderSize = 0;  // its declared data size
  std::array<std::uint8_t, 40> VideoFormat{};
  std::int64_t VideoFormatPos = 0;   // data start of the video strf, 0 none
  std::int64_t VideoFormatSize = 0;  // its declared data size
  std::uint8_t CodecFamily = 0;
  std::int32_t DamagedCount = 0;
  std::uint32_t NodeCount = 0;
  bool HeadersRead = false;
  std::unique_ptr<TQMRIFFStream> ChunkStream;
  std::int32_t AudioStreamCount = 0;

  FourCC VideoHandler() const { return FourCCFromBytes(VideoStreamHeader.data() + 4); }
  FourCC VideoCompression() const { return FourCCFromBytes(VideoFormat.data() + 16); }

 private:
  friend class TScanWalk;  // the header scan's steps
  void CheckSignature();
  TChunkNode* MutableNode(TNodeIndex i);  // nullptr when i names no node
  const TChunkNode& Node(TNodeIndex i) const;

  std::vector<std::unique_ptr<std::array<TChunkNode, 512>>> Pages;
  TNodeIndex lastTopLevel_ = kNoNode;  // end of the chain that starts at node 0
};
