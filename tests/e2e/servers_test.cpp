// One host over several libvirt connections, each a world of libvirt's test driver (a test URI
// naming a file opens a world of its own), and one connection that cannot be reached.
#include <fstream>

#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::HasSubstr;

namespace {

constexpr const char* kHeader = "UUID                                 Status   Name\n";
constexpr const char* kA1 = "AAAAAAAA-0000-4000-8000-000000000001";
constexpr const char* kA2 = "AAAAAAAA-0000-4000-8000-000000000002";
constexpr const char* kB1 = "BBBBBBBB-0000-4000-8000-000000000001";

class ServersTest : public HostTest {
 protected:
  // A test-driver world with these machines (id, name), all shut off.
  std::string world(const std::string& file,
                    const std::vector<std::pair<std::string, std::string>>& machines) {
    const auto path = dir() / file;
    std::ofstream out(path);
    out << "<node>\n";
    for (const auto& [id, name] : machines) {
      out << "<domain type='test' xmlns:test='http://libvirt.org/schemas/domain/test/1.0'>"
          << "<name>" << name << "</name><uuid>" << id << "</uuid><memory>65536</memory>"
          << "<os><type>hvm</type></os><test:runstate>5</test:runstate></domain>\n";
    }
    out << "</node>\n";
    return "test://" + path.string();
  }
  // The host qorctl launches takes its connections from host.conf, in this order.
  void configure(const std::vector<std::string>& uris) {
    std::filesystem::create_directories(dir() / ".config" / "qor");
    std::ofstream conf(dir() / ".config" / "qor" / "host.conf");
    conf << "backend = libvirt\n";
    for (const auto& uri : uris) conf << "connect = " << uri << "\n";
  }
  // A connection that fails at once: a daemon socket that is not there.
  std::string nowhere() const {
    return "qemu+unix:///session?socket=" + (dir() / "no-daemon.sock").string();
  }
};

TEST_F(ServersTest, ListIsGroupedByConnectionInTheConfiguredOrder) {
  const auto one = world("one.xml", {{kA2, "a2"}, {kA1, "a1"}});
  const auto two = world("two.xml", {{kB1, "b1"}});
  configure({two, one});
  const auto result = run({"list"});
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  // Within a connection, libvirt's order: by name.
  EXPECT_EQ(result.out, std::string(kHeader) + kB1 + " stopped  b1\n" + kA1 + " stopped  a1\n" +
                            kA2 + " stopped  a2\n");
  const auto status = run({"status", "a1"});
  EXPECT_EQ(status.out, "stopped\n");
  EXPECT_EQ(status.status, 0);
}

TEST_F(ServersTest, ANameOnTwoConnectionsIsRefusedWithTheReason) {
  const auto one = world("one.xml", {{kA1, "web"}});
  const auto two = world("two.xml", {{kB1, "web"}});
  configure({one, two});
  for (const auto& command :
       {std::vector<std::string>{"status", "web"}, std::vector<std::string>{"start", "web"}}) {
    const auto result = run(command);
    EXPECT_EQ(result.status, 1) << command[0];
    EXPECT_EQ(result.out, "") << command[0];
    EXPECT_THAT(result.err, HasSubstr("Machines on " + one + " and " + two +
                                      " share the name 'web', so it names none of them: use the "
                                      "machine's UUID."))
        << command[0];
    EXPECT_THAT(result.err, HasSubstr("Error: Virtual machine not found.")) << command[0];
  }
  // Nothing was started, and the UUID names each one.
  EXPECT_EQ(run({"list"}).out,
            std::string(kHeader) + kA1 + " stopped  web\n" + kB1 + " stopped  web\n");
  const auto byId = run({"status", kB1});
  EXPECT_EQ(byId.out, "stopped\n");
  EXPECT_EQ(byId.status, 0);
}

TEST_F(ServersTest, AConnectionThatIsDownIsNamedAndTheListFailsButIsComplete) {
  const auto one = world("one.xml", {{kA1, "a1"}});
  const auto two = world("two.xml", {{kB1, "b1"}});
  configure({one, nowhere(), two});
  const std::string missing =
      "Error: The machines on " + nowhere() + " are not listed: it cannot be reached.\n";

  const auto table = run({"list"});
  EXPECT_EQ(table.out, std::string(kHeader) + kA1 + " stopped  a1\n" + kB1 + " stopped  b1\n");
  EXPECT_EQ(table.err, missing);
  EXPECT_EQ(table.status, 1);

  const auto document = run({"list", "--format", "json"});
  EXPECT_EQ(json::parse(document.out),
            json::parse(std::string(R"([{"id": ")") + kA1 +
                        R"(", "name": "a1", "status": "stopped"}, {"id": ")" + kB1 +
                        R"(", "name": "b1", "status": "stopped"}])"));
  EXPECT_EQ(document.err, missing);
  EXPECT_EQ(document.status, 1);

  // A machine of a reachable connection is served; one found nowhere may be on the missing
  // connection, and the user is told that it cannot be reached.
  EXPECT_EQ(run({"status", "b1"}).status, 0);
  const auto unknown = run({"status", "elsewhere"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_THAT(unknown.err, HasSubstr("Cannot reach libvirt at " + nowhere()));
}

}  // namespace
