#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::HasSubstr;

namespace {

class JsonOutputTest : public HostTest {};

// The documents for the world a new host starts with.
TEST_F(JsonOutputTest, DocumentsOfTheDefaultWorld) {
  struct Case {
    std::vector<std::string> words;
    std::string document;
  };
  const Case cases[] = {
      {{"list", "--format", "json"},
       R"([{"id": "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01", "name": "Debian", "status": "started"}, )"
       R"({"id": "9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02", "name": "Windows 11", "status": "stopped"}, )"
       R"({"id": "C2F18B6D-0E4A-4B97-A5D3-71E9F4086B03", "name": "macOS Sonoma", "status": "paused"}, )"
       R"({"id": "E8B45D90-62C1-4A3F-9B7E-0D5F2C8A1E04", "name": "Fedora Server", "status": "stopped"}])"},
      {{"status", "--format=json", "Debian"},
       R"({"id": "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01", "name": "Debian", "status": "started"})"},
      {{"ip-address", "Debian", "--format", "json"},
       R"(["192.168.64.3", "fd00::5054:ff:fe3a:1e01", "fe80::5054:ff:fe3a:1e01"])"},
      {{"ip-address", "Fedora Server", "--format", "json"}, ""},  // stopped: fails, see below
      {{"usb", "list", "--format", "json"},
       R"([{"name": "Magic Keyboard", "vendorId": "05AC", "productId": "024F", "location": 4, )"
       R"("connection": null}, )"
       R"({"name": "SanDisk Ultra", "vendorId": "0781", "productId": "5581", "location": 7, )"
       R"("connection": null}, )"
       R"({"name": "YubiKey 5 NFC", "vendorId": "1050", "productId": "0407", "location": 12, )"
       R"("connection": null}])"},
  };
  for (const auto& c : cases) {
    const auto result = run(c.words);
    if (c.document.empty()) {
      EXPECT_EQ(result.out, "") << c.words[0];
      EXPECT_EQ(result.status, 1) << c.words[0];
      continue;
    }
    EXPECT_EQ(result.err, "") << c.words[0];
    EXPECT_EQ(result.status, 0) << c.words[0];
    EXPECT_EQ(result.out, c.document + "\n") << c.words[0];
    EXPECT_TRUE(json::accept(result.out)) << c.words[0];
  }
}

TEST_F(JsonOutputTest, EmptyListsAreEmptyArrays) {
  setWorld({{"machines", json::array({vm("11111111-1111-4111-8111-111111111111", "bare")})},
            {"usbDevices", json::array()}});
  EXPECT_EQ(run({"usb", "list", "--format", "json"}).out, "[]\n");
  EXPECT_EQ(
      run({"list", "--format", "json"}).out,
      R"([{"id": "11111111-1111-4111-8111-111111111111", "name": "bare", "status": "started"}])"
      "\n");
}

TEST_F(JsonOutputTest, NoMachinesIsAnEmptyArray) {
  setWorld({{"machines", json::array()}});
  const auto result = run({"list", "--format", "json"});
  EXPECT_EQ(result.out, "[]\n");
  EXPECT_EQ(result.status, 0);
}

// Whatever a name holds, the document is valid JSON that reads back as the very text.
TEST_F(JsonOutputTest, TextIsEscapedAsJsonRequires) {
  const std::string awkward[] = {
      "quote \" and backslash \\ here",
      std::string("tab\there, newline\nthere, bell\a, escape\x1b, delete\x7f"),
      "Ünïcode ✓ 日本語 🚀",
  };
  json machines = json::array();
  for (int i = 0; i < 3; ++i) {
    json machine = vm("0000000" + std::to_string(i) + "-0000-4000-8000-000000000000", awkward[i]);
    machine["ipAddresses"] = {awkward[i]};
    machines.push_back(machine);
  }
  setWorld(
      {{"machines", machines},
       {"usbDevices", {{{"id", 3}, {"name", awkward[0]}, {"vendorId", 1}, {"productId", 65535}}}}});

  const auto list = run({"list", "--format", "json"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_THAT(list.out, HasSubstr(R"("name": "quote \" and backslash \\ here")"));
  EXPECT_THAT(
      list.out,
      HasSubstr(R"("name": "tab\there, newline\nthere, bell\u0007, escape\u001b, delete\u007f")"));
  EXPECT_THAT(list.out, HasSubstr("\"name\": \"Ünïcode ✓ 日本語 🚀\""));
  EXPECT_EQ(list.out.find('\n'), list.out.size() - 1);  // one line
  const json parsed = json::parse(list.out);
  ASSERT_EQ(parsed.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(parsed[i]["name"], awkward[i]);
    const auto status = run({"status", "--format", "json", awkward[i]});
    EXPECT_EQ(json::parse(status.out)["name"], awkward[i]);
    const auto addresses = run({"ip-address", "--format", "json", awkward[i]});
    EXPECT_EQ(json::parse(addresses.out), json::array({awkward[i]}));
  }
  const auto usb = run({"usb", "list", "--format", "json"});
  EXPECT_EQ(usb.out, R"([{"name": "quote \" and backslash \\ here", "vendorId": "0001", )"
                     R"("productId": "FFFF", "location": 3, "connection": null}])"
                     "\n");
}

// On any failure nothing reaches standard output, and standard error and the status are those
// of the table. Each fault acts alike on both runs, so the reports must be the same.
TEST_F(JsonOutputTest, AFailureLeavesStandardOutputEmpty) {
  const std::string windows = "9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02";
  setWorld({{"machines",
             {vm("5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01", "Debian"), vm(windows, "Windows 11")}},
            {"usbDevices",
             {{{"id", 4}, {"name", "Keyboard"}, {"vendorId", 1452}, {"productId", 591}},
              {{"id", 5}, {"name", "Mouse"}, {"vendorId", 1452}, {"productId", 592}}}},
            {"faults",
             {{{"member", "Get.Name"}, {"machine", windows}, {"message", "Its name is lost."}},
              {{"member", "Get.Status"}, {"machine", windows}, {"message", "No status."}},
              {{"member", "QueryIp"}, {"machine", windows}, {"message", "No agent."}},
              {{"member", "Get.ProductId"}, {"path", "/org/qor/Scripting1/usb/1"}}}}});
  const std::vector<std::vector<std::string>> cases = {
      {"list"},                      // the second machine's name fails: never half a list
      {"status", "Windows 11"},      // its status fails
      {"status", "Nonexistent"},     // no such machine
      {"ip-address", "Windows 11"},  // the request fails
      {"usb", "list"},               // the second device's product id fails
  };
  for (const auto& words : cases) {
    std::vector<std::string> asJson = words;
    asJson.insert(asJson.end(), {"--format", "json"});
    const auto text = run(words);
    const auto document = run(asJson);
    EXPECT_EQ(document.out, "") << words[0] << " " << words.back();
    EXPECT_NE(document.status, 0) << words[0] << " " << words.back();
    EXPECT_EQ(document.status, text.status) << words[0] << " " << words.back();
    EXPECT_EQ(document.err, text.err) << words[0] << " " << words.back();
  }
}

TEST_F(JsonOutputTest, AnUnknownFormatIsAUsageError) {
  const std::vector<std::vector<std::string>> cases = {{"list", "--format", "xml"},
                                                       {"status", "Debian", "--format=JSON"},
                                                       {"ip-address", "--format", "", "Debian"},
                                                       {"usb", "list", "--format", "yaml"}};
  for (const auto& words : cases) {
    const auto result = run(words);
    EXPECT_EQ(result.status, 64) << words[0];
    EXPECT_EQ(result.out, "") << words[0];
    EXPECT_THAT(result.err, HasSubstr("is invalid for '--format <format>'. Choose one of 'text', "
                                      "'json'"))
        << words[0];
  }
  EXPECT_EQ(labels(), std::vector<std::string>{});  // nothing was sent
  const auto text = run({"status", "Debian", "--format", "text"});
  EXPECT_EQ(text.out, "started\n");
}

}  // namespace
