// The archive: exact byte layouts, damaged and truncated input, value records
// (including hostile ones) and saving through a temporary file.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/archive.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Stored(const std::function<void(CArchive&)>& write) {
  CArchive ar;
  write(ar);
  return ar.Bytes();
}

Bytes Le32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A 16-byte record with type `vt` and the given eight data bytes.
Bytes VariantRecord(VARTYPE vt, uint64_t data) {
  Bytes b = {uint8_t(vt), uint8_t(vt >> 8), 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(data >> (8 * i)));
  return b;
}

// A text value owned by its CVariant (the builder's result is adopted, not copied).
CVariant Text(const char* utf8) {
  VARIANT v = MakeVariantText(utf8);
  return CVariant::Adopt(v);
}

CArchiveException::Cause CauseOf(const std::function<void()>& read) {
  try {
    read();
  } catch (const CArchiveException& e) {
    return e.cause();
  }
  ADD_FAILURE() << "no CArchiveException";
  return CArchiveException::fileError;
}

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/plexmar-archive-XXXXXX";
    m_path = mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
  }
  const fs::path& path() const { return m_path; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(m_path)) names.push_back(e.path().filename().string());
    return names;
  }

 private:
  fs::path m_path;
};

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(Archive, NumbersAreLittleEndianWithoutPadding) {
  const Bytes b = Stored([](CArchive& ar) {
    ar.WriteByte(0xAB);
    ar.WriteWord(0x1234);
    ar.WriteInt32(-2);
    ar.WriteDword(0x89ABCDEF);
    ar.WriteFloat(1.0f);
  });
  EXPECT_EQ(b, (Bytes{0xAB, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0xEF, 0xCD, 0xAB, 0x89, 0x00, 0x00, 0x80, 0x3F}));

  CArchive in(b);
  EXPECT_TRUE(in.IsLoading());
  EXPECT_EQ(in.ReadByte(), 0xAB);
  EXPECT_EQ(in.ReadWord(), 0x1234);
  EXPECT_EQ(in.ReadInt32(), -2);
  EXPECT_EQ(in.ReadDword(), 0x89ABCDEFu);
  EXPECT_EQ(in.ReadFloat(), 1.0f);
  EXPECT_EQ(in.Remaining(), 0u);
  EXPECT_EQ(CauseOf([&] { in.ReadByte(); }), CArchiveException::endOfFile);
  EXPECT_THROW(in.WriteInt32(1), std::logic_error) << "a loading archive is never written";
}

TEST(Archive, CountedStringTakesTheShortestOfItsThreeForms) {
  struct Case {
    size_t length;
    Bytes prefix;
  };
  const Case cases[] = {
      {0, {0x00}},
      {254, {0xFE}},
      {255, {0xFF, 0xFF, 0x00}},
      {0xFFFD, {0xFF, 0xFD, 0xFF}},
      {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
      {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string text(c.length, 'x');
    for (size_t i = 0; i < text.size(); ++i) text[i] = char('a' + i % 26);
    const Bytes b = Stored([&](CArchive& ar) { ar.WriteString(text); });
    ASSERT_EQ(b.size(), c.prefix.size() + c.length);
    EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), b.begin()));
    EXPECT_EQ(0, std::memcmp(b.data() + c.prefix.size(), text.data(), c.length));

    CArchive in(b);
    EXPECT_EQ(in.ReadString(), text);
    EXPECT_EQ(in.Remaining(), 0u);
  }
}

TEST(Archive, ReaderAcceptsLongerFormsThanNeeded) {
  CArchive in(Bytes{0xFF, 0x03, 0x00, 'a', 'b', 'c', 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0, 'd', 'e'});
  EXPECT_EQ(in.ReadString(), "abc");
  EXPECT_EQ(in.ReadString(), "de");
}

TEST(Archive, DamagedStringLengthsThrowWithTheirCause) {
  // 0xFFFE announces a string form this reader does not know.
  EXPECT_EQ(CauseOf([] { CArchive(Bytes{0xFF, 0xFE, 0xFF, 0, 0}).ReadString(); }), CArchiveException::badFormat);
  // Lengths beyond the data, in every form; the largest must not be allocated.
  EXPECT_EQ(CauseOf([] { CArchive(Bytes{0x05, 'a', 'b'}).ReadString(); }), CArchiveException::badCount);
  EXPECT_EQ(CauseOf([] { CArchive(Bytes{0xFF, 0x00, 0x01, 'a'}).ReadString(); }), CArchiveException::badCount);
  EXPECT_EQ(CauseOf([] { CArchive(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).ReadString(); }),
            CArchiveException::badCount);
  EXPECT_EQ(CauseOf([] { CArchive(Bytes{0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80, 'x'}).ReadString(); }),
            CArchiveException::badCount);
}

TEST(Archive, CountsThatTheDataCannotHoldAreRefused) {
  const Bytes twelve(12, 0);
  CArchive ok(Concat({Le32(3), twelve}));
  EXPECT_EQ(ok.ReadCount(4), 3);
  EXPECT_EQ(ok.Remaining(), 12u);

  EXPECT_EQ(CauseOf([&] { CArchive(Concat({Le32(4), twelve})).ReadCount(4); }), CArchiveException::badCount);
  EXPECT_EQ(CauseOf([&] { CArchive(Concat({Le32(uint32_t(-1)), twelve})).ReadCount(); }),
            CArchiveException::badCount);
  EXPECT_EQ(CauseOf([&] { CArchive(Concat({Le32(0x7FFFFFFF), twelve})).ReadCount(0); }),
            CArchiveException::badCount);
  EXPECT_EQ(CArchive(Le32(0)).ReadCount(60), 0);
  EXPECT_EQ(CauseOf([] { CArchive(Bytes{1, 0}).ReadCount(); }), CArchiveException::endOfFile);
}

TEST(Archive, FontAndFileTimeRecords) {
  LOGFONT font;
  font.lfHeight = -13;
  font.lfWeight = 400;
  font.lfItalic = 1;
  font.lfOutPrecision = 1;
  font.lfClipPrecision = 2;
  font.lfQuality = 1;
  font.lfPitchAndFamily = 0x31;
  std::strcpy(font.lfFaceName, "Courier");
  const Bytes b = Stored([&](CArchive& ar) { ar.WriteLogFont(font); });
  ASSERT_EQ(b.size(), 60u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), (Bytes{0xF3, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(b.begin() + 16, b.begin() + 20), Le32(400));
  EXPECT_EQ(Bytes(b.begin() + 20, b.begin() + 28), (Bytes{1, 0, 0, 0, 1, 2, 1, 0x31}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()) + 28), "Courier");

  CArchive in(b);
  const LOGFONT back = in.ReadLogFont();
  EXPECT_EQ(0, std::memcmp(&back, &font, sizeof font));

  // A face name without its terminator still reads as a terminated string.
  Bytes unterminated = b;
  std::fill(unterminated.begin() + 28, unterminated.end(), 'A');
  const LOGFONT clipped = CArchive(unterminated).ReadLogFont();
  EXPECT_EQ(std::strlen(clipped.lfFaceName), size_t(LF_FACESIZE - 1));

  const FILETIME t{0x11223344, 0x01D9AABB};
  const Bytes ft = Stored([&](CArchive& ar) { ar.WriteFileTime(t); });
  EXPECT_EQ(ft, Concat({Le32(0x11223344), Le32(0x01D9AABB)})) << "low word first";
  const FILETIME back2 = CArchive(ft).ReadFileTime();
  EXPECT_EQ(back2.dwHighDateTime, t.dwHighDateTime);
}

TEST(Archive, ValueRecordsRoundTrip) {
  CVariant i2(MakeVariantI2(-1234)), i4(MakeVariantI4(123456789)), r4(MakeVariantR4(0.1f)),
      r8(MakeVariantR8(-2.5e300)), yes(MakeVariantBool(true)), no(MakeVariantBool(false));
  for (const CVariant* v : {&i2, &i4, &r4, &r8, &yes, &no}) {
    SCOPED_TRACE((*v)->vt);
    const Bytes b = Stored([&](CArchive& ar) { ar.WriteVariant(**v); });
    ASSERT_EQ(b.size(), 16u);
    EXPECT_EQ(0, std::memcmp(b.data(), v->get(), 16)) << "the record is the value as it lies in memory";
    CVariant back;
    CArchive in(b);
    in.ReadVariant(*back);
    EXPECT_EQ(0, std::memcmp(back.get(), v->get(), 16));
  }
  EXPECT_EQ(CArchive(Stored([](CArchive& ar) { ar.WriteVariant(MakeVariantBool(true)); })).Bytes()[8], 0xFF);
}

TEST(Archive, TextValueIsTheRecordThenALatin1String) {
  CVariant abc = Text("abc");
  const Bytes b = Stored([&](CArchive& ar) { ar.WriteVariant(*abc); });
  EXPECT_EQ(b, Concat({Bytes{VT_BSTR, 0, 0, 0, 0, 0, 0, 0}, Bytes(8, 0), Bytes{3, 'a', 'b', 'c'}}));

  CVariant back;
  CArchive in(b);
  in.ReadVariant(*back);
  ASSERT_EQ(back->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(back->bstrVal), "abc");

  // Latin-1 survives; what Latin-1 cannot hold becomes '?', one per unit.
  CVariant mixed = Text("d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC");  // "déjà €"
  const Bytes m = Stored([&](CArchive& ar) { ar.WriteVariant(*mixed); });
  EXPECT_EQ(Bytes(m.begin() + 16, m.end()), (Bytes{6, 'd', 0xE9, 'j', 0xE0, ' ', '?'}));
  CVariant mixedBack;
  CArchive min(m);
  min.ReadVariant(*mixedBack);
  ASSERT_EQ(mixedBack->vt, VT_BSTR);
  EXPECT_EQ(BstrToU16(mixedBack->bstrVal), std::u16string(u"d\u00E9j\u00E0 ?"));

  // A null text is the empty text.
  VARIANT nullText;
  VariantInit(&nullText);
  nullText.vt = VT_BSTR;
  nullText.bstrVal = nullptr;
  const Bytes e = Stored([&](CArchive& ar) { ar.WriteVariant(nullText); });
  EXPECT_EQ(e.size(), 17u);
  EXPECT_EQ(e[16], 0);

  // Reading replaces (and frees) what the value held before.
  CArchive again(Stored([](CArchive& ar) { ar.WriteVariant(MakeVariantI4(7)); }));
  again.ReadVariant(*back);
  EXPECT_EQ(back->vt, VT_I4);
  EXPECT_EQ(back->lVal, 7);
}

TEST(Archive, ValuesThatCannotBeStoredKeepTheReaderInStep) {
  CVariant array;
  array->vt = VT_ARRAY | VT_I4;
  array->parray = SafeArrayCreateVector(VT_I4, 0, 3);
  ASSERT_NE(array->parray, nullptr);
  const Bytes b = Stored([&](CArchive& ar) {
    ar.WriteVariant(*array);
    ar.WriteInt32(99);
  });
  EXPECT_EQ(b, Concat({Bytes(16, 0), Le32(99)})) << "written as an empty value, no pointer in the file";
  CArchive in(b);
  CVariant back;
  in.ReadVariant(*back);
  EXPECT_EQ(back->vt, VT_EMPTY);
  EXPECT_EQ(in.ReadInt32(), 99);
}

TEST(Archive, HostilePointerRecordsLoadAsEmpty) {
  const VARTYPE hostile[] = {VT_ARRAY | VT_I4, VT_BYREF | VT_I4, VT_BYREF | VT_BSTR, VT_DISPATCH, VT_UNKNOWN,
                             VT_VARIANT, VT_BYREF | VT_VARIANT, 0x24 /* a record type */, 0x0FFF};
  for (VARTYPE vt : hostile) {
    SCOPED_TRACE(vt);
    CArchive in(Concat({VariantRecord(vt, 0x4141414141414141ull), Le32(0x5A5A5A5A)}));
    CVariant value = Text("previous");
    in.ReadVariant(*value);
    EXPECT_EQ(value->vt, VT_EMPTY);
    EXPECT_EQ(value->ullVal, 0u);
    EXPECT_EQ(in.ReadDword(), 0x5A5A5A5Au) << "exactly 16 bytes consumed";
    // Copying and clearing the loaded value must not follow anything.
    CVariant copy(*value);
    EXPECT_EQ(copy->vt, VT_EMPTY);
  }

  // A text record whose string is damaged leaves no pointer from the file
  // behind in the value (clearing it would free that address).
  CArchive in(Concat({VariantRecord(VT_BSTR, 0x4141414141414141ull), Bytes{200, 'a', 'b', 'c'}}));
  CVariant value = Text("previous");
  EXPECT_EQ(CauseOf([&] { in.ReadVariant(*value); }), CArchiveException::badCount);
  EXPECT_EQ(value->vt, VT_EMPTY);
}

// One record of every kind, cut short at each byte: every cut must throw, none
// may read outside the bytes (run under the address sanitizer to see that).
TEST(Archive, TruncatedInputThrowsAtEveryPosition) {
  LOGFONT font;
  std::strcpy(font.lfFaceName, "Arial");
  FILETIME ft{123, 456};
  const std::string longText(300, 'q');
  const std::string hugeText(70000, 'h');
  const Bytes whole = Stored([&](CArchive& ar) {
    ar.WriteWord(1);
    ar.WriteLogFont(font);
    ar.WriteDword(0xC0C0C0);
    ar.WriteInt32(1);
    ar.WriteString("secret");
    ar.WriteInt32(2);
    ar.WriteString("Tag1");
    ar.WriteVariant(MakeVariantR8(3.25));
    ar.WriteString(longText);
    ar.WriteVariant(*Text("abc"));
    ar.WriteFloat(4095.0f);
    ar.WriteFileTime(ft);
    ar.WriteByte(3);
    ar.WriteString(hugeText);
  });
  auto readAll = [&](CArchive& in) {
    EXPECT_EQ(in.ReadWord(), 1);
    in.ReadLogFont();
    in.ReadDword();
    in.ReadInt32();
    in.ReadString();
    const int32_t n = in.ReadCount(16);
    for (int32_t i = 0; i < n; ++i) {
      in.ReadString();
      CVariant v;
      in.ReadVariant(*v);
    }
    in.ReadFloat();
    in.ReadFileTime();
    in.ReadByte();
    in.ReadString();
  };
  {
    CArchive in(whole);
    readAll(in);
    EXPECT_EQ(in.Remaining(), 0u);
  }
  // Every cut inside the small fields, and a sample through the long text.
  for (size_t cut = 0; cut < whole.size(); cut += cut < 600 ? 1 : 997) {
    SCOPED_TRACE(cut);
    CArchive in(Bytes(whole.begin(), whole.begin() + cut));
    const auto cause = CauseOf([&] { readAll(in); });
    EXPECT_TRUE(cause == CArchiveException::endOfFile || cause == CArchiveException::badCount) << cause;
    EXPECT_LE(in.Position(), cut);
  }
}

TEST(ArchiveFile, SaveAndLoadRoundTrip) {
  TempDir dir;
  const fs::path file = dir.path() / "plexmar.tst";
  CArchive out;
  out.WriteString("hello");
  out.WriteInt32(42);
  ASSERT_TRUE(out.SaveToFile(file));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"plexmar.tst"}) << "no temporary left behind";

  CArchive in = CArchive::FromFile(file);
  EXPECT_TRUE(in.IsLoading());
  EXPECT_EQ(in.ReadString(), "hello");
  EXPECT_EQ(in.ReadInt32(), 42);

  // Saving again replaces the content and keeps the file's permissions.
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  CArchive second;
  second.WriteByte(7);
  ASSERT_TRUE(second.SaveToFile(file));
  EXPECT_EQ(ReadText(file), "");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // Through a link, the file it points at is replaced and the link stays.
  const fs::path link = dir.path() / "current.tst";
  fs::create_symlink(file, link);
  ASSERT_TRUE(out.SaveToFile(link));
  EXPECT_TRUE(fs::is_symlink(link));
  CArchive viaLink = CArchive::FromFile(file);
  EXPECT_EQ(viaLink.ReadString(), "hello");
}

TEST(ArchiveFile, UnreadableFilesAreFileErrors) {
  TempDir dir;
  EXPECT_EQ(CauseOf([&] { CArchive::FromFile(dir.path() / "missing.tst"); }), CArchiveException::fileError);
  EXPECT_EQ(CauseOf([&] { CArchive::FromFile(dir.path()); }), CArchiveException::fileError);
  std::ofstream(dir.path() / "empty.tst").close();
  CArchive empty = CArchive::FromFile(dir.path() / "empty.tst");
  EXPECT_EQ(empty.Remaining(), 0u);
  EXPECT_EQ(CauseOf([&] { empty.ReadWord(); }), CArchiveException::endOfFile);

  // A huge file (sparse here) is refused before anything is allocated for it.
  const fs::path huge = dir.path() / "huge.tst";
  std::ofstream(huge).close();
  fs::resize_file(huge, uintmax_t(600) << 20);
  EXPECT_EQ(CauseOf([&] { CArchive::FromFile(huge); }), CArchiveException::fileError);
}

TEST(ArchiveFile, FailedSaveLeavesThePreviousFileAlone) {
  TempDir dir;
  const fs::path file = dir.path() / "form1";
  {
    std::ofstream(file, std::ios::binary) << "previous";
  }
  CArchive big;
  big.WriteRaw(std::string(100000, 'n').data(), 100000);

  // A write that fails half-way: the file size limit stops it at 4 KiB.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = big.SaveToFile(file);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadText(file), "previous");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"form1"});

  // Nowhere to write: a missing folder, and a name that is a folder.
  EXPECT_FALSE(big.SaveToFile(dir.path() / "no" / "such" / "file"));
  fs::create_directory(dir.path() / "sub");
  std::ofstream(dir.path() / "sub" / "x") << "x";
  EXPECT_FALSE(big.SaveToFile(dir.path() / "sub"));
  EXPECT_EQ(ReadText(dir.path() / "sub" / "x"), "x");
}
