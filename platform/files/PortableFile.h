// The portable file layer: byte access to a file by wide name, and directory listings.
//
// Wide names are UTF-16; they are converted to UTF-8 only here, at the system boundary, so a
// name with characters outside the Basic Multilingual Plane opens the file of that name.
// Names are used as they are: "/" separates directories, a backslash is an ordinary character
// (except in PortableDir's pattern, below).
#pragma once

#include <cstdint>
#include <cstdio>

namespace VexaOS {
struct MemoryArena;
}

namespace VexaFiles {

// Open flags (bits).
enum : uint32_t {
  kPortableRead = 0x00,        // the two low bits 0 or 1: read only ("rb")
  kPortableReadOnly = 0x01,
  kPortableWrite = 0x02,       // write only ("wb"); creates a missing file
  kPortableReadWrite = 0x03,   // read and write ("r+b"); the file must exist
  kPortableAccessMask = 0x03,
  kPortableText = 0x04,        // text mode; on this platform text and binary are the same
  kPortableSequential = 0x08,  // sequential access hint (random access otherwise)
  kPortableTruncate = 0x10,    // truncate on open; needs write access
  kPortableDenyShare = 0x40,   // no other opening of the file while this one is open
  kPortableConsole = 0x80,     // the process's standard streams instead of a file
};

// Result codes.
enum : int32_t {
  kPortableOk = 0,
  kPortableNoHandle = -2,          // no out handle; Size: no such entry
  kPortableConsoleSeek = -8,       // seek or tell on the console
  kPortableEndOfInput = -9,        // console read at the end of standard input
  kPortableNoMemory = -10,
  kPortableNoName = -11,
  kPortableTruncateNeedsWrite = -21,
  kPortableAccessDenied = -23,     // also: the file is open elsewhere with kPortableDenyShare
  kPortableExists = -24,
  kPortableInvalid = -25,          // also: a name that is not well-formed UTF-16
  kPortableTooManyOpen = -26,
  kPortableNotFound = -27,
  kPortableOpenFailed = -28,       // any other open failure
  kPortableBadOrigin = -31,
  kPortableSeekFailed = -32,
  kPortableSeekInvalid = -33,
  kPortableNullFile = -41,         // read, write or seek without a file
  kPortableReadFailed = -42,
  kPortableWriteFailed = -51,
  kPortableDiskFull = -52,
  kPortableCloseFailed = -61,
  kPortableEndOfList = -1,         // PortableDirNext: no more entries
};

// Seek origins.
enum : int32_t { kSeekFromStart = 0, kSeekFromCurrent = 1, kSeekFromEnd = 2 };

struct PortableFile {
  uint32_t flags;                  // the open flags as passed
  FILE* stream;                    // the file's stream; standard input for the console
  VexaOS::MemoryArena* allocator;  // where this record and the name came from (null: the heap)
  char16_t* name;                  // private copy of the wide name (null for the console)
  int64_t position;                // kept by the layer: advanced by reads and writes
  bool console;
  uint8_t lastIo;                  // 0 none, 1 read, 2 write: a change of direction syncs the stream
};

// Opens `name` (or the standard streams with kPortableConsole, when `name` may be null).
int32_t PortableFileOpen(uint32_t flags, VexaOS::MemoryArena* allocator, const char16_t* name,
                         PortableFile** out);
// Reads up to `count` bytes; *outCount receives the number read (0 at the end of a file).
int32_t PortableFileRead(PortableFile* file, void* buffer, uint32_t count, uint32_t* outCount);
// Writes `count` bytes. A failed write answers kPortableDiskFull or kPortableWriteFailed and
// clears the position.
int32_t PortableFileWrite(PortableFile* file, const void* buffer, uint32_t count,
                          uint32_t* outCount);
// Seeks; afterwards the position is read back from the stream. A seek from the start to the
// current position does nothing. A failed seek clears the position.
int32_t PortableFileSeek(PortableFile* file, int64_t offset, int32_t origin);
// Closes the file and frees the record and its name.
int32_t PortableFileClose(PortableFile* file);
// The size of the file system entry `name`, or kPortableNoHandle when there is none.
int64_t PortableFileSize(const char16_t* name);
// What the file system entry `name` is (a link is followed). Opening anything but a regular
// file (a FIFO, a device) may block or never end, so callers that must answer at once ask.
enum PortableEntryKind : int32_t {
  kPortableNoEntry = 0,
  kPortableRegularFile = 1,
  kPortableOtherEntry = 2,  // a directory, FIFO, device or socket
};
PortableEntryKind PortableFileKind(const char16_t* name);

// Renames `from` to `to`, replacing a file of that name; open result codes on failure.
int32_t PortableFileRename(const char16_t* from, const char16_t* to);

// Directory listing. Open keeps a pattern: the path (a final "/" removed) followed by a
// backslash and "*.*", or by "*.*" alone when the path already ends with a backslash; the
// directory listed is the pattern without that "*.*" and the backslash before it (the root
// when nothing is left). Every entry matches; "." and ".." are listed as well. Entries come in
// byte order of their UTF-8 names; names that are not UTF-8 or longer than 259 UTF-16 units
// are left out.
constexpr uint32_t kPortableDirNameChars = 260;

struct PortableDirEntry {
  char16_t name[kPortableDirNameChars];  // 0-terminated
  bool isDirectory;
};

struct PortableDirState;

struct PortableDir {
  VexaOS::MemoryArena* allocator;
  char16_t* pattern;        // 0-terminated
  PortableDirState* state;  // null until the first PortableDirNext
};

int32_t PortableDirOpen(VexaOS::MemoryArena* allocator, const char16_t* path, PortableDir** out);
// The first call starts the search, later ones continue it. Answers 0 with an entry,
// kPortableEndOfList after the last one, or an open result code when the directory cannot be
// read.
int32_t PortableDirNext(PortableDir* dir, PortableDirEntry* entry);
int32_t PortableDirClose(PortableDir* dir);

// Test and diagnostic counter: how many seeks reached the system since the process started.
uint64_t PortableSystemSeekCount();

}  // namespace VexaFiles
