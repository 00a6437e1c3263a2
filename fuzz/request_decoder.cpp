#include "fuzz/request_decoder.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

#include "contract/codes.h"
#include "contract/object_path.h"
#include "contract/vocabulary.h"
#include "fuzz/checks.h"

namespace qor::fuzz {
namespace {

using contract::fourCharCode;
using contract::Value;

constexpr std::string_view kRoot = "/org/qor/Scripting1";
constexpr std::string_view kBasicTypes = "ybnqiuxtdsog";

constexpr std::array kInterfaces = {
    "",
    "org.freedesktop.DBus.Properties",
    "org.freedesktop.DBus.Introspectable",
    "org.freedesktop.DBus.Peer",
    "org.qor.Scripting1.Application",
    "org.qor.Scripting1.VirtualMachine",
    "org.qor.Scripting1.SerialPort",
    "org.qor.Scripting1.GuestFile",
    "org.qor.Scripting1.GuestProcess",
    "org.qor.Scripting1.UsbDevice",
    "org.qor.Scripting1.Window",
};

// What an argument of the contract usually holds, one letter per complete type of a member's
// signature: the decoder gives such values first and any value of the type otherwise.
enum Hint : char {
  kAny = '-',
  kInterface = 'I',
  kProperty = 'P',
  kGuestPath = 'G',
  kOpenMode = 'M',
  kProgram = 'X',
  kArguments = 'A',
  kEnvironment = 'E',
  kBase64 = 'B',
  kOffset = 'O',
  kWhence = 'W',
  kLength = 'L',
  kStopMethod = 'S',
  kSaving = 'C',
  kMachine = 'V',
  kDuplicate = 'R',
};

// The members of the contract with their in-signatures and argument hints; requests mostly
// carry the arguments of their member, so that they get past the signature check.
struct Member {
  const char* name;
  const char* signature;
  const char* hints;
};
constexpr std::array<Member, 22> kMembers = {{
    {"Get", "ss", "IP"},
    {"GetAll", "s", "I"},
    {"Set", "ssv", "IP-"},
    {"Introspect", "", ""},
    {"Ping", "", ""},
    {"SetAutoTerminate", "b", "-"},
    {"Start", "bb", "--"},
    {"Suspend", "b", "-"},
    {"Stop", "u", "S"},
    {"Delete", "", ""},
    {"Duplicate", "a{sv}", "R"},
    {"OpenFile", "sub", "GM-"},
    {"Execute", "sasassbb", "XAEB--"},
    {"QueryIp", "", ""},
    {"Read", "xuxbb", "OWL--"},
    {"Write", "sxubb", "BOW--"},
    {"Close", "", ""},
    {"Close", "us", "C-"},
    {"GetResult", "", ""},
    {"Connect", "o", "V"},
    {"Disconnect", "", ""},
    {"GetMachineId", "", ""},
}};

constexpr std::array kProperties = {
    "Name",      "Frontmost", "Version",       "VirtualMachines", "UsbDevices",       "Windows",
    "Id",        "Backend",   "Status",        "SerialPorts",     "Interface",        "Address",
    "Port",      "VendorId",  "Index",         "Visible",         "ManufacturerName", "ProductName",
    "ProductId", "name",      "configuration",
};

constexpr std::array kOpenModes = {fourCharCode("OpRo"), fourCharCode("OpWo")};
constexpr std::array kStopMethods = {fourCharCode("FoRc"), fourCharCode("KiLl"),
                                     fourCharCode("ReQu")};
constexpr std::array kSavings = {fourCharCode("no  "), fourCharCode("yes "), fourCharCode("ask ")};

constexpr std::array<std::int64_t, 9> kIntegers = {
    0,
    1,
    -1,
    2,
    4096,
    16 * 1024 * 1024,
    16 * 1024 * 1024 + 1,
    std::numeric_limits<std::int64_t>::min(),
    std::numeric_limits<std::int64_t>::max(),
};

constexpr std::array kPrograms = {"true", "/bin/true", "./run", "sh", "", "bin/../../x", "fail"};
constexpr std::array kEnvironmentEntries = {"A=B", "PATH=", "PATH=.:/bin", "PATH", "=", ""};
constexpr std::array kBase64Texts = {"aGk=", "", "aGk", "!!!!", "aGk=aGk=", "////", "AA=="};

class Decoder {
 public:
  Decoder(FuzzedDataProvider& in, const Vocabulary& vocabulary)
      : in_(in), vocabulary_(vocabulary) {}

  // Choices default to the realistic side, since FuzzedDataProvider answers 0 and false once
  // the input is used up.
  host::Request request() {
    host::Request r;
    r.path = path();
    if (in_.ConsumeBool()) r.interface = interfaceName();
    const Member& member = in_.PickValueInArray(kMembers);
    r.member = in_.ConsumeIntegralInRange(0, 7) == 7 ? nameText(20) : member.name;
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:
      case 1:
        argumentsOf(member.signature, member.hints, r.args, 3);
        break;
      case 2: {
        const Member& other = in_.PickValueInArray(kMembers);
        argumentsOf(other.signature, other.hints, r.args, 3);
        break;
      }
      default: {
        const int count = in_.ConsumeIntegralInRange(0, 4);
        for (int i = 0; i < count; ++i) r.args.push_back(value(type(2), 3));
      }
    }
    for (const auto& a : r.args) r.signature += a.signature;
    // A signature that disagrees with the arguments never comes from the bus, but the host
    // must refuse it all the same.
    if (in_.ConsumeIntegralInRange(0, 15) == 15) r.signature = type(1);
    return r;
  }

 private:
  template <class T>
  const T& pick(const std::vector<T>& list) {
    return list[in_.ConsumeIntegralInRange<std::size_t>(0, list.size() - 1)];
  }

  // True now and then: take any value instead of the usual one.
  bool unusual() { return in_.ConsumeIntegralInRange(0, 3) == 3; }

  // Characters a path element, member or interface element may hold.
  std::string nameText(std::size_t maxLength) {
    std::string raw = in_.ConsumeRandomLengthString(maxLength);
    std::string out;
    for (char c : raw) {
      const bool plain =
          (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
      out += plain ? c : '_';
    }
    return out.empty() ? "x" : out;
  }

  std::string number() {
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:  // files and processes are numbered from 1
        return std::to_string(in_.ConsumeIntegralInRange(1, 4));
      case 1:
        return std::to_string(in_.ConsumeIntegral<std::uint64_t>());
      case 2:  // USB devices from 0; leading zeros name nothing
        return (in_.ConsumeBool() ? "0" : "") + std::to_string(in_.ConsumeIntegralInRange(0, 9));
      default:
        return nameText(24);
    }
  }

  std::string machinePath() {
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:
        return contract::machinePathWithID(pick(vocabulary_.machineIds));
      case 1:
        return std::string(kRoot) + "/vm/name/" +
               contract::escapePathElement(pick(vocabulary_.machineNames));
      case 2:
        return std::string(kRoot) + "/vm/key/" + number();
      default:
        return std::string(kRoot) + "/vm/id/" + nameText(40);
    }
  }

  std::string path() {
    std::string p;
    switch (in_.ConsumeIntegralInRange(0, 11)) {
      case 0:
        p = kRoot;
        break;
      case 1:
      case 2:
        p = machinePath();
        break;
      case 3:
      case 4: {
        static constexpr std::array kBelow = {"/serial/", "/file/", "/process/"};
        p = machinePath() + in_.PickValueInArray(kBelow) + number();
        break;
      }
      case 5:
        p = std::string(kRoot) + "/usb/" + number();
        break;
      case 6:
        p = std::string(kRoot) + "/window/" + number();
        break;
      case 7: {
        static constexpr std::array kNodes = {"/", "/org", "/org/qor", "/org/qor/Scripting1/vm",
                                              "/org/qor/Scripting1/vm/id"};
        p = in_.PickValueInArray(kNodes);
        break;
      }
      default:
        // What a client mostly does: use a path the host handed out.
        p = vocabulary_.handedOut.empty() ? std::string(kRoot) : pick(vocabulary_.handedOut);
        break;
    }
    // More elements below any of them, now and then.
    const int extra = in_.ConsumeIntegralInRange(0, 7) == 7 ? in_.ConsumeIntegralInRange(1, 2) : 0;
    for (int i = 0; i < extra; ++i) p += (p == "/" ? "" : "/") + nameText(16);
    return p;
  }

  std::string interfaceName() {
    if (in_.ConsumeIntegralInRange(0, 7) != 7) return in_.PickValueInArray(kInterfaces);
    return nameText(12) + "." + nameText(12);
  }

  char basicType() {
    return kBasicTypes[in_.ConsumeIntegralInRange<std::size_t>(0, kBasicTypes.size() - 1)];
  }

  // A complete single type, nested at most `depth` containers deep.
  std::string type(int depth) {
    switch (in_.ConsumeIntegralInRange(0, depth > 0 ? 3 : 0)) {
      case 0:
        return std::string(1, basicType());
      case 1:
        return in_.ConsumeBool() ? "a" + type(depth - 1) : "v";
      case 2:
        return "a{" + std::string(1, basicType()) + type(depth - 1) + "}";
      default: {
        std::string s = "(";
        const int count = in_.ConsumeIntegralInRange(1, 3);
        for (int i = 0; i < count; ++i) s += type(depth - 1);
        return s + ")";
      }
    }
  }

  // The length of the first complete type in a well-formed `signature`.
  static std::size_t firstTypeLength(std::string_view signature) {
    std::size_t end = 0;
    int depth = 0;
    for (;;) {
      const char c = signature[end++];
      if (end >= signature.size()) return end;
      if (c == 'a') continue;  // its element type follows
      if (c == '(' || c == '{') ++depth;
      if (c == ')' || c == '}') --depth;
      if (depth == 0) return end;
    }
  }

  void argumentsOf(std::string_view signature, std::string_view hints, std::vector<Value>& out,
                   int depth) {
    for (std::size_t i = 0; !signature.empty(); ++i) {
      const std::size_t length = firstTypeLength(signature);
      const Hint hint = i < hints.size() ? static_cast<Hint>(hints[i]) : kAny;
      out.push_back(value(std::string(signature.substr(0, length)), depth, hint));
      signature.remove_prefix(length);
    }
  }

  std::string anyText() {
    switch (in_.ConsumeIntegralInRange(0, 5)) {
      case 0:
        return in_.PickValueInArray(kProperties);
      case 1:
        return pick(vocabulary_.guestPaths);
      case 2:
        return in_.ConsumeBool() ? pick(vocabulary_.machineIds) : pick(vocabulary_.machineNames);
      case 3:
        return in_.PickValueInArray(kInterfaces);
      default:
        return toBusText(in_.ConsumeRandomLengthString(64));
    }
  }

  std::string text(Hint hint) {
    if (unusual()) return anyText();
    switch (hint) {
      case kInterface:
        return in_.PickValueInArray(kInterfaces);
      case kProperty:
        return in_.PickValueInArray(kProperties);
      case kGuestPath:
        return pick(vocabulary_.guestPaths);
      case kProgram:
        return in_.PickValueInArray(kPrograms);
      case kArguments:
        return in_.ConsumeBool() ? "fail" : "-c";
      case kEnvironment:
        return in_.PickValueInArray(kEnvironmentEntries);
      case kBase64:
        return in_.PickValueInArray(kBase64Texts);
      default:
        return anyText();
    }
  }

  std::uint32_t code32(Hint hint) {
    if (unusual()) return in_.ConsumeIntegral<std::uint32_t>();
    switch (hint) {
      case kOpenMode:
        return in_.PickValueInArray(kOpenModes);
      case kStopMethod:
        return in_.PickValueInArray(kStopMethods);
      case kWhence:
        return fourCharCode("CuRr");
      case kSaving:
        return in_.PickValueInArray(kSavings);
      default:
        return in_.ConsumeIntegral<std::uint32_t>();
    }
  }

  std::int64_t integer(Hint hint) {
    if (unusual()) {
      return in_.ConsumeBool() ? in_.ConsumeIntegral<std::int64_t>()
                               : in_.PickValueInArray(kIntegers);
    }
    if (hint == kOffset) return in_.ConsumeIntegralInRange<std::int64_t>(0, 8);
    if (hint == kLength) return in_.ConsumeIntegralInRange<std::int64_t>(4096, 4200);
    return in_.PickValueInArray(kIntegers);
  }

  // {"configuration": <{"name": <s>}>}, as a client asks for a copy.
  Value duplicateRecord() {
    contract::RecordBuilder configuration;
    if (in_.ConsumeBool()) configuration.add("name", Value::string(anyText()));
    contract::RecordBuilder properties;
    properties.add("configuration", std::move(configuration).build());
    return std::move(properties).build();
  }

  Value value(const std::string& signature, int depth, Hint hint = kAny) {
    switch (signature.front()) {
      case 'b':
        return Value::boolean(in_.ConsumeBool());
      case 'y':
        return {"y", std::uint64_t{in_.ConsumeIntegral<std::uint8_t>()}};
      case 'n':
        return {"n", std::int64_t{in_.ConsumeIntegral<std::int16_t>()}};
      case 'q':
        return {"q", std::uint64_t{in_.ConsumeIntegral<std::uint16_t>()}};
      case 'i':
        return Value::int32(in_.ConsumeIntegral<std::int32_t>());
      case 'u':
        return Value::uint32(code32(hint));
      case 'x':
        return Value::int64(integer(hint));
      case 't':
        return {"t", in_.ConsumeIntegral<std::uint64_t>()};
      case 'd':
        return {"d", in_.ConsumeFloatingPoint<double>()};
      case 's':
        return Value::string(text(hint));
      case 'o':
        return Value::objectPath(hint == kMachine && !unusual() ? machinePath() : path());
      case 'g':
        return {"g", in_.ConsumeBool() ? type(2) : in_.PickValueInArray(kMembers).signature};
      case 'v': {
        // Mostly the types the contract puts in variants.
        static constexpr std::array kInner = {"s", "b", "x", "u", "a{sv}", "ao", "as"};
        const std::string inner =
            in_.ConsumeBool() ? type(depth > 0 ? 2 : 0) : std::string(in_.PickValueInArray(kInner));
        return Value::variant(value(inner, depth - 1));
      }
      case 'a': {
        if (hint == kDuplicate && !unusual()) return duplicateRecord();
        const std::string element = signature.substr(1);
        const Hint elementHint = hint == kArguments || hint == kEnvironment ? hint : kAny;
        std::vector<Value> elements;
        const int count = depth > 0 ? in_.ConsumeIntegralInRange(0, 4) : 0;
        for (int i = 0; i < count; ++i) elements.push_back(value(element, depth - 1, elementHint));
        return Value::array(element, std::move(elements));
      }
      case '{': {
        std::vector<Value> pair;
        pair.push_back(value(signature.substr(1, 1), depth));
        pair.push_back(value(signature.substr(2, signature.size() - 3), depth));
        return {signature, std::move(pair)};
      }
      default: {  // '('
        std::vector<Value> fields;
        argumentsOf(std::string_view(signature).substr(1, signature.size() - 2), "", fields,
                    depth - 1);
        return {signature, std::move(fields)};
      }
    }
  }

  FuzzedDataProvider& in_;
  const Vocabulary& vocabulary_;
};

}  // namespace

void collectObjectPaths(const contract::Value& value, Vocabulary& vocabulary) {
  if (const auto* text = contract::textOf(value); text && value.type() == 'o') {
    vocabulary.handedOut.push_back(*text);
  } else if (const auto* elements = contract::elementsOf(value)) {
    for (const auto& e : *elements) collectObjectPaths(e, vocabulary);
  }
}

host::Request decodeRequest(FuzzedDataProvider& in, const Vocabulary& vocabulary) {
  return Decoder(in, vocabulary).request();
}

}  // namespace qor::fuzz
