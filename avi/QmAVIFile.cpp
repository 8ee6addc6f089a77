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
  return static_cast<std::size_t>(
      std::count_if(Pages.begin(), Pages.end(), [](const auto& p) { return p != nullptr; }));
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

// One header scan's walk: the walker, the nodes of the lists it is inside,
// and the chunk walked last.
class TScanWalk {
 public:
  TScanWalk(TQmAVIFileReader& reader, TQMRIFFStream& cs)
      : r_(reader), cs_(cs), file_(*cs.Stream), last_{cs.ChunkId, cs.DataPos, cs.ChunkSize, 0, false} {
    parent_ = r_.AddNode(kNoNode, cs.ChunkId, cs.FormType, cs.DataPos, cs.ChunkSize);
    parents_.reserve(512);
  }

  // One chunk, or the end of one; false when the walk is over.
  bool Step() {
    if (cs_.EndOfFile || r_.NodeCount >= kMaxNodes || cs_.Depth >= kMaxDepth) return false;
    if (cs_.EndOfChunk) {
      cs_.Ascend();
      PopParent();
      FollowDepth();
      return true;
    }
    if (!cs_.Descend()) return true;
    if (cs_.Resync) {
      if (r_.HeadersRead) return false;
      CheckLastEnd();
    }
    const FourCC id = cs_.ChunkId;
    if (id == kRIFF || id == kLIST || id == kIdx1) return Container(id);
    AddChunk(parent_, id == kAvih || id == kStrh || id == kStrf);
    if (!r_.HeadersRead && id == kStrh) ++cs_.StreamCount;
    if (last_.size > r_.FileSize || last_.dataPos + last_.size > r_.FileSize) MarkLast();
    cs_.Ascend();
    FollowDepth();
    return true;
  }

 private:
  // After a resynchronisation, a chunk that does not end where the next one
  // begins is where the damage lies.
  void CheckLastEnd() {
    const std::int64_t headerPos = cs_.DataPos - 8;
    if (!IsContainer(last_.id) && !IsContainer(cs_.ChunkId) &&
        headerPos - last_.dataPos != ((last_.size + 1) & ~std::int64_t{1}))
      MarkLast();
  }

  bool Container(FourCC id) {
    if (id == kRIFF) {
      parent_ = AddChunk(kNoNode, true);
    } else if (id == kIdx1) {
      // The legacy index belongs to the form; it is the last top-level node
      // whichever form that is. The current parent stays: chunks after an
      // index nested in a list still belong to that list.
      AddChunk(r_.lastTopLevel_, true);
      cs_.Ascend();
      FollowDepth();
    } else {
      parents_.push_back(parent_);
      const TNodeIndex list =
          AddChunk(parent_, cs_.FormType == kHdrl || cs_.FormType == kStrl || cs_.FormType == kMovi);
      parent_ = list == kNoNode ? kSkipped : list;
    }
    if (cs_.ChunkId == kLIST && cs_.FormType == kMovi) {
      r_.ReadHeaders();
      LeaveLast();
      return false;
    }
    if (cs_.ChunkId == kRIFF && file_.GetPosition() > 12) {
      LeaveLast();
      return false;
    }
    return true;
  }

  void MarkLast() {
    if (last_.damaged) return;
    last_.damaged = true;
    ++r_.DamagedCount;
    r_.SetNodeFlags(last_.node, r_.GetNodeFlags(last_.node) | nfDamaged);
  }

  // A node only for what the header read or the integrity check look up
  // (top-level chunks), under a parent that has one.
  TNodeIndex AddChunk(TNodeIndex under, bool kept) {
    const bool keep = (kept || under == kNoNode) && under != kSkipped;
    const TNodeIndex node = keep ? r_.AddNode(under, cs_.ChunkId, cs_.FormType, cs_.DataPos, cs_.ChunkSize) : kNoNode;
    last_ = {cs_.ChunkId, cs_.DataPos, cs_.ChunkSize, node, false};
    return node;
  }

  // Leaving the chunk the walk ends in only moves the position; in scan mode
  // it would scan the data behind it, possibly to the end of a huge file.
  void LeaveLast() {
    if (!cs_.Resync) cs_.Ascend();
  }

  void PopParent() {
    if (parents_.empty()) {
      parent_ = kNoNode;
    } else {
      parent_ = parents_.back();
      parents_.pop_back();
    }
  }

  // In scan mode one Ascend can leave several lists at once; the parents
  // follow, or later lists would hang under lists that have ended.
  void FollowDepth() {
    while (parents_.size() + (parent_ != kNoNode ? 1 : 0) > cs_.Depth) PopParent();
  }

  TQmAVIFileReader& r_;
  TQMRIFFStream& cs_;
  TStream64& file_;
  TNodeIndex parent_;
  std::vector<TNodeIndex> parents_;
  struct {
    FourCC id;
    std::int64_t dataPos, size;
    TNodeIndex node;
    bool damaged;
  } last_;
};

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
  TScanWalk walk(*this, cs);
  FileSize = file.GetSize();
  DamagedCount = 0;
  while (walk.Step()) {
  }

  ReadHeaders();
  for (TNodeIndex n = FindChild(kNoNode, kRIFF); n != kNoNode; n = GetNextSibling(n))
    if (GetNodePos(n) + GetNodeSize(n) > FileSize && Integrity == 0) Integrity = -2;
  if (cs.Resync) Integrity = -1;
  return 0;
}

namespace {

// The streams of the header list, in file order. The first "strh" and
// "strf" of each stream list make a stream. A size that ends a list early
// leaves what it held behind it: records beside their stream list, stream
// lists behind the header list in the form, or at the top level when the
// form ended early too. Those are read in file order as well, a record as
// part of the stream list before it.
class TStreamReader {
 public:
  explicit TStreamReader(TQmAVIFileReader& reader) : r_(reader), file_(*reader.ChunkStream->Stream) {}

  // Stream lists behind the header list only stand in for a video stream it
  // lacks: once the walk scans, a "strl" far behind may be movie data.
  bool ReadFrom(TNodeIndex n, bool behind) {
    for (; n != kNoNode; n = r_.GetNextSibling(n)) {
      if (r_.GetNodeId(n) == kLIST && r_.GetNode(n).FormType == kStrl) {
        if (inStream_) EndStream();
        if (behind && video_) return false;
        inStream_ = true;
        for (TNodeIndex c = r_.GetFirstChild(n); c != kNoNode; c = r_.GetNextSibling(c)) Take(c);
      } else if (inStream_) {
        Take(n);
      }
    }
    return true;
  }

  void Finish() {
    if (inStream_) EndStream();
  }

 private:
  void Take(TNodeIndex n) {
    if (r_.GetNodeId(n) == kStrh && strh_ == kNoNode) strh_ = n;
    if (r_.GetNodeId(n) == kStrf && strf_ == kNoNode) strf_ = n;
  }

  void EndStream() {
    std::array<std::uint8_t, 64> record{};
    if (strh_ != kNoNode)
      ReadRecord(file_, r_.GetNodePos(strh_), record.data(),
                 std::min<std::int64_t>(record.size(), r_.GetNodeSize(strh_)));
    const FourCC type = FourCCFromBytes(record.data());
    if (type == kAuds) ++r_.AudioStreamCount;
    if (type == kVids) TakeVideo(record);
    strh_ = strf_ = kNoNode;
    inStream_ = false;
  }

  void TakeVideo(const std::array<std::uint8_t, 64>& record) {
    video_ = true;
    r_.VideoStreamHeader = record;
    r_.VideoStreamHeaderPos = r_.GetNodePos(strh_);
    r_.VideoStreamHeaderSize = r_.GetNodeSize(strh_);
    r_.CodecFamily = FamilyOf(r_.VideoHandler());
    // The format must come from this same stream, or there is none: keeping
    // an earlier video stream's format would make a conversion patch one
    // stream's handler and another's format, a file that matches no codec.
    r_.VideoFormat = {};
    r_.VideoFormatPos = r_.VideoFormatSize = 0;
    if (strf_ != kNoNode) {
      ReadRecord(file_, r_.GetNodePos(strf_), r_.VideoFormat.data(),
                 std::min<std::int64_t>(r_.VideoFormat.size(), r_.GetNodeSize(strf_)));
      r_.VideoFormatPos = r_.GetNodePos(strf_);
      r_.VideoFormatSize = r_.GetNodeSize(strf_);
    }
  }

  TQmAVIFileReader& r_;
  TStream64& file_;
  TNodeIndex strh_ = kNoNode, strf_ = kNoNode;
  bool inStream_ = false, video_ = false;
};

}  // namespace

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
    ReadRecord(file, GetNodePos(avih), MainHeader.data(), std::min<std::int64_t>(MainHeader.size(), GetNodeSize(avih)));

  TStreamReader streams(*this);
  if (streams.ReadFrom(GetFirstChild(hdrl), false) && streams.ReadFrom(GetNextSibling(hdrl), true) && hdrlInForm)
    streams.ReadFrom(GetNextSibling(form), true);
  streams.Finish();

  file.Seek(saved, 0);
  HeadersRead = true;
}
