// Registration of the OPC server on a Linux desktop: a small record per
// ProgID under the user's XDG data folder, which OPC front ends and the
// program's own tools read to find the server's executable, and a systemd
// user unit that runs the program headless as a service.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "serverkit/serverkit.h"

namespace serverkit {
namespace {

constexpr const char* kRecordSection = "[OPC Server]";
constexpr const char* kUnitName = "plexmar.service";
constexpr const char* kUnitMarker = "# Installed for the OPC server ";

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const passwd* entry = getpwuid(getuid());
  if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') return entry->pw_dir;
  return {};
}

// An XDG base folder: the variable when it holds an absolute path (relative
// ones are to be ignored), else the fallback under the home folder.
std::string XdgFolder(const char* variable, const char* underHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  std::string home = HomeFolder();
  if (home.empty()) return {};
  return home + "/" + underHome;
}

// ProgIDs become file names: only plain names, never a path.
bool IsPlainName(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  std::string_view text(name);
  if (text == "." || text == ".." || text.size() > 200) return false;
  for (char c : text) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// A record value must stay on its own line.
bool IsSingleLine(const char* text) {
  return text != nullptr && std::strpbrk(text, "\r\n") == nullptr;
}

bool MakeFolders(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Writes beside the target and renames over it, so a reader never sees half a
// file and a failed write leaves the old one in place.
bool WriteFileAtomically(const std::string& path, const std::string& contents) {
  if (!MakeFolders(FolderOf(path))) return false;
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << contents;
    out.flush();
    if (!out) {
      out.close();
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// systemd expands '%' specifiers in most settings and '$' variables in
// command lines; both are doubled so paths and texts stay literal.
std::string EscapeForUnit(std::string_view text, bool commandLine) {
  std::string out;
  for (char c : text) {
    if (c == '%') out += "%%";
    else if (commandLine && c == '$') out += "$$";
    else if (commandLine && (c == '"' || c == '\\')) { out += '\\'; out += c; }
    else out += c;
  }
  return out;
}

std::string UnitFolder() {
  std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
  return config.empty() ? std::string() : config + "/systemd/user";
}

}  // namespace

std::string RegistrationRecordPath(const char* progId) {
  if (!IsPlainName(progId)) return {};
  std::string data = XdgFolder("XDG_DATA_HOME", ".local/share");
  if (data.empty()) return {};
  return data + "/plexmar/opc-servers/" + progId + ".server";
}

std::string ServiceUnitPath() {
  std::string folder = UnitFolder();
  return folder.empty() ? std::string() : folder + "/" + kUnitName;
}

bool WriteRegistration(const char* clsid, const char* progId, const char* description,
                       const char* executablePath) {
  const std::string path = RegistrationRecordPath(progId);
  if (path.empty()) return false;
  if (!IsSingleLine(clsid) || !IsSingleLine(description) || !IsSingleLine(executablePath))
    return false;
  if (*clsid == '\0' || *executablePath == '\0') return false;
  std::ostringstream record;
  record << "# Plexmar OPC server registration\n"
         << kRecordSection << "\n"
         << "CLSID=" << clsid << "\n"
         << "ProgID=" << progId << "\n"
         << "Description=" << description << "\n"
         << "Executable=" << executablePath << "\n";
  // Where OPC UA clients on this machine (and others) reach the server.
  const std::string endpoint = ConfiguredOpcEndpointUrl();
  if (!endpoint.empty()) record << "Endpoint=" << endpoint << "\n";
  return WriteFileAtomically(path, record.str());
}

bool ReadRegistration(const char* progId, Registration& registration) {
  const std::string path = RegistrationRecordPath(progId);
  if (path.empty()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  Registration found;
  bool inSection = false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inSection = line == kRecordSection;
      continue;
    }
    if (!inSection) continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    if (key == "CLSID") found.clsid = std::move(value);
    else if (key == "ProgID") found.progId = std::move(value);
    else if (key == "Description") found.description = std::move(value);
    else if (key == "Executable") found.executable = std::move(value);
    else if (key == "Endpoint") found.endpoint = std::move(value);
  }
  if (found.clsid.empty() || found.progId != progId || found.executable.empty()) return false;
  registration = std::move(found);
  return true;
}

bool RemoveRegistration(const char* clsid, const char* progId) {
  const std::string path = RegistrationRecordPath(progId);
  if (path.empty()) return false;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return errno == ENOENT;

  Registration existing;
  const bool readable = ReadRegistration(progId, existing);
  // Another server that took the same ProgID keeps its record.
  if (readable && clsid != nullptr && !EqualIgnoringCase(existing.clsid, clsid)) return false;
  if (std::remove(path.c_str()) != 0) return false;

  // A service unit installed for this server would start a program that is no
  // longer registered; it goes with the record, and so does its enabling link.
  const std::string unit = ServiceUnitPath();
  std::ifstream unitFile(unit);
  std::string firstLine;
  if (unitFile && std::getline(unitFile, firstLine) &&
      firstLine == std::string(kUnitMarker) + progId) {
    unitFile.close();
    std::remove(unit.c_str());
    const std::string wanted = UnitFolder() + "/default.target.wants/" + kUnitName;
    char target[4096];
    const ssize_t length = readlink(wanted.c_str(), target, sizeof target - 1);
    if (length > 0) {
      target[length] = '\0';
      if (std::string(target) == unit) unlink(wanted.c_str());
    }
  }
  return true;
}

bool InstallServiceUnit(const char* progId) {
  Registration registration;
  if (!ReadRegistration(progId, registration)) return false;
  const std::string path = ServiceUnitPath();
  if (path.empty()) return false;
  std::ostringstream unit;
  unit << kUnitMarker << progId << "\n"
       << "[Unit]\n"
       << "Description=" << EscapeForUnit(registration.description, false) << "\n"
       << "After=network.target\n"
       << "\n"
       << "[Service]\n"
       << "Type=simple\n"
       // No display on a service: the program runs on Qt's offscreen platform.
       << "Environment=QT_QPA_PLATFORM=offscreen\n"
       << "ExecStart=\"" << EscapeForUnit(registration.executable, true) << "\"\n"
       << "Restart=on-failure\n"
       << "\n"
       << "[Install]\n"
       << "WantedBy=default.target\n";
  return WriteFileAtomically(path, unit.str());
}

}  // namespace serverkit

void RegisterOpcServer(const char* clsid, const char* progId, const char* description,
                       const char* executablePath) {
  serverkit::WriteRegistration(clsid, progId, description, executablePath);
}

void UnregisterOpcServer(const char* clsid, const char* progId) {
  serverkit::RemoveRegistration(clsid, progId);
}

void RegisterOpcServerService(const char* progId) { serverkit::InstallServiceUnit(progId); }
