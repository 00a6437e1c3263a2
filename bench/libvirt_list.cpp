// The floor for "qorctl list" against the libvirt backend: the libvirt calls the host makes for
// a list, in a bare program: connect, list every domain and those with a saved state, ask each
// domain's state, print the same table.
#include <libvirt/libvirt.h>
#include <libvirt/virterror.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: libvirt_list URI\n");
    return 64;
  }
  virSetErrorFunc(nullptr, [](void*, virErrorPtr) {});
  virConnectPtr conn = virConnectOpen(argv[1]);
  if (!conn) {
    std::fprintf(stderr, "libvirt_list: %s\n", virGetLastErrorMessage());
    return 1;
  }
  virDomainPtr* all = nullptr;
  const int n = virConnectListAllDomains(conn, &all, 0);
  virDomainPtr* saved = nullptr;
  const int m = virConnectListAllDomains(conn, &saved, VIR_CONNECT_LIST_DOMAINS_MANAGEDSAVE);
  std::set<std::string> withImage;
  char uuid[VIR_UUID_STRING_BUFLEN];
  for (int i = 0; i < m; ++i) {
    if (virDomainGetUUIDString(saved[i], uuid) == 0) withImage.insert(uuid);
    virDomainFree(saved[i]);
  }
  struct Row {
    std::string name, uuid;
    int state;
  };
  std::vector<Row> rows;
  for (int i = 0; i < n; ++i) {
    int state = 0;
    int reason = 0;
    if (virDomainGetState(all[i], &state, &reason, 0) == 0 &&
        virDomainGetUUIDString(all[i], uuid) == 0) {
      std::string upper(uuid);
      for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (withImage.count(uuid) && state == VIR_DOMAIN_SHUTOFF) state = VIR_DOMAIN_PAUSED;
      rows.push_back({virDomainGetName(all[i]), upper, state});
    }
    virDomainFree(all[i]);
  }
  std::free(all);
  std::free(saved);
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.name < b.name; });
  std::printf("UUID                                 Status   Name\n");
  for (const auto& r : rows) {
    const char* word = r.state == VIR_DOMAIN_RUNNING  ? "started"
                       : r.state == VIR_DOMAIN_PAUSED ? "paused"
                                                      : "stopped";
    std::printf("%s %-8s %s\n", r.uuid.c_str(), word, r.name.c_str());
  }
  virConnectClose(conn);
  return 0;
}
