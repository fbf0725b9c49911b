// The framework archive: little-endian fields, counted strings and the value
// record, read with bounds checks and saved through a temporary file.

#include "platform/archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr uint8_t kLongStringByte = 0xFF;
constexpr uint16_t kLongStringWord = 0xFFFF;
// The word that announces a form of the string this reader does not know.
constexpr uint16_t kForeignStringWord = 0xFFFE;
constexpr size_t kVariantRecordBytes = 16;
// Project and form files are kilobytes; anything near this is not one of ours
// and would only exhaust memory.
constexpr size_t kMaxFileBytes = size_t(512) << 20;

[[noreturn]] void Fail(CArchiveException::Cause cause, const std::string& what) {
  throw CArchiveException(cause, what);
}

// Types whose eight data bytes are the value itself. Anything else (texts,
// arrays, references, interfaces, types we do not know) holds or may hold a
// pointer, which must never come from a file nor go into one.
bool IsPlainValueType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

// Closes a descriptor on every path out of a function.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return m_fd; }
  bool Close() {
    if (m_fd < 0) return true;
    const int rc = close(m_fd);
    m_fd = -1;
    return rc == 0;
  }

 private:
  int m_fd;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

CArchive::CArchive() : m_mode(store) {}

CArchive::CArchive(std::vector<uint8_t> bytes) : m_mode(load), m_bytes(std::move(bytes)) {}

CArchive CArchive::FromFile(const std::filesystem::path& path) {
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) Fail(CArchiveException::fileError, "cannot open " + path.string() + ": " + std::strerror(errno));
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
    Fail(CArchiveException::fileError, path.string() + " is not a readable file");
  if (static_cast<uint64_t>(st.st_size) > kMaxFileBytes)
    Fail(CArchiveException::fileError, path.string() + " is too large to load");

  std::vector<uint8_t> bytes;
  try {
    bytes.reserve(static_cast<size_t>(st.st_size));
    uint8_t chunk[65536];
    for (;;) {
      const ssize_t n = read(fd.get(), chunk, sizeof chunk);
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail(CArchiveException::fileError, "cannot read " + path.string() + ": " + std::strerror(errno));
      }
      if (n == 0) break;
      if (bytes.size() + static_cast<size_t>(n) > kMaxFileBytes)
        Fail(CArchiveException::fileError, path.string() + " is too large to load");
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
  } catch (const std::bad_alloc&) {
    Fail(CArchiveException::fileError, path.string() + " is too large to load");
  }
  return CArchive(std::move(bytes));
}

bool CArchive::SaveToFile(const std::filesystem::path& path) const {
  namespace fs = std::filesystem;
  // Saving through a link replaces the file it points at, not the link.
  fs::path target = path;
  struct stat link {};
  if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code ec;
    target = fs::weakly_canonical(path, ec);
    if (ec) return false;
  }
  if (target.empty() || !target.has_filename()) return false;

  // The new content goes to a file beside the target and replaces it only
  // once complete, so a failed save leaves the previous file as it was.
  static std::atomic<unsigned> s_serial{0};
  fs::path temp;
  int rawFd = -1;
  for (int attempt = 0; attempt < 100 && rawFd < 0; ++attempt) {
    temp = target;
    temp += "." + std::to_string(getpid()) + "." + std::to_string(s_serial++) + ".tmp";
    rawFd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (rawFd < 0 && errno != EEXIST) return false;
  }
  FileDescriptor fd(rawFd);
  if (fd.get() < 0) return false;

  struct stat old {};
  if (stat(target.c_str(), &old) == 0) fchmod(fd.get(), old.st_mode & 07777);

  const bool written = WriteAll(fd.get(), m_bytes.data(), m_bytes.size()) && fsync(fd.get()) == 0;
  if (!fd.Close() || !written || rename(temp.c_str(), target.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  // Make the rename itself survive a power cut; the save has succeeded either
  // way, so a folder that cannot be synced is not a failure.
  fs::path folder = target.parent_path();
  FileDescriptor dir(open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
  return true;
}

void CArchive::Need(size_t size) {
  if (size > Remaining())
    Fail(CArchiveException::endOfFile,
         "unexpected end of data at byte " + std::to_string(m_pos) + " (" + std::to_string(size) + " more needed)");
}

// --- Store ------------------------------------------------------------------

void CArchive::WriteByte(uint8_t v) { WriteRaw(&v, 1); }

void CArchive::WriteWord(uint16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  WriteRaw(b, sizeof b);
}

void CArchive::WriteDword(uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
  WriteRaw(b, sizeof b);
}

void CArchive::WriteInt32(int32_t v) { WriteDword(static_cast<uint32_t>(v)); }

void CArchive::WriteFloat(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  WriteDword(bits);
}

void CArchive::WriteRaw(const void* data, size_t size) {
  // Writing into the bytes being read would corrupt them for every later read.
  if (!IsStoring()) throw std::logic_error("CArchive: write to a loading archive");
  const auto* p = static_cast<const uint8_t*>(data);
  m_bytes.insert(m_bytes.end(), p, p + size);
}

void CArchive::WriteString(const std::string& text) {
  const size_t n = text.size();
  if (n < kLongStringByte) {
    WriteByte(static_cast<uint8_t>(n));
  } else if (n < kForeignStringWord) {
    WriteByte(kLongStringByte);
    WriteWord(static_cast<uint16_t>(n));
  } else {
    if (n > UINT32_MAX) Fail(CArchiveException::badCount, "text too long to store");
    WriteByte(kLongStringByte);
    WriteWord(kLongStringWord);
    WriteDword(static_cast<uint32_t>(n));
  }
  WriteRaw(text.data(), n);
}

void CArchive::WriteVariant(const VARIANT& value) {
  const bool text = value.vt == VT_BSTR;
  if (!text && !IsPlainValueType(value.vt)) {
    // Not storable: an empty value keeps the reader in step.
    const uint8_t empty[kVariantRecordBytes] = {};
    WriteRaw(empty, sizeof empty);
    return;
  }
  WriteWord(value.vt);
  WriteWord(value.wReserved1);
  WriteWord(value.wReserved2);
  WriteWord(value.wReserved3);
  if (text) {
    // The pointer is meaningless in a file; zeros keep files reproducible and
    // keep addresses of this process out of them.
    const uint8_t noPointer[8] = {};
    WriteRaw(noPointer, sizeof noPointer);
    const uint32_t length = SysStringLen(value.bstrVal);
    std::string latin1(length, '\0');
    for (uint32_t i = 0; i < length; ++i) {
      const OLECHAR unit = value.bstrVal[i];
      latin1[i] = unit > 0xFF ? '?' : static_cast<char>(unit);
    }
    WriteString(latin1);
  } else {
    WriteDword(static_cast<uint32_t>(value.ullVal));
    WriteDword(static_cast<uint32_t>(value.ullVal >> 32));
  }
}

void CArchive::WriteLogFont(const LOGFONT& font) {
  WriteInt32(font.lfHeight);
  WriteInt32(font.lfWidth);
  WriteInt32(font.lfEscapement);
  WriteInt32(font.lfOrientation);
  WriteInt32(font.lfWeight);
  WriteByte(font.lfItalic);
  WriteByte(font.lfUnderline);
  WriteByte(font.lfStrikeOut);
  WriteByte(font.lfCharSet);
  WriteByte(font.lfOutPrecision);
  WriteByte(font.lfClipPrecision);
  WriteByte(font.lfQuality);
  WriteByte(font.lfPitchAndFamily);
  WriteRaw(font.lfFaceName, LF_FACESIZE);
}

void CArchive::WriteFileTime(const FILETIME& time) {
  WriteDword(time.dwLowDateTime);
  WriteDword(time.dwHighDateTime);
}

// --- Load -------------------------------------------------------------------

uint8_t CArchive::ReadByte() {
  Need(1);
  return m_bytes[m_pos++];
}

uint16_t CArchive::ReadWord() {
  Need(2);
  const uint16_t v = static_cast<uint16_t>(m_bytes[m_pos] | (m_bytes[m_pos + 1] << 8));
  m_pos += 2;
  return v;
}

uint32_t CArchive::ReadDword() {
  Need(4);
  const uint32_t v = static_cast<uint32_t>(m_bytes[m_pos]) | (static_cast<uint32_t>(m_bytes[m_pos + 1]) << 8) |
                     (static_cast<uint32_t>(m_bytes[m_pos + 2]) << 16) |
                     (static_cast<uint32_t>(m_bytes[m_pos + 3]) << 24);
  m_pos += 4;
  return v;
}

int32_t CArchive::ReadInt32() { return static_cast<int32_t>(ReadDword()); }

float CArchive::ReadFloat() {
  const uint32_t bits = ReadDword();
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

void CArchive::ReadRaw(void* data, size_t size) {
  Need(size);
  if (size > 0) std::memcpy(data, m_bytes.data() + m_pos, size);
  m_pos += size;
}

std::string CArchive::ReadString() {
  const size_t start = m_pos;
  size_t length = ReadByte();
  if (length == kLongStringByte) {
    const uint16_t word = ReadWord();
    if (word == kForeignStringWord) {
      m_pos = start;
      Fail(CArchiveException::badFormat, "unknown string form at byte " + std::to_string(start));
    }
    length = word == kLongStringWord ? ReadDword() : word;
  }
  // Checked before allocating, so a damaged length cannot ask for gigabytes.
  if (length > Remaining()) {
    m_pos = start;
    Fail(CArchiveException::badCount, "string length " + std::to_string(length) + " at byte " +
                                          std::to_string(start) + " exceeds the data");
  }
  std::string text(reinterpret_cast<const char*>(m_bytes.data() + m_pos), length);
  m_pos += length;
  return text;
}

void CArchive::ReadVariant(VARIANT& value) {
  VariantClear(&value);
  VARIANT record;
  VariantInit(&record);
  record.vt = ReadWord();
  record.wReserved1 = ReadWord();
  record.wReserved2 = ReadWord();
  record.wReserved3 = ReadWord();
  const uint64_t low = ReadDword();
  const uint64_t high = ReadDword();

  if (record.vt == VT_BSTR) {
    const std::string latin1 = ReadString();
    std::u16string units(latin1.size(), u'\0');
    for (size_t i = 0; i < latin1.size(); ++i) units[i] = static_cast<uint8_t>(latin1[i]);
    record.bstrVal = SysAllocStringLen(units.data(), static_cast<uint32_t>(units.size()));
    if (!record.bstrVal && !units.empty()) Fail(CArchiveException::fileError, "out of memory reading a text value");
  } else if (IsPlainValueType(record.vt)) {
    record.ullVal = low | (high << 32);
  } else {
    // A pointer (array, reference, interface) or a type we do not know: the
    // file cannot carry such a value, and its bytes must never be used as one.
    VariantInit(&record);
  }
  value = record;
}

LOGFONT CArchive::ReadLogFont() {
  Need(sizeof(LOGFONT));
  LOGFONT font;
  font.lfHeight = ReadInt32();
  font.lfWidth = ReadInt32();
  font.lfEscapement = ReadInt32();
  font.lfOrientation = ReadInt32();
  font.lfWeight = ReadInt32();
  font.lfItalic = ReadByte();
  font.lfUnderline = ReadByte();
  font.lfStrikeOut = ReadByte();
  font.lfCharSet = ReadByte();
  font.lfOutPrecision = ReadByte();
  font.lfClipPrecision = ReadByte();
  font.lfQuality = ReadByte();
  font.lfPitchAndFamily = ReadByte();
  ReadRaw(font.lfFaceName, LF_FACESIZE);
  // The face name is used as a C string; a file without its terminator must
  // not make readers run past the record.
  font.lfFaceName[LF_FACESIZE - 1] = '\0';
  return font;
}

FILETIME CArchive::ReadFileTime() {
  Need(8);
  FILETIME time;
  time.dwLowDateTime = ReadDword();
  time.dwHighDateTime = ReadDword();
  return time;
}

int32_t CArchive::ReadCount(size_t minRecordBytes) {
  const size_t start = m_pos;
  const int32_t count = ReadInt32();
  const size_t perRecord = minRecordBytes == 0 ? 1 : minRecordBytes;
  if (count < 0 || static_cast<size_t>(count) > Remaining() / perRecord) {
    m_pos = start;
    Fail(CArchiveException::badCount,
         "record count " + std::to_string(count) + " at byte " + std::to_string(start) + " exceeds the data");
  }
  return count;
}
