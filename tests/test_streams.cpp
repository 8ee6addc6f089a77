#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "TestFiles.h"
#include "avi/QmRIFFStream.h"
#include "platform/OsFile.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

class Streams : public ::testing::Test {
 protected:
  TempDir dir;
  std::string MakeFile(const std::string& name, const std::string& content) {
    std::string path = dir.File(name);
    WriteBytes(path, BytesOf(content));
    return path;
  }
};

// The Windows build must really run on the Win32 API (under Wine here).
TEST(Platform, BuildRunsOnItsOwnFileApi) {
#ifdef _WIN32
  EXPECT_STREQ(os::PlatformName(), "Win32");
  using WineVersion = const char*(__cdecl*)();
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto wine = ntdll ? reinterpret_cast<WineVersion>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                    : nullptr;
  std::printf("running on the Win32 API%s%s\n", wine ? " under Wine " : "", wine ? wine() : "");
#else
  EXPECT_STREQ(os::PlatformName(), "POSIX");
#endif
}

TEST_F(Streams, OpenFailuresRaiseWithTheNameAsPassed) {
  std::string missing = dir.File("missing.avi");
  for (std::uint16_t mode : {kModeAnalyse, kModeConvert}) {
    SCOPED_TRACE(mode);
    try {
      TFileStream64 s(missing, mode);
      FAIL() << "opened a missing file";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing);
      const EStreamError& base = e;  // the family's common base
      (void)base;
    }
  }
  std::string bad = dir.File("no-such-dir") + "/x.avi";
  try {
    TFileStream64 s(bad, fmCreate);
    FAIL() << "created a file in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + bad);
  }
  // Access 3 and sharing above 4 are not valid modes.
  std::string existing = MakeFile("e.bin", "abc");
  EXPECT_THROW(TFileStream64(existing, 0x0003), EFOpenError);
  EXPECT_THROW(TFileStream64(existing, 0x0050), EFOpenError);
  EXPECT_THROW(TFileStream64(dir.Path().string(), kModeAnalyse), EFOpenError);
}

TEST_F(Streams, CreateTruncatesAndOpensForReadAndWrite) {
  std::string path = MakeFile("t.bin", "0123456789");
  {
    TFileStream64 s(path, fmCreate);
    EXPECT_EQ(s.GetSize(), 0);
    EXPECT_EQ(s.Write("xyz", 3), 3);
    s.SetPosition(0);
    char buf[3] = {};
    EXPECT_EQ(s.Read(buf, 3), 3);
    EXPECT_EQ(std::memcmp(buf, "xyz", 3), 0);
  }
  EXPECT_EQ(ReadBytes(path), BytesOf("xyz"));
}

TEST_F(Streams, ReadsStopAtTheEnd) {
  std::string path = MakeFile("r.bin", "ABCDEFGHIJK");  // 11 bytes
  TFileStream64 s(path, kModeAnalyse);
  EXPECT_EQ(s.GetPosition(), 0);
  char buf[16] = {};
  s.SetPosition(8);
  EXPECT_EQ(s.Read(buf, 8), 3);
  EXPECT_EQ(std::string(buf, 3), "IJK");
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Read(buf, 0), 0);
  EXPECT_EQ(s.Read(buf, -5), 0);
}

TEST_F(Streams, SeekOriginsAndSize) {
  std::string path = MakeFile("s.bin", std::string(100, 'x'));
  TFileStream64 s(path, kModeAnalyse);
  EXPECT_EQ(s.Seek(0, 2), 100);
  EXPECT_EQ(s.Seek(-10, 2), 90);
  EXPECT_EQ(s.Seek(5, 1), 95);
  EXPECT_EQ(s.Seek(7, 0), 7);
  EXPECT_EQ(s.GetSize(), 100);
  EXPECT_EQ(s.GetPosition(), 7);  // GetSize leaves the position alone
  EXPECT_EQ(s.Seek(-1, 0), -1);   // a failed move reports -1
}

TEST_F(Streams, ModesGiveTheirAccessOnly) {
  std::string path = MakeFile("m.bin", "abcdefgh");
  {
    TFileStream64 reader(path, kModeAnalyse);
    EXPECT_EQ(reader.Write("zz", 2), 0);
    TFileStream64 writer(path, kModeConvert);  // both open at once: full sharing
    char c;
    EXPECT_EQ(writer.Read(&c, 1), 0);
    writer.SetPosition(2);
    EXPECT_EQ(writer.Write("ZZ", 2), 2);
    char buf[8];
    reader.SetPosition(0);
    EXPECT_EQ(reader.Read(buf, 8), 8);  // separate file pointers, shared data
    EXPECT_EQ(std::string(buf, 8), "abZZefgh");
  }
  EXPECT_EQ(ReadBytes(path), BytesOf("abZZefgh"));
}

TEST_F(Streams, OnlyTheFileStreamClosesItsHandle) {
  std::string path = MakeFile("h.bin", "hello");
  std::int32_t handle;
  {
    TFileStream64 owner(path, kModeAnalyse);
    handle = owner.Handle;
    delete new THandleStream64(handle);  // a bare handle stream leaves it open
    EXPECT_EQ(owner.Seek(0, 2), 5);
    char buf[5];
    owner.SetPosition(0);
    EXPECT_EQ(owner.Read(buf, 5), 5);
  }
  EXPECT_EQ(os::SeekFile(handle, 0, os::FromEnd), -1);  // closed by the file stream
}

TEST_F(Streams, SetSizeMovesTheEndOfFile) {
  std::string path = MakeFile("z.bin", "0123456789");
  {
    TFileStream64 s(path, fmOpenReadWrite | fmShareDenyNone);
    s.SetSize(4);
    EXPECT_EQ(s.GetSize(), 4);
  }
  EXPECT_EQ(ReadBytes(path), BytesOf("0123"));
}

// Past 4 GiB the high half of every offset must survive the platform call.
TEST_F(Streams, SparseFileBeyondFourGiB) {
  const std::int64_t size = (5LL << 30) + 123;
  const std::int64_t at = (4LL << 30) + 77;
  std::string path = dir.File("big.bin");
  {
    TFileStream64 s(path, fmCreate);
    s.SetSize(size);
    EXPECT_EQ(s.GetSize(), size);
    EXPECT_EQ(s.Seek(at, 0), at);
    EXPECT_EQ(s.Write("WXYZ", 4), 4);
  }
  TFileStream64 r(path, kModeAnalyse);
  EXPECT_EQ(r.GetSize(), size);
  EXPECT_EQ(r.GetPosition(), 0);
  r.SetPosition(at - 2);
  char buf[8] = {};
  EXPECT_EQ(r.Read(buf, 8), 8);
  EXPECT_EQ(std::string(buf, 8), std::string("\0\0WXYZ\0\0", 8));
  EXPECT_EQ(r.GetPosition(), at + 6);
  EXPECT_EQ(r.Seek(-6, 1), at);
}

TEST_F(Streams, AttributesReadOnlyRoundTrip) {
  std::string path = MakeFile("ro.bin", "x");
  auto before = os::GetAttributes(path);
  ASSERT_TRUE(before.has_value());
  EXPECT_EQ(*before & os::kAttrReadOnly, 0u);
  ASSERT_TRUE(os::SetAttributes(path, *before | os::kAttrReadOnly));
  EXPECT_NE(*os::GetAttributes(path) & os::kAttrReadOnly, 0u);
  ASSERT_TRUE(os::SetAttributes(path, *before));
  EXPECT_EQ(*os::GetAttributes(path) & os::kAttrReadOnly, 0u);
  EXPECT_FALSE(os::GetAttributes(dir.File("none")).has_value());
  EXPECT_TRUE(os::CanOpenForReading(path));
  EXPECT_FALSE(os::CanOpenForReading(dir.File("none")));
}

#ifdef _WIN32
// Sharing only exists on Windows: a file held without sharing cannot be
// opened for the analysis.
TEST_F(Streams, FileHeldWithoutSharingCannotBeOpened) {
  std::string path = MakeFile("lock.bin", "data");
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_THROW(TFileStream64(path, kModeAnalyse), EFOpenError);
  EXPECT_THROW(TFileStream64(path, kModeConvert), EFOpenError);
  EXPECT_FALSE(os::CanOpenForReading(path));
  CloseHandle(h);
  EXPECT_NO_THROW(TFileStream64(path, kModeAnalyse));
}
#endif

}  // namespace
