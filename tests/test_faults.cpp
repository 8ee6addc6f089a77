// Faults from outside the program: other programs holding or replacing the
// file, read-only files, and a file system that refuses writes. Cases that
// need Windows sharing and locking semantics run in the Windows build (under
// Wine) and are skipped elsewhere.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "RiffBuilder.h"
#include "TestFiles.h"
#include "app/Driver.h"
#include "platform/OsFile.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using riff::FCC;
using riff::MakeAvi;

// A real file on which one write call fails (or from that call on, every
// write), and optionally every seek after the first write. `partial` bytes of
// a failing call still reach the file, as a disk that fills up mid-write
// would do.
class FailingFileStream : public TFileStream64 {
 public:
  struct Fault {
    int failWrite = 0;  // 1-based write call that fails; 0 none
    bool andLater = false;
    std::int64_t partial = 0;
    bool failSeeks = false;
  };
  FailingFileStream(const std::string& name, Fault fault)
      : TFileStream64(name, fmOpenReadWrite | fmShareDenyNone), fault_(fault) {}

  std::int64_t Write(const void* buffer, std::int64_t count) override {
    ++writes_;
    const bool fails = writes_ == fault_.failWrite || (fault_.andLater && fault_.failWrite > 0 && writes_ > fault_.failWrite);
    if (!fails) return TFileStream64::Write(buffer, count);
    return fault_.partial > 0 ? TFileStream64::Write(buffer, std::min(fault_.partial, count)) : 0;
  }
  std::int64_t Seek(std::int64_t offset, std::uint16_t origin) override {
    if (fault_.failSeeks && writes_ > 0) return -1;
    return TFileStream64::Seek(offset, origin);
  }

 private:
  Fault fault_;
  int writes_ = 0;
};

class Faults : public ::testing::Test {
 protected:
  TempDir dir;
  TAppState state;
  riff::Image img = MakeAvi({.handler = "div3", .compression = "DIV3"});
  std::string file = dir.File("movie.avi");

  void SetUp() override {
    WriteBytes(file, img.bytes);
    ProcessFile(state, file, kNoCodec);
    ASSERT_EQ(state.FileStatus, fsOk);
    ASSERT_EQ(state.CurrentCodec, 6);
  }

  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.insert(e.path().filename().string());
    return names;
  }
};

TEST_F(Faults, RealFileWhoseWriteFailsIsLeftAsItWas) {
  auto plan = PlanConversion(state, 7);
  ASSERT_TRUE(plan.has_value());
  struct Case {
    const char* name;
    FailingFileStream::Fault fault;
  } cases[] = {
      {"the handler write fails", {.failWrite = 1}},
      {"the handler write stores one byte", {.failWrite = 1, .partial = 1}},
      {"the compression write fails after the handler write", {.failWrite = 2}},
      {"the compression write stores two bytes", {.failWrite = 2, .partial = 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      FailingFileStream stream(file, c.fault);
      EXPECT_FALSE(ApplyPlan(stream, *plan));
    }
    EXPECT_EQ(ReadBytes(file), img.bytes);
  }
  FailingFileStream fine(file, {});
  EXPECT_TRUE(ApplyPlan(fine, *plan));
}

// When the file cannot be reached again to undo the handler write, the
// failure is still reported, and the next conversion, which checks what the
// fields hold, refuses to write over the half-converted pair.
TEST_F(Faults, FailureThatCannotBeUndoneIsReported) {
  auto plan = PlanConversion(state, 7);
  ASSERT_TRUE(plan.has_value());
  struct Case {
    const char* name;
    FailingFileStream::Fault fault;
  } cases[] = {
      {"every write from the compression write on fails", {.failWrite = 2, .andLater = true}},
      {"seeks fail after the handler write", {.failSeeks = true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(file, img.bytes);
    {
      FailingFileStream stream(file, c.fault);
      EXPECT_FALSE(ApplyPlan(stream, *plan));
    }
    EXPECT_EQ(riff::FourCCAt(ReadBytes(file), state.HandlerFieldPos), FCC("div4"));
    const Bytes half = ReadBytes(file);
    ProcessFile(state, file, 8);
    EXPECT_EQ(state.FileStatus, fsCannotWrite);
    EXPECT_EQ(ReadBytes(file), half);
  }
}

TEST_F(Faults, FileDeletedBeforeSaveIsNotCreatedAgain) {
  std::filesystem::remove(file);
  const auto before = Listing();
  ProcessFile(state, file, 7);
  EXPECT_EQ(state.FileStatus, fsNotFound);
  EXPECT_EQ(state.CurrentCodec, 6);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(Listing(), before);
}

TEST_F(Faults, FileReplacedBeforeSaveIsNotWritten) {
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"another AVI, fields elsewhere", MakeAvi({.handler = "div3", .compression = "DIV3", .strhSize = 64}).bytes},
      {"another codec at the same places", MakeAvi({.handler = "mp43", .compression = "MP43"}).bytes},
      {"a file that ends before the fields", Bytes(img.bytes.begin(), img.bytes.begin() + 100)},
      {"an empty file", Bytes{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Replaced the way an editor saves: a new file renamed over the old one.
    const std::string fresh = dir.File("fresh.tmp");
    WriteBytes(fresh, c.bytes);
    std::filesystem::rename(fresh, file);
    const auto before = Listing();
    ProcessFile(state, file, 7);
    EXPECT_EQ(state.FileStatus, fsCannotWrite);
    EXPECT_EQ(state.CurrentCodec, 6);
    EXPECT_EQ(ReadBytes(file), c.bytes);
    EXPECT_EQ(Listing(), before);
  }
}

TEST_F(Faults, ReadOnlyFileIsConvertedAndLeftReadOnly) {
  ASSERT_TRUE(os::SetAttributes(file, os::kAttrReadOnly));
  ProcessFile(state, file, 7);
  EXPECT_EQ(state.FileStatus, fsOk);
  auto attrs = os::GetAttributes(file);
  ASSERT_TRUE(attrs.has_value());
  EXPECT_NE(*attrs & os::kAttrReadOnly, 0u);
  Bytes now = ReadBytes(file);
  EXPECT_EQ(riff::FourCCAt(now, state.HandlerFieldPos), FCC("div4"));
  // Back again, still read-only, byte for byte as before.
  ProcessFile(state, file, 6);
  EXPECT_EQ(state.FileStatus, fsOk);
  EXPECT_EQ(ReadBytes(file), img.bytes);
  EXPECT_NE(*os::GetAttributes(file) & os::kAttrReadOnly, 0u);
}

#ifdef _WIN32

// A handle of another program on the file, closed at the end of the scope.
class OtherOpener {
 public:
  OtherOpener(const std::string& name, DWORD access, DWORD share)
      : h_(CreateFileA(name.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~OtherOpener() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  OtherOpener(const OtherOpener&) = delete;
  OtherOpener& operator=(const OtherOpener&) = delete;
  bool Ok() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

TEST_F(Faults, FileHeldWithoutSharingReadsIsNotFound) {
  OtherOpener other(file, GENERIC_READ, 0);
  ASSERT_TRUE(other.Ok());
  TAppState fresh;
  ProcessFile(fresh, file, kNoCodec);
  EXPECT_EQ(fresh.FileStatus, fsNotFound);
  ProcessFile(state, file, 7);  // the conversion starts with the same test
  EXPECT_EQ(state.FileStatus, fsNotFound);
  EXPECT_EQ(state.CurrentCodec, 6);
}

TEST_F(Faults, FileHeldWithoutSharingWritesCannotBeWritten) {
  {
    OtherOpener other(file, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(other.Ok());
    ProcessFile(state, file, 7);
    EXPECT_EQ(state.FileStatus, fsCannotWrite);
    EXPECT_EQ(state.CurrentCodec, 6);
  }
  EXPECT_EQ(ReadBytes(file), img.bytes);
  ProcessFile(state, file, 7);  // once the other program lets go, it works
  EXPECT_EQ(state.FileStatus, fsOk);
}

// Another program locks the compression field against writing: the handler
// is written first, the compression write is refused, and the handler is put
// back, so the file is never half converted.
TEST_F(Faults, LockedCompressionFieldUndoesTheHandlerWrite) {
  // Wine keeps byte-range locks between lock calls only: its writes pass them.
  if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
    GTEST_SKIP() << "Wine does not enforce byte-range locks on writes";
  OtherOpener other(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(other.Ok());
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(state.CompressionFieldPos);
  ASSERT_TRUE(LockFileEx(other.Get(), LOCKFILE_FAIL_IMMEDIATELY, 0, 4, 0, &at));  // shared: reads still pass
  ProcessFile(state, file, 7);
  EXPECT_EQ(state.FileStatus, fsCannotWrite);
  EXPECT_EQ(state.CurrentCodec, 6);
  UnlockFileEx(other.Get(), 0, 4, 0, &at);
  EXPECT_EQ(ReadBytes(file), img.bytes);
}

#endif  // sharing and byte-range locks exist on Windows only

}  // namespace
