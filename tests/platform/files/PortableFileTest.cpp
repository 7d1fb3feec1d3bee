// The portable file layer and its stream I/O, then the UTF-8 / UTF-16 text conversions.
#include <gtest/gtest.h>

#include <set>

#include "platform/files/StreamIo.h"
#include "platform/files/TextConvert.h"
#include "platform/os/MemoryArena.h"
#include "tests/support/ProcessTestTools.h"

using namespace VexaFiles;
using Codes = std::vector<int64_t>;  // result codes of several calls, compared at once

namespace {

class Files : public ::testing::Test {
 protected:
  std::string Read(const std::string& name) { return ProcessTestTools::ReadText(dir.path() / ProcessTestTools::Utf8Path(name)); }
  int32_t Open(uint32_t flags, const std::string& name, PortableFile** out = nullptr) {
    return PortableFileOpen(flags, nullptr, dir.Wide(name).c_str(), out ? out : &file);
  }
  int32_t ReadInto(uint32_t size) { return PortableFileRead(file, buffer, size, &count); }
  int32_t WriteOut(const char* bytes) { return PortableFileWrite(file, bytes, uint32_t(strlen(bytes)), &count); }
  ProcessTestTools::TempDir dir{"files"};
  PortableFile* file = nullptr;
  char buffer[16] = {};
  uint32_t count = 0;
};

}  // namespace

// A failed open leaves no file behind it (a directory is not a file; a lone surrogate is no name).
TEST_F(Files, OpenFailures) {
  dir.Write("plain", "abc");
  const char16_t lone[] = {u'/', u't', 0xDC00, 0};
  file = reinterpret_cast<PortableFile*>(1);
  EXPECT_EQ((Codes{Open(kPortableRead, "missing"), Open(kPortableRead, "no/such/dir"),
                   Open(kPortableRead | kPortableTruncate, "plain"), Open(kPortableRead, ""),
                   PortableFileOpen(kPortableRead, nullptr, lone, &file), PortableFileOpen(kPortableRead, nullptr, nullptr, &file),
                   PortableFileOpen(kPortableRead, nullptr, dir.Wide("x").c_str(), nullptr), PortableFileSize(dir.Wide("none").c_str())}),
            (Codes{kPortableNotFound, kPortableNotFound, kPortableTruncateNeedsWrite, kPortableAccessDenied, kPortableInvalid,
                   kPortableNoName, kPortableNoHandle, kPortableNoHandle}));
  EXPECT_TRUE(file == nullptr && Read("plain") == "abc");
}

TEST_F(Files, WritesReadsSeeksAndKeepsThePosition) {
  dir.Write("f", "0123456789");
  ASSERT_EQ(Open(kPortableWrite, "f"), kPortableOk);  // no truncation unless asked
  EXPECT_TRUE(WriteOut("ab") == kPortableOk && file->position == 2);
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  EXPECT_EQ(Read("f"), "ab23456789");
  ASSERT_EQ(Open(kPortableRead, "f"), kPortableOk);
  EXPECT_TRUE(ReadInto(16) == kPortableOk && count == 10u);
  const uint64_t before = PortableSystemSeekCount();
  ASSERT_EQ(PortableFileSeek(file, 10, kSeekFromStart), kPortableOk);  // already there: no call
  EXPECT_EQ(PortableSystemSeekCount(), before);
  EXPECT_TRUE(PortableFileSeek(file, -3, kSeekFromEnd) == kPortableOk && file->position == 7);
  // A failed seek clears the position; a read-only file takes no write.
  EXPECT_EQ((Codes{PortableFileSeek(file, 0, 3), PortableFileSeek(file, -100, kSeekFromCurrent), file->position, WriteOut("x")}),
            (Codes{kPortableBadOrigin, kPortableSeekInvalid, 0, kPortableWriteFailed}));
  ASSERT_EQ(PortableFileClose(file), kPortableOk);
  ASSERT_EQ(Open(kPortableReadWrite | kPortableTruncate, "f"), kPortableOk);
  EXPECT_EQ((Codes{WriteOut("xyz"), PortableFileSeek(file, 1, kSeekFromStart), ReadInto(1), WriteOut("Z"), PortableFileClose(file)}),
            Codes(5, kPortableOk));  // the write after the read changes direction
  EXPECT_EQ(Read("f"), "xyZ");
  file = nullptr;
  EXPECT_EQ((Codes{PortableFileSeek(nullptr, 0, 0), ReadInto(1), PortableFileClose(nullptr)}),
            (Codes{kPortableNullFile, kPortableNullFile, kPortableCloseFailed}));
}

// Names outside the basic plane open the right file (not the one a lossy conversion would name,
// where the system allows that name); denying sharing keeps others out.
TEST_F(Files, WideNamesAndDeniedSharing) {
  dir.Write("clip-\xF0\x9F\x8E\xAC-\xC3\xA9t\xC3\xA9.mkv", "film");
#ifdef _WIN32
  const std::string other = "clip-other.mkv";  // "?" is no file name character there
#else
  const std::string other = "clip-?-?t?.mkv";
#endif
  dir.Write(other, "wrong");
  EXPECT_EQ(PortableFileSize(dir.Wide("clip-\xF0\x9F\x8E\xAC-\xC3\xA9t\xC3\xA9.mkv").c_str()), 4);
  PortableFile* second = nullptr;
  ASSERT_EQ(Open(kPortableRead | kPortableDenyShare, other), kPortableOk);
  EXPECT_EQ(Open(kPortableRead, other, &second), kPortableAccessDenied);
  EXPECT_EQ(Open(kPortableWrite | kPortableTruncate, other, &second), kPortableAccessDenied);
  PortableFileClose(file);
  EXPECT_EQ(Read(other), "wrong");  // the refused truncation left the bytes
  ASSERT_EQ(Open(kPortableRead, other), kPortableOk);
  EXPECT_EQ(Open(kPortableRead | kPortableDenyShare, other, &second), kPortableAccessDenied);
  PortableFileClose(file);
}

TEST_F(Files, ConsoleReadsStandardInputAndRefusesSeeks) {
  dir.Write("in", "typed");
  ASSERT_NE(std::freopen((dir.path() / "in").string().c_str(), "rb", stdin), nullptr);  // this process only
  ASSERT_EQ(PortableFileOpen(kPortableConsole, nullptr, nullptr, &file), kPortableOk);
  EXPECT_TRUE(ReadInto(sizeof buffer) == kPortableOk && std::string(buffer, count) == "typed");
  EXPECT_EQ((Codes{ReadInto(sizeof buffer), PortableFileSeek(file, 0, kSeekFromStart), PortableFileClose(file)}),
            (Codes{kPortableEndOfInput, kPortableConsoleSeek, kPortableOk}));
#ifdef _WIN32
  EXPECT_EQ(std::freopen("NUL", "rb", stdin), stdin);
#else
  EXPECT_EQ(std::freopen("/dev/null", "rb", stdin), stdin);
#endif
}

TEST_F(Files, ListsEntriesWithTheirDirectoryFlagUnderEitherPattern) {
  dir.Write("a.txt", "");
  dir.Write("\xE2\x82\xAC\xF0\x9F\x98\x80", "");
  std::filesystem::create_directory(dir.path() / "sub");
  std::u16string backslashed = dir.Wide("");
  backslashed.back() = u'\\';
  PortableDir* listing = nullptr;
  PortableDirEntry entry;
  for (const std::u16string& path : {dir.Wide(""), backslashed}) {
    ASSERT_EQ(PortableDirOpen(nullptr, path.c_str(), &listing), kPortableOk);
    EXPECT_EQ(std::u16string(listing->pattern), path.substr(0, path.size() - 1) + u"\\*.*");
    std::set<std::pair<std::u16string, bool>> seen;
    while (PortableDirNext(listing, &entry) == kPortableOk) seen.insert({entry.name, entry.isDirectory});
    EXPECT_EQ(seen, (std::set<std::pair<std::u16string, bool>>{
                        {u".", true}, {u"..", true}, {u"a.txt", false}, {u"sub", true}, {u"\u20AC\U0001F600", false}}));
    EXPECT_EQ(PortableDirClose(listing), kPortableOk);
  }
  EXPECT_EQ((Codes{PortableDirOpen(nullptr, dir.Wide("none").c_str(), &listing), PortableDirNext(listing, &entry),
                   PortableDirClose(listing), PortableDirOpen(nullptr, nullptr, &listing)}),
            (Codes{kPortableOk, kPortableNotFound, kPortableOk, kPortableNoName}));
}

// A network kind answers -1 until its backend is installed, and again once it is removed.
TEST(StreamIo, CreationByKindAndInstalledBackends) {
  StreamIo* stream = nullptr;
  for (int32_t kind : {-1, 1, 2, 5}) {
    stream = reinterpret_cast<StreamIo*>(1);
    EXPECT_TRUE(StreamIoCreate(kind, nullptr, nullptr, &stream) == kStreamBadKind && stream == nullptr) << kind;
  }
  const StreamBackend fake{[](StreamIo* opened, const char16_t*, int32_t) { opened->size = 1234; return 0; },
                           nullptr, nullptr, nullptr, nullptr, nullptr};
  EXPECT_FALSE(StreamIoRegisterBackend(kStreamKindLocal, &fake));
  for (const StreamBackend* backend : {static_cast<const StreamBackend*>(nullptr), &fake}) {
    ASSERT_TRUE(StreamIoRegisterBackend(kStreamKindUriFile, backend));
    ASSERT_EQ(StreamIoCreate(kStreamKindUriFile, nullptr, nullptr, &stream), 0);
    EXPECT_EQ((Codes{stream->open(stream, u"x", 0), stream->size}), (backend ? Codes{0, 1234} : Codes{-1, 0}));
    StreamIoDestroy(stream);
  }
  ASSERT_TRUE(StreamIoRegisterBackend(kStreamKindUriFile, nullptr));
}

// Opening measures the size (rewinding only when not empty); a seek beyond the size leaves the
// position; everything, the record included, comes from the arena and goes back to it.
TEST_F(Files, LocalStreamOpensSeeksAndHoldsEverythingInTheArena) {
  dir.Write("movie.mkv", "0123456789");
  dir.Write("empty", "");
  alignas(8) static unsigned char memory[8192];
  VexaOS::ArenaDescriptor descriptor{memory, sizeof memory, 8};
  VexaOS::MemoryArena* arena = VexaOS::ArenaCreate(&descriptor);
  StreamIo* stream = nullptr;
  ASSERT_EQ(StreamIoCreate(kStreamKindLocal, nullptr, arena, &stream), 0);
  uint64_t seeksBefore = PortableSystemSeekCount();
  ASSERT_EQ(stream->open(stream, dir.Wide("movie.mkv").c_str(), 0), 0);
  EXPECT_TRUE(PortableSystemSeekCount() == seeksBefore + 2 && stream->size == 10);  // to the end and back
  ASSERT_EQ(stream->read(stream, buffer, 4, &count, 1), 0);
  EXPECT_EQ(std::string(buffer, count), "0123");
  int64_t position = -1, afterBeyond = -1, told = -1, fromEnd = -1;
  EXPECT_EQ((Codes{stream->seek(stream, 6, kSeekFromStart, &position), stream->seek(stream, 11, kSeekFromStart, &afterBeyond),
                   stream->tell(stream, &told), told, afterBeyond, stream->seek(stream, 10, kSeekFromStart, &position),
                   stream->seek(stream, -4, kSeekFromEnd, &fromEnd), fromEnd, stream->seek(stream, 0, 7, &position)}),
            (Codes{0, kStreamBeyondSize, 0, 6, -1, 0, 0, 6, kPortableBadOrigin}));  // the size itself is fine
  seeksBefore = PortableSystemSeekCount();
  ASSERT_EQ(stream->open(stream, dir.Wide("empty").c_str(), 0), 0);  // closes the first
  EXPECT_EQ(PortableSystemSeekCount(), seeksBefore + 1);                // to the end only
  EXPECT_TRUE(stream->size == 0 && std::u16string(stream->name) == dir.Wide("empty"));
  EXPECT_TRUE(stream->close(stream) == 0 && stream->name == nullptr);
  EXPECT_EQ((Codes{stream->close(stream), stream->open(stream, dir.Wide("missing").c_str(), 0), stream->open(stream, nullptr, 0)}),
            (Codes{kStreamNoFile, kStreamFileOpenFailure, kStreamFileOpenFailure}));
  ASSERT_EQ(stream->open(stream, dir.Wide("out").c_str(), 1), 0);  // the write flag creates it
  EXPECT_EQ(arena->entries, 4u);  // the record, the portable file and its name, the stream's name copy
  ASSERT_TRUE(PortableFileWrite(stream->file, "xyz", 3, &count) == 0 && stream->close(stream) == 0);
  EXPECT_EQ(Read("out"), "xyz");
  StreamIoDestroy(stream);
  EXPECT_EQ(arena->entries, 0u);
}

// Converts into `capacity` units followed by guard units that must stay untouched.
struct Guarded {
  std::vector<char16_t> units;
  size_t capacity;
  explicit Guarded(size_t capacityUnits) : units(capacityUnits + 8, 0xA5A5), capacity(capacityUnits) {}
  ptrdiff_t From(const std::string& utf8, Utf8OutOfRange policy = Utf8OutOfRange::Reject) {
    return Utf8ToUtf16(utf8.data(), utf8.size(), units.data(), capacity, policy);
  }
  bool GuardIntact() const { return std::all_of(units.begin() + capacity, units.end(), [](char16_t u) { return u == 0xA5A5; }); }
};

TEST(Utf8ToUtf16, ConvertsEachLengthAndNeverWritesPastTheOutputNorSplitsAPair) {
  Guarded out(16);
  ASSERT_EQ(out.From("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), 9);
  EXPECT_EQ(std::u16string(out.units.data()), u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF");
  EXPECT_TRUE(out.GuardIntact() && out.From("") == 0 && out.units[0] == 0);
  for (size_t capacity = 0; capacity <= 5; ++capacity) {  // 4 units + terminator = 5
    Guarded small(capacity);
    EXPECT_EQ(small.From("ab\xF0\x9F\x98\x80"), capacity == 5 ? ptrdiff_t{4} : ptrdiff_t{kConvertNoRoom}) << capacity;
    EXPECT_TRUE(small.GuardIntact()) << capacity;
  }
}

// Stray and missing continuations, overlong forms, five- and six-byte forms, FE and FF are refused
// whatever the policy; surrogates and values above U+10FFFF are refused or replaced.
TEST(Utf8ToUtf16, IllFormedInputIsRejectedOutOfRangeReplacedOnRequest) {
  for (const std::string input :
       {"\x80", "a\xBF", "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xC3\x41", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF",
        "\xF0\x8F\xBF\xBF", "\xF8\x88\x80\x80\x80", "\xFC\x84\x80\x80\x80\x80", "\xFE", "\xFF"}) {
    for (Utf8OutOfRange policy : {Utf8OutOfRange::Reject, Utf8OutOfRange::Replace}) {
      Guarded out(16);
      EXPECT_EQ(out.From(input, policy), kConvertIllFormed) << input.size();
      EXPECT_TRUE(out.units[0] == 0 && out.GuardIntact());
    }
    std::u16string text = u"keep";
    EXPECT_TRUE(!Utf8ToUtf16String(input, text) && text.empty());
  }
  for (const std::string input : {"\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF7\xBF\xBF\xBF"}) {
    Guarded out(8);
    EXPECT_EQ(out.From(input), kConvertIllFormed);
    EXPECT_EQ(out.From("a" + input, Utf8OutOfRange::Replace), 2);
    EXPECT_EQ(std::u16string(out.units.data()), u"a\uFFFD");
  }
}

TEST(Utf16ToCodePoints, CombinesPairsStopsAtALoneSurrogateAndReadsAtMostTheLimit) {
  const std::pair<std::u16string, ptrdiff_t> cases[] = {{u"a\U0001F600\u00E9\U0010FFFF", 4},
                                                        {std::u16string{u'a', char16_t(0xDC00), u'b'}, 1},
                                                        {std::u16string{u'a', u'b', char16_t(0xD83D), u'c'}, 2},
                                                        {std::u16string{u'a', char16_t(0xD83D)}, 1}};
  for (const auto& [text, points] : cases) {
    char32_t out[8];
    EXPECT_EQ(Utf16ToCodePoints(text.data(), text.size(), out, 8), points);
    EXPECT_EQ(out[points], 0u);
  }
  char32_t three[3];
  EXPECT_EQ(Utf16ToCodePoints(u"abc", 3, three, 3), kConvertNoRoom);  // no room for the terminator
  std::u16string text(kMaxUtf16Units + 10, u'x');
  std::vector<char32_t> out(kMaxUtf16Units + 20, 0xFFFFFFFF);
  size_t consumed = 0;
  EXPECT_EQ(Utf16ToCodePoints(text.data(), text.size(), out.data(), out.size(), &consumed), ptrdiff_t(kMaxUtf16Units));
  EXPECT_TRUE(consumed == kMaxUtf16Units && out[kMaxUtf16Units + 1] == 0xFFFFFFFFu);
}

TEST(TextConvert, CodePointsToUtf8NarrowCopiesAndRoundTrips) {
  char bytes[4];
  const std::pair<char32_t, int> lengths[] = {{0x41, 1}, {0x7FF, 2}, {0xFFFF, 3}, {0x10FFFF, 4}, {0x110000, 0}, {0xD800, 0}};
  for (auto [point, length] : lengths) EXPECT_EQ(CodePointToUtf8(point, bytes), length) << uint32_t(point);
  const char16_t text[] = {u'a', 0x0142, 0x20AC, u'z', 0};
  char small[3];
  EXPECT_EQ(WideToNarrow(text, 4, small, sizeof small), 2);  // low bytes, cut to fit
  EXPECT_EQ(std::string(small), "a\x42");
  std::string narrow;
  std::u16string wide;
  ASSERT_TRUE(Utf16ToUtf8String(u"x\u00E9\U0001F600", narrow) && Utf8ToUtf16String(narrow, wide));
  EXPECT_EQ(wide, u"x\u00E9\U0001F600");
  const char16_t lone[] = {u'a', 0xDC00};
  EXPECT_TRUE(!Utf16ToUtf8String(std::u16string_view(lone, 2), narrow) && narrow.empty());
}
