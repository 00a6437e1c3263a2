#include "host/simulated/default_world.h"

#include <fstream>
#include <system_error>

#include "host/simulated/world_json.h"

namespace qor::host {
namespace {

constexpr const char* kDebianId = "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01";

}  // namespace

Json defaultWorldJson() {
  return Json::parse(R"({
  "machines": [
    {
      "id": "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01",
      "name": "Debian",
      "status": "StSc",
      "backend": "QeMu",
      "ipAddresses": ["192.168.64.3", "fd00::5054:ff:fe3a:1e01", "fe80::5054:ff:fe3a:1e01"],
      "serialPorts": [
        {"id": 0, "interface": "PtTy", "address": "/dev/pts/7", "port": 0},
        {"id": 1, "interface": "TcP ", "address": "127.0.0.1", "port": 4555}
      ]
    },
    {
      "id": "9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02",
      "name": "Windows 11",
      "status": "StSa",
      "backend": "QeMu",
      "agentDelayMs": 1500,
      "ipAddresses": ["192.168.64.4"],
      "serialPorts": []
    },
    {
      "id": "C2F18B6D-0E4A-4B97-A5D3-71E9F4086B03",
      "name": "macOS Sonoma",
      "status": "StSe",
      "backend": "Appl",
      "ipAddresses": ["192.168.64.5", "fe80::1c2f:18ff:fe6d:b03"],
      "serialPorts": [{"id": 0, "interface": "IUnA", "address": "", "port": 0}]
    },
    {
      "id": "E8B45D90-62C1-4A3F-9B7E-0D5F2C8A1E04",
      "name": "Fedora Server",
      "status": "StSa",
      "backend": "QeMu",
      "ipAddresses": [],
      "serialPorts": []
    }
  ],
  "usbDevices": [
    {"id": 4, "name": "Magic Keyboard", "manufacturerName": "Apple Inc.",
     "productName": "Magic Keyboard", "vendorId": 1452, "productId": 591, "connectedTo": null},
    {"id": 7, "name": "SanDisk Ultra", "manufacturerName": "SanDisk",
     "productName": "Ultra USB 3.0", "vendorId": 1921, "productId": 21889,
     "connectedTo": "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01"},
    {"id": 12, "name": "YubiKey 5 NFC", "manufacturerName": "Yubico",
     "productName": "YubiKey OTP+FIDO+CCID", "vendorId": 4176, "productId": 1031,
     "connectedTo": null}
  ],
  "windows": [{"name": "Qor"}],
  "faults": []
})");
}

Result<Done> createDefaultWorld(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) return failed(file.parent_path().string() + ": " + ec.message());
  auto world = worldFromJson(defaultWorldJson(), file.parent_path());
  if (auto* e = failureOf(world)) return *e;  // cannot happen: fixed text
  if (auto saved = saveWorldFile(std::get<World>(world), file); failureOf(saved)) return saved;
  // A few files in the running guest, for `file pull` to find.
  const auto root = file.parent_path() / "guests" / kDebianId;
  std::filesystem::create_directories(root / "etc", ec);
  std::filesystem::create_directories(root / "home" / "user", ec);
  std::ofstream(root / "etc" / "hostname") << "debian\n";
  std::ofstream(root / "etc" / "os-release")
      << "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\nVERSION_ID=\"12\"\n";
  std::ofstream(root / "home" / "user" / "notes.txt")
      << "Files pushed to this guest land in " << root.string() << " on the host.\n";
  return Done{};
}

}  // namespace qor::host
