#pragma once

// A machine's disks on the computer libvirt runs on: their paths, copies and removal. The calls
// that copy or remove block for as long as the disk takes: worker threads only, never the loop.
// No state.

#include <optional>
#include <string>
#include <vector>

#include "host/backend/result.h"
#include "host/libvirt/domain_xml.h"
#include "host/libvirt/handles.h"

namespace qor::host::libvirt {

// The paths of a definition's disks: a file's or block device's own, a pool volume's path.
std::vector<std::string> diskPathsOf(virConnectPtr conn, const std::string& domainXml);

// Makes a copy of one writable disk for the machine `copyName`: through the disk's storage pool
// when it is a pool volume (libvirt copies it, sparse, and the copy belongs to the daemon's
// user), else as a sparse file next to it, for a connection to this computer only.
Result<DiskCopy> copyDisk(virConnectPtr conn, const Disk& disk, const std::string& copyName,
                          bool onlyDisk);

// Removes a disk copy the host made: its pool volume, else its file. The failure's message
// names the path.
Result<Done> removeDisk(virConnectPtr conn, const std::string& path);

// Copies a file keeping its holes; the copy gets the original's mode and, where allowed, owner.
Result<Done> copySparse(const std::string& from, const std::string& to);

}  // namespace qor::host::libvirt
