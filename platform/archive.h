// The framework archive: the byte stream of project files and form files.
//
// Little-endian, no padding: integers of 1, 2 and 4 bytes, IEEE float32, the
// counted string, LOGFONT/COLORREF/FILETIME records and the VARIANT record.
// One class reads or writes, so that each persistent class can write and read
// the same field sequence in one Serialize:
//
//   void CThing::Serialize(CArchive& ar) {
//     ar.Io(m_strName);
//     ar.Io(m_nKind);
//   }
//
// A loading archive works on the bytes it was given; reading past their end, a
// count that cannot be right or a string form it does not know throws
// CArchiveException and never reads out of bounds. A storing archive collects
// bytes that the caller then writes to a file; writing to a loading archive is
// a programming error (std::logic_error).
//
// Counted string: a length, then that many bytes of text (no terminator). The
// length is one byte if below 255; otherwise 0xFF then a uint16 if below 0xFFFE;
// otherwise 0xFF, 0xFFFF and a uint32. Text is stored as the bytes of the
// std::string (UTF-8 in Plexmar).
//
// VARIANT record: the 16 bytes of the value (type, three reserved words, eight
// data bytes), then for VT_BSTR the text as a counted string in Latin-1: a
// UTF-16 unit above 255 is stored as '?'; on reading each byte becomes one
// UTF-16 unit. The data bytes of a text would be a pointer, meaningless in the
// file: they are written as zeros and ignored on reading. Only types whose
// eight bytes are the value itself (numbers, BOOL, CY, DATE, ERROR, NULL,
// EMPTY) are stored as they are; arrays, references, interfaces and unknown
// types are written as an empty value, so the reader stays in step. On
// reading, a record whose type would make the data bytes a pointer
// (VT_ARRAY, VT_BYREF, VT_DISPATCH, VT_UNKNOWN, VT_VARIANT, or a type not
// listed above) is never taken as one: it loads as VT_EMPTY.
//
// LOGFONT: the 60-byte record; on reading, the last byte of the face name is
// forced to 0 so that the name is always a terminated C string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/variant.h"
#include "platform/wintypes.h"

class CArchiveException : public std::runtime_error {
 public:
  enum Cause {
    endOfFile,     // read past the end of the data
    badCount,      // a length or count that cannot be right
    badFormat,     // a record the reader does not know
    fileError,     // the file could not be read or written
  };
  CArchiveException(Cause cause, const std::string& what)
      : std::runtime_error(what), m_cause(cause) {}
  Cause cause() const { return m_cause; }

 private:
  Cause m_cause;
};

class CArchive {
 public:
  enum Mode { load, store };

  // A storing archive, empty.
  CArchive();
  // A loading archive over `bytes`.
  explicit CArchive(std::vector<uint8_t> bytes);

  // Reads a whole file into a loading archive; throws CArchiveException
  // (fileError) when the file cannot be read.
  static CArchive FromFile(const std::filesystem::path& path);
  // Writes the stored bytes to `path`; false when the file cannot be written.
  // The bytes go to a temporary file in the same folder that then replaces
  // `path`, so a failed save leaves the previous file untouched.
  bool SaveToFile(const std::filesystem::path& path) const;

  bool IsLoading() const { return m_mode == load; }
  bool IsStoring() const { return m_mode == store; }

  // The bytes stored so far (storing) or given (loading).
  const std::vector<uint8_t>& Bytes() const { return m_bytes; }
  // Bytes not yet read (loading).
  size_t Remaining() const { return m_bytes.size() - m_pos; }
  size_t Position() const { return m_pos; }

  // Store.
  void WriteByte(uint8_t v);
  void WriteWord(uint16_t v);
  void WriteInt32(int32_t v);
  void WriteDword(uint32_t v);
  void WriteFloat(float v);
  void WriteRaw(const void* data, size_t size);
  void WriteString(const std::string& text);
  void WriteVariant(const VARIANT& value);
  void WriteLogFont(const LOGFONT& font);
  void WriteFileTime(const FILETIME& time);

  // Load; each throws CArchiveException when the data is short or damaged.
  uint8_t ReadByte();
  uint16_t ReadWord();
  int32_t ReadInt32();
  uint32_t ReadDword();
  float ReadFloat();
  void ReadRaw(void* data, size_t size);
  std::string ReadString();
  // Replaces `value` (cleared first) with the record read.
  void ReadVariant(VARIANT& value);
  LOGFONT ReadLogFont();
  FILETIME ReadFileTime();
  // An int32 count of records that follow, each at least `minRecordBytes`
  // long (0 counts as 1): badCount when it is negative or more than the
  // remaining bytes hold, so that no caller reserves memory for it.
  int32_t ReadCount(size_t minRecordBytes = 1);

  // Read or write by mode: the one-Serialize style.
  void Io(uint8_t& v) { IsStoring() ? WriteByte(v) : void(v = ReadByte()); }
  void Io(uint16_t& v) { IsStoring() ? WriteWord(v) : void(v = ReadWord()); }
  void Io(int32_t& v) { IsStoring() ? WriteInt32(v) : void(v = ReadInt32()); }
  void Io(uint32_t& v) { IsStoring() ? WriteDword(v) : void(v = ReadDword()); }
  void Io(float& v) { IsStoring() ? WriteFloat(v) : void(v = ReadFloat()); }
  void Io(std::string& v) { IsStoring() ? WriteString(v) : void(v = ReadString()); }
  void Io(VARIANT& v) { IsStoring() ? WriteVariant(v) : ReadVariant(v); }
  void Io(LOGFONT& v) { IsStoring() ? WriteLogFont(v) : void(v = ReadLogFont()); }
  void Io(FILETIME& v) { IsStoring() ? WriteFileTime(v) : void(v = ReadFileTime()); }

 private:
  void Need(size_t size);

  Mode m_mode;
  std::vector<uint8_t> m_bytes;
  size_t m_pos = 0;
};
