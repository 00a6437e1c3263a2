#pragma once

// Reading and rewriting libvirt's domain XML as plain text in, plain values out: no state, no
// libvirt calls, never reaches the network; safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::host::libvirt {

// The namespace of the host's own element in a domain's <metadata>.
inline constexpr const char* kMetadataNamespace = "http://qor.invalid/libvirt/host/1";
inline constexpr const char* kMetadataPrefix = "qor";

// A serial port or console as the host describes it.
struct SerialPort {
  enum class Kind { pty, tcp, unavailable };
  std::int64_t id = 0;  // the target port
  Kind kind = Kind::unavailable;
  std::optional<std::string> address;  // a pty's path, a tcp port's host
  std::optional<std::int64_t> port;    // a tcp port's number; 0 for a pty
};

// The serial ports of a domain, then its consoles that are not a view of one of them (a console
// with target type "serial" is the serial port it names). A port is only reachable while the
// machine runs: a stopped machine's ports are all unavailable. nullopt: XML not readable.
std::optional<std::vector<SerialPort>> serialPortsOf(std::string_view domainXml, bool running);

struct Disk {
  std::string target;               // vda
  std::string device;               // disk, cdrom, floppy, lun
  std::string type;                 // file, block, volume, network, dir
  std::optional<std::string> file;  // a file's or block device's path
  std::optional<std::string> pool;  // a volume's pool and name
  std::optional<std::string> volume;
  std::string format;  // the driver's type: qcow2, raw, …
  bool readOnly = false;
  bool shareable = false;
  // A disk the machine writes to and that is its own: a copy gets a copy of it.
  bool writable() const {
    return device != "cdrom" && device != "floppy" && !readOnly && !shareable;
  }
};
std::optional<std::vector<Disk>> disksOf(std::string_view domainXml);

// Where the copy of one disk lies: a file, or a volume of a pool.
struct DiskCopy {
  std::string target;
  std::optional<std::string> file;
  std::optional<std::string> volume;  // in the original's pool, for a disk of type volume
  std::string path;                   // its file's path either way, recorded in the metadata
};

// The definition of a copy of an inactive definition: its name, no UUID and no MAC addresses
// (libvirt makes new ones), no NVRAM file of its own yet (libvirt makes one from the template),
// each copied disk pointing at its copy, and the host's metadata naming the copies' paths as its
// own. Disks not in `copies` stay shared.
std::optional<std::string> copyDefinition(std::string_view domainXml, const std::string& name,
                                          const std::vector<DiskCopy>& copies);

// The same definition with every writable disk transient: a run whose disk changes are thrown
// away when it stops.
std::optional<std::string> disposableDefinition(std::string_view domainXml);

// The disk paths the host's metadata says it created for this domain (none when it has none).
std::vector<std::string> ownedDiskPaths(std::string_view domainXml);

}  // namespace qor::host::libvirt
