// Identification: what an input file or archive member is, from its first bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "objreader/reader.h"

namespace drelk {

enum class FileKind {
  kCoffObject,     // anything not recognised otherwise: read as COFF
  kCoffImport,     // a short import member of an import library
  kCoffBigObject,  // an extended ("bigobj") COFF object
  kArchive,        // "!<arch>\n"
  kThinArchive,    // "!<thin>\n": members name files beside the archive
  kElfObject,      // "\x7fELF": an ELF file, read by the ELF reader whatever its type
  kMachObject,     // a Mach-O magic of either class and byte order, whatever its file type
  kUniversal,      // a universal ("fat") Mach-O file: one slice an architecture
  kXcoffObject,    // an XCOFF magic of either class (AIX), whatever the file's flags
  kBigArchive,     // "<bigaf>\n": an AIX big archive, members linked by offsets
  kExecutable,     // MZ, NE or LE signature at offset 0
  kPeImage,        // "PE\0\0" at offset 0
  kLlvmBitcode,    // "BC" 0xC0DE, or the wrapper 0x0B17C0DE around it
  kPeDll,          // a PE image (MZ, then "PE\0\0" where e_lfanew says) marked IMAGE_FILE_DLL
  kPeProgram,      // any other PE image, read under -m for its debug information only
};

// The number of leading bytes identify_format looks at.
inline constexpr size_t kIdentifyBytes = 8;

// Names what the `count` bytes at the start of a file or member make it.
FileKind identify_format(const uint8_t* bytes, size_t count);

// Of an archive member: only the object formats count; anything else is read as COFF.
FileKind identify_member(const uint8_t* bytes, size_t count);

// Whether the file in `stream`, which starts with the MS-DOS signature, is a PE DLL.
bool is_pe_dll(InputStream& stream);
// Whether it is a PE image at all: "PE\0\0" where e_lfanew says.
bool is_pe_image(InputStream& stream);

// Whether the file in `stream`, found in a directory searched for objects, is a shared
// library to read: an ELF shared object that asks for no program interpreter (a
// position-independent program does), a Mach-O dylib or bundle, a PE DLL.
bool is_shared_library(InputStream& stream);

// Whether the file in `stream` is a .dSYM bundle's companion file (Mach-O MH_DSYM), which
// a directory searched for objects holds for -m.
bool is_debug_companion(InputStream& stream);

// The number of leading bytes is_object_or_library looks at.
inline constexpr size_t kObjectSignatureBytes = 20;

// Whether the first `count` bytes of a file found in a directory searched for objects
// make it an object or library to read, decided by the bytes alone: an archive, a
// relocatable ELF, Mach-O or XCOFF object, a universal file, an extended COFF object, LLVM
// bitcode, or a COFF object whose file header names a known processor and an object's
// optional header size. Executables, shared libraries and every other file are passed over.
bool is_object_or_library(const uint8_t* bytes, size_t count);

// The number of leading bytes unreadable_file_kind looks at.
inline constexpr size_t kNamingBytes = 256;

// What a file plainly is when it is no object and no library, by its size and its first
// `count` bytes: "empty" or "a text file"; nullptr for anything else
// (executables, whose diagnostic is their own, and whatever the readers are to judge).
const char* unreadable_file_kind(const uint8_t* bytes, size_t count, uint64_t size);

// Reports that the file at `path` is no object file (an executable, a shared library).
void report_not_an_object(ObjectReader& reader, const char* path);
// The same, saying what it is instead ("empty", "a directory").
void report_not_an_object(ObjectReader& reader, const char* path, const char* what);

// Files that are plainly no object are named for what they are, in one line: true, after
// that diagnostic, when the file in `stream` is one (see unreadable_file_kind). Anything
// else is left to the readers, COFF's for anything unrecognised, with their diagnostics.
bool reported_unreadable_file(ObjectReader& reader, InputStream& stream, const char* path);

// The classification reads of an input file, with their diagnostics: executables are
// refused ("The file %s is not an object file."), an archive is recognised by its
// signature (a thin one too), anything else is an object to read from offset 0. Returns false when
// the file's analysis ends here, with `result` as its result; otherwise `kind` says what it is, and
// the stream stands at the archive's first member header, or at 0.
bool classify_file(ObjectReader& reader, InputStream& stream, const char* name, const char* path,
                   FileKind& kind, Outcome& result);

}  // namespace drelk
