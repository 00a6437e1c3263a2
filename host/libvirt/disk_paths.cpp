#include "host/libvirt/disk_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "host/libvirt/uri_server.h"
#include "host/libvirt/xml_doc.h"

namespace qor::host::libvirt {
namespace {

Volume volumeOf(virConnectPtr conn, const Disk& disk) {
  if (disk.type == "volume" && disk.pool && disk.volume) {
    Pool pool(virStoragePoolLookupByName(conn, disk.pool->c_str()));
    return Volume(pool ? virStorageVolLookupByName(pool.get(), disk.volume->c_str()) : nullptr);
  }
  if (disk.file) return Volume(virStorageVolLookupByPath(conn, disk.file->c_str()));
  return Volume();
}

// A URI without a host part ("qemu:///session", "qemu+unix:///…") reaches this computer.
bool reachesThisComputer(virConnectPtr conn) {
  const std::string uri = takeString(virConnectGetURI(conn));
  return uri.find("://") != std::string::npos && serverOfUri(uri).empty();
}

std::string extensionOf(const std::string& name) {
  const auto ext = std::filesystem::path(name).extension().string();
  return ext.size() > 1 && ext.size() <= 6 ? ext : std::string();
}

// Names of new files may hold only what a machine's name has that is safe in a file name.
std::string fileBase(const std::string& copyName, const Disk& disk, bool onlyDisk) {
  std::string base;
  for (char c : copyName) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    base += plain ? c : '-';
  }
  if (base.empty() || base.front() == '.') base.insert(0, "copy");
  return onlyDisk ? base : base + "-" + disk.target;
}

std::string formatOf(virStorageVolPtr vol, const Disk& disk) {
  const auto xml = takeString(virStorageVolGetXMLDesc(vol, 0));
  if (auto doc = XmlDoc::parse(xml)) {
    if (auto type = attribute(child(child(doc->root(), "target"), "format"), "type")) return *type;
  }
  return disk.format;
}

Result<DiskCopy> copyVolume(virStorageVolPtr original, const Disk& disk, const std::string& base) {
  Pool pool(virStoragePoolLookupByVolume(original));
  virStorageVolInfo info{};
  if (!pool || virStorageVolGetInfo(original, &info) < 0) return failed(lastErrorMessage());
  const char* originalName = virStorageVolGetName(original);
  const std::string ext = extensionOf(originalName ? originalName : "");
  std::string name;
  for (int n = 1; n <= 1000 && name.empty(); ++n) {
    const std::string candidate = base + (n == 1 ? "" : "-" + std::to_string(n)) + ext;
    Volume taken(virStorageVolLookupByName(pool.get(), candidate.c_str()));
    if (!taken) name = candidate;
  }
  if (name.empty()) return failed("No free name for a copy of disk " + disk.target + ".");
  const std::string xml = "<volume><name>" + name + "</name><capacity unit='bytes'>" +
                          std::to_string(info.capacity) + "</capacity><target><format type='" +
                          formatOf(original, disk) + "'/></target></volume>";
  Volume copy(virStorageVolCreateXMLFrom(pool.get(), xml.c_str(), original, 0));
  if (!copy) return failed(lastErrorMessage());
  DiskCopy c;
  c.target = disk.target;
  c.path = takeString(virStorageVolGetPath(copy.get()));
  if (disk.type == "volume") {
    c.volume = name;
  } else {
    c.file = c.path;
  }
  return c;
}

}  // namespace

std::vector<std::string> diskPathsOf(virConnectPtr conn, const std::string& domainXml) {
  std::vector<std::string> paths;
  for (const auto& disk : disksOf(domainXml).value_or(std::vector<Disk>{})) {
    if (disk.type == "volume") {
      if (Volume vol = volumeOf(conn, disk))
        paths.push_back(takeString(virStorageVolGetPath(vol.get())));
    } else if (disk.file) {
      paths.push_back(*disk.file);
    }
  }
  return paths;
}

Result<DiskCopy> copyDisk(virConnectPtr conn, const Disk& disk, const std::string& copyName,
                          bool onlyDisk) {
  const std::string base = fileBase(copyName, disk, onlyDisk);
  if (Volume vol = volumeOf(conn, disk)) return copyVolume(vol.get(), disk, base);
  if (disk.type != "file" || !disk.file) {
    return failed("The disk " + disk.target + " (" + disk.type +
                  ") cannot be copied: only files and storage pool volumes can.");
  }
  if (!reachesThisComputer(conn)) {
    return failed("The disk " + *disk.file +
                  " is in no storage pool, and the machine is on another computer: it cannot "
                  "be copied.");
  }
  const std::filesystem::path original(*disk.file);
  const std::string ext = original.extension().string();
  std::string path;
  for (int n = 1; n <= 1000 && path.empty(); ++n) {
    auto candidate =
        original.parent_path() / (base + (n == 1 ? "" : "-" + std::to_string(n)) + ext);
    std::error_code ec;
    if (!std::filesystem::exists(candidate, ec)) path = candidate.string();
  }
  if (path.empty()) return failed("No free name for a copy of " + *disk.file + ".");
  if (auto copied = copySparse(*disk.file, path); !succeeded(copied)) {
    return std::get<Failure>(std::move(copied));
  }
  DiskCopy c;
  c.target = disk.target;
  c.file = path;
  c.path = path;
  return c;
}

Result<Done> removeDisk(virConnectPtr conn, const std::string& path) {
  if (Volume vol{virStorageVolLookupByPath(conn, path.c_str())}) {
    if (virStorageVolDelete(vol.get(), 0) < 0) return failed(path + ": " + lastErrorMessage());
    return Done{};
  }
  std::error_code ec;
  std::filesystem::remove(path, ec);
  if (ec) return failed(path + ": " + ec.message());
  return Done{};
}

Result<Done> copySparse(const std::string& from, const std::string& to) {
  const auto fail = [&](const std::string& what) { return what + ": " + std::strerror(errno); };
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return failed(fail(from));
  struct stat st {};
  ::fstat(in, &st);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    auto e = failed(fail(to));
    ::close(in);
    return e;
  }
  std::optional<std::string> error;
  std::vector<char> buffer(1 << 20);
  for (off_t pos = 0; !error && pos < st.st_size;) {
    off_t data = ::lseek(in, pos, SEEK_DATA);
    if (data < 0) break;  // only a hole is left
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0) hole = st.st_size;
    for (off_t at = data; at < hole;) {
      const auto want =
          static_cast<std::size_t>(std::min<off_t>(hole - at, static_cast<off_t>(buffer.size())));
      const ssize_t got = ::pread(in, buffer.data(), want, at);
      if (got <= 0 || ::pwrite(out, buffer.data(), static_cast<std::size_t>(got), at) != got) {
        error = fail(got <= 0 ? from : to);
        break;
      }
      at += got;
    }
    pos = hole;
  }
  if (!error && ::ftruncate(out, st.st_size) < 0) error = fail(to);
  if (!error && ::fchown(out, st.st_uid, st.st_gid) < 0 && errno != EPERM) error = fail(to);
  if (::close(out) < 0 && !error) error = fail(to);
  ::close(in);
  if (error) {
    ::unlink(to.c_str());
    return failed(*error);
  }
  return Done{};
}

}  // namespace qor::host::libvirt
