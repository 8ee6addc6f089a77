#include "QmAVIFile.h"

#include <algorithm>
#include <stdexcept>

#include "RiffIds.h"

namespace {
using namespace riffid;
constexpr FourCC kAVI = MakeFourCC("AVI ");
constexpr FourCC kHdrl = MakeFourCC("hdrl");
constexpr FourCC kStrl = MakeFourCC("strl");
constexpr FourCC kAvih = MakeFourCC("avih");
constexpr FourCC kStrh = MakeFourCC("strh");
constexpr FourCC kStrf = MakeFourCC("strf");
constexpr FourCC kVids = MakeFourCC("vids");
constexpr FourCC kAuds = MakeFourCC("auds");

constexpr std::size_t kPageNodes = 512;
// The tree keeps only what the header read and the integrity check look up:
// top-level chunks, header and stream lists, and the records in them.
// Padding, data and other lists are walked past without a node, so memory
// does not grow with them; and a header area that still needs more nodes,
// or nests lists deeper, than any real file is read as if it ended there.
constexpr TNodeIndex kSkipped = kNoNode - 1;  // a list without a node: its chunks get none either
constexpr TNodeIndex kMaxNodes = TNodeIndex{1} << 19;
constexpr std::uint32_t kMaxDepth = 1 << 16;
constexpr std::size_t kPageTableStep = 512;

// Reads up to count bytes of a record; what the file does not hold stays as
// it was in the buffer.
void ReadRecord(TStream64& s, std::int64_t pos, std::uint8_t* buffer, std::int64_t count) {
  if (count <= 0 || pos < 0) return;
  if (s.Seek(pos, 0) != pos) return;
  s.Read(buffer, count);
}

// What reading an index that names no node gives.
const TChunkNode kEmptyNode{0, -1, 0, 0, kNoNode, 0, 0, kNoNode, kNoNode, 0};
}  // namespace

TQmAVIFileReader::TQmAVIFileReader(TStream64* stream) {
  if (!stream) {
    Status = -3;
    return;
  }
  ChunkStream = std::make_unique<TQMRIFFStream>(stream);
  CheckSignature();
}

TQmAVIFileReader::~TQmAVIFileReader() { Clear(); }

void TQmAVIFileReader::CheckSignature() {
  TStream64& s = *ChunkStream->Stream;
  FileSize = s.GetSize();
  Status = -4;
  Integrity = 0;
  if (FileSize < 12) return;
  Status = -3;
  std::uint8_t b[4];
  if (s.Read(b, 4) < 4) return;
  Status = -4;
  if (FourCCFromBytes(b) == kRIFF) Status = 0;
}

// ---------------------------------------------------------------- chunk tree

TChunkNode* TQmAVIFileReader::MutableNode(TNodeIndex i) {
  if (i >= NodeCount) return nullptr;
  return &(*Pages[i >> 9])[i & 511];
}

const TChunkNode& TQmAVIFileReader::Node(TNodeIndex i) const {
  if (i >= NodeCount) return kEmptyNode;
  return (*Pages[i >> 9])[i & 511];
}

TNodeIndex TQmAVIFileReader::AddNode(TNodeIndex parent, FourCC id, FourCC formType, std::int64_t dataPos,
                                     std::int64_t size) {
  // The last index is the "no node" mark.
  if (NodeCount == kNoNode) throw std::length_error("chunk tree full");
  const std::size_t filledPages = (static_cast<std::size_t>(NodeCount) + kPageNodes - 1) / kPageNodes;
  if (Pages.size() <= filledPages) Pages.resize(Pages.size() + kPageTableStep);
  auto& page = Pages[NodeCount >> 9];
  if (!page) page = std::make_unique<std::array<TChunkNode, kPageNodes>>();

  const TNodeIndex index = NodeCount;
  (*page)[index & 511] = TChunkNode{id, dataPos, 0, size, kNoNode, 0, formType, kNoNode, kNoNode, 0};
  ++NodeCount;

  // A parent that names no earlier node is taken as none.
  if (TChunkNode* p = parent < index ? MutableNode(parent) : nullptr) {
    if (p->FirstChild == kNoNode)
      p->FirstChild = index;
    else
      MutableNode(p->LastChild)->NextSibling = index;
    p->LastChild = index;
    ++p->ChildCount;
  } else {
    if (TChunkNode* last = MutableNode(lastTopLevel_)) last->NextSibling = index;
    lastTopLevel_ = index;
  }
  return index;
}

void TQmAVIFileReader::Clear() {
  NodeCount = 0;
  lastTopLevel_ = kNoNode;
  Pages.clear();
  Pages.shrink_to_fit();
}

std::size_t TQmAVIFileReader::AllocatedPages() const {
  return static_cast<std::size_t>(std::count_if(Pages.begin(), Pages.end(), [](const auto& p) { return p != nullptr; }));
}

TNodeIndex TQmAVIFileReader::FindChild(TNodeIndex parent, FourCC id) const {
  TNodeIndex c = parent == kNoNode ? (NodeCount > 0 ? 0 : kNoNode) : Node(parent).FirstChild;
  while (c != kNoNode && Node(c).Id != id) c = Node(c).NextSibling;
  return c;
}

TNodeIndex TQmAVIFileReader::FindNextSibling(TNodeIndex node, FourCC id) const {
  if (node == kNoNode) return kNoNode;
  TNodeIndex c = Node(node).NextSibling;
  while (c != kNoNode && Node(c).Id != id) c = Node(c).NextSibling;
  return c;
}

TNodeIndex TQmAVIFileReader::FindChildList(TNodeIndex parent, FourCC id, FourCC formType) const {
  TNodeIndex c = FindChild(parent, id);
  while (c != kNoNode && Node(c).FormType != formType) c = FindNextSibling(c, id);
  return c;
}

TNodeIndex TQmAVIFileReader::FindNextList(TNodeIndex node, FourCC id, FourCC formType) const {
  TNodeIndex c = FindNextSibling(node, id);
  while (c != kNoNode && Node(c).FormType != formType) c = FindNextSibling(c, id);
  return c;
}

std::uint32_t TQmAVIFileReader::GetNodeFlags(TNodeIndex node) const { return Node(node).Flags; }

void TQmAVIFileReader::SetNodeFlags(TNodeIndex node, std::uint32_t flags) {
  if (TChunkNode* n = MutableNode(node)) n->Flags = flags;
}

std::int64_t TQmAVIFileReader::GetNodePos(TNodeIndex node) const { return Node(node).DataPos; }
std::int64_t TQmAVIFileReader::GetNodeSize(TNodeIndex node) const { return Node(node).Size; }
FourCC TQmAVIFileReader::GetNodeId(TNodeIndex node) const { return Node(node).Id; }
TNodeIndex TQmAVIFileReader::GetNextSibling(TNodeIndex node) const { return Node(node).NextSibling; }
TNodeIndex TQmAVIFileReader::GetFirstChild(TNodeIndex node) const { return Node(node).FirstChild; }

// ---------------------------------------------------------------- scan

std::int32_t TQmAVIFileReader::Scan(std::uint8_t scanMode) {
  if (!ChunkStream || scanMode != 0) return -2;
  AudioStreamCount = 0;
  HeadersRead = false;
  Integrity = 0;
  Clear();
  // A fresh walker: scan mode and the open-chunk stack of an earlier scan
  // would otherwise carry over and change what this one finds.
  const std::int64_t readAhead = ChunkStream->ReadAhead;
  ChunkStream = std::make_unique<TQMRIFFStream>(ChunkStream->Stream);
  ChunkStream->ReadAhead = readAhead;

  TQMRIFFStream& cs = *ChunkStream;
  TStream64& file = *cs.Stream;
  file.Seek(0, 0);
  if (!cs.Descend() || cs.ChunkId != kRIFF) return -2;
  cs.StreamCount = 0;

  TNodeIndex parent = AddNode(kNoNode, cs.ChunkId, cs.FormType, cs.DataPos, cs.ChunkSize);
  std::vector<TNodeIndex> parents;
  parents.reserve(512);
  FileSize = file.GetSize();
  DamagedCount = 0;

  // The chunk walked last, kept or not: after a resynchronisation, a chunk
  // that does not end where the next one begins is where the damage lies.
  struct {
    FourCC id;
    std::int64_t dataPos, size;
    TNodeIndex node;
    bool damaged;
  } last{cs.ChunkId, cs.DataPos, cs.ChunkSize, 0, false};
  auto markLast = [&] {
    if (last.damaged) return;
    last.damaged = true;
    ++DamagedCount;
    SetNodeFlags(last.node, GetNodeFlags(last.node) | nfDamaged);
  };
  // A node only for what the header read or the integrity check look up
  // (top-level chunks), under a parent that has one.
  auto addChunk = [&](TNodeIndex under, bool kept) {
    const bool keep = (kept || under == kNoNode) && under != kSkipped;
    const TNodeIndex node = keep ? AddNode(under, cs.ChunkId, cs.FormType, cs.DataPos, cs.ChunkSize) : kNoNode;
    last = {cs.ChunkId, cs.DataPos, cs.ChunkSize, node, false};
    return node;
  };

  // Leaving the chunk the walk ends in only moves the position; in scan mode
  // it would scan the data behind it, possibly to the end of a huge file.
  auto leaveLast = [&cs] {
    if (!cs.Resync) cs.Ascend();
  };
  auto popParent = [&] {
    if (parents.empty()) {
      parent = kNoNode;
    } else {
      parent = parents.back();
      parents.pop_back();
    }
  };
  // In scan mode one Ascend can leave several lists at once; the parents
  // follow, or later lists would hang under lists that have ended.
  auto followDepth = [&] {
    while (parents.size() + (parent != kNoNode ? 1 : 0) > cs.Depth) popParent();
  };

  while (!cs.EndOfFile && NodeCount < kMaxNodes && cs.Depth < kMaxDepth) {
    if (cs.EndOfChunk) {
      cs.Ascend();
      popParent();
      followDepth();
      continue;
    }
    if (!cs.Descend()) continue;

    if (cs.Resync) {
      if (HeadersRead) break;
      const std::int64_t headerPos = cs.DataPos - 8;
      if (!IsContainer(last.id) && !IsContainer(cs.ChunkId) &&
          headerPos - last.dataPos != ((last.size + 1) & ~std::int64_t{1}))
        markLast();
    }

    const FourCC id = cs.ChunkId;
    if (id == kRIFF || id == kLIST || id == kIdx1) {
      if (id == kRIFF) {
        parent = addChunk(kNoNode, true);
      } else if (id == kIdx1) {
        // The legacy index belongs to the form; it is the last top-level node
        // whichever form that is. The current parent stays: chunks after an
        // index nested in a list still belong to that list.
        addChunk(lastTopLevel_, true);
        cs.Ascend();
        followDepth();
      } else {
        parents.push_back(parent);
        const TNodeIndex list = addChunk(parent, cs.FormType == kHdrl || cs.FormType == kStrl || cs.FormType == kMovi);
        parent = list == kNoNode ? kSkipped : list;
      }
      if (cs.ChunkId == kLIST && cs.FormType == kMovi) {
        ReadHeaders();
        leaveLast();
        break;
      }
      if (cs.ChunkId == kRIFF && file.GetPosition() > 12) {
        leaveLast();
        break;
      }
      continue;
    }

    addChunk(parent, id == kAvih || id == kStrh || id == kStrf);
    if (!HeadersRead && id == kStrh) ++cs.StreamCount;
    if (last.size > FileSize || last.dataPos + last.size > FileSize) markLast();
    cs.Ascend();
    followDepth();
  }

  ReadHeaders();
  for (TNodeIndex n = FindChild(kNoNode, kRIFF); n != kNoNode; n = GetNextSibling(n))
    if (GetNodePos(n) + GetNodeSize(n) > FileSize && Integrity == 0) Integrity = -2;
  if (cs.Resync) Integrity = -1;
  return 0;
}

void TQmAVIFileReader::ReadHeaders() {
  if (!ChunkStream || HeadersRead) return;
  AudioStreamCount = 0;
  TStream64& file = *ChunkStream->Stream;
  const std::int64_t saved = file.GetPosition();

  const TNodeIndex form = FindChildList(kNoNode, kRIFF, kAVI);
  if (form == kNoNode) return;
  // A form that ended early leaves its header list behind it, at the top level.
  TNodeIndex hdrl = FindChildList(form, kLIST, kHdrl);
  const bool hdrlInForm = hdrl != kNoNode;
  if (!hdrlInForm) hdrl = FindNextList(form, kLIST, kHdrl);
  if (hdrl == kNoNode) return;

  if (const TNodeIndex avih = FindChild(hdrl, kAvih); avih != kNoNode)
    ReadRecord(file, GetNodePos(avih), MainHeader.data(),
               std::min<std::int64_t>(MainHeader.size(), GetNodeSize(avih)));

  // The first "strh" and "strf" of each stream list make a stream. A size
  // that ends a list early leaves what it held behind it: records beside
  // their stream list, stream lists behind the header list in the form, or at
  // the top level when the form ended early too. Those are read in file order
  // as well, a record as part of the stream list before it.
  TNodeIndex strh = kNoNode, strf = kNoNode;
  bool inStream = false, video = false;
  auto endStream = [&] {
    std::array<std::uint8_t, 64> record{};
    if (strh != kNoNode)
      ReadRecord(file, GetNodePos(strh), record.data(), std::min<std::int64_t>(record.size(), GetNodeSize(strh)));
    const FourCC type = FourCCFromBytes(record.data());
    if (type == kAuds) ++AudioStreamCount;
    if (type == kVids) {
      video = true;
      VideoStreamHeader = record;
      VideoStreamHeaderPos = GetNodePos(strh);
      VideoStreamHeaderSize = GetNodeSize(strh);
      CodecFamily = FamilyOf(VideoHandler());
      // The format must come from this same stream, or there is none:
      // keeping an earlier video stream's format would make a conversion
      // patch one stream's handler and another's format, a file that
      // matches no codec.
      VideoFormat = {};
      VideoFormatPos = VideoFormatSize = 0;
      if (strf != kNoNode) {
        ReadRecord(file, GetNodePos(strf), VideoFormat.data(), std::min<std::int64_t>(VideoFormat.size(), GetNodeSize(strf)));
        VideoFormatPos = GetNodePos(strf);
        VideoFormatSize = GetNodeSize(strf);
      }
    }
    strh = strf = kNoNode;
    inStream = false;
  };
  auto take = [&](TNodeIndex n) {
    if (GetNodeId(n) == kStrh && strh == kNoNode) strh = n;
    if (GetNodeId(n) == kStrf && strf == kNoNode) strf = n;
  };
  // Stream lists behind the header list only stand in for a video stream it
  // lacks: once the walk scans, a "strl" far behind may be movie data.
  auto readFrom = [&](TNodeIndex n, bool behind) {
    for (; n != kNoNode; n = GetNextSibling(n)) {
      if (GetNodeId(n) == kLIST && GetNode(n).FormType == kStrl) {
        if (inStream) endStream();
        if (behind && video) return false;
        inStream = true;
        for (TNodeIndex c = GetFirstChild(n); c != kNoNode; c = GetNextSibling(c)) take(c);
      } else if (inStream) {
        take(n);
      }
    }
    return true;
  };
  if (readFrom(GetFirstChild(hdrl), false) && readFrom(GetNextSibling(hdrl), true) && hdrlInForm)
    readFrom(GetNextSibling(form), true);
  if (inStream) endStream();

  file.Seek(saved, 0);
  HeadersRead = true;
}
