#include "StandinTest.h"
#include "registry/modRegistryAccess.h"

using modRegistryAccess::ByteString;
using modRegistryAccess::QueryRegValue;
using modRegistryAccess::ReadRegValue;
using modRegistryAccess::RegistryValue;

namespace {

const char kKey[] = "Software\\Test";

class RegistryTest : public StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    machine().addKey(kKey);
  }

  // Runs QueryRegValue on kKey, starting from `value`.
  LONG Query(const std::string &name, RegistryValue &value, DWORD &type) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key));
    const LONG status = QueryRegValue(key, std::wstring(name.begin(), name.end()), value, type);
    RegCloseKey(key);
    return status;
  }

  static RegistryValue Read(const std::string &name) {
    return ReadRegValue(HKEY_LOCAL_MACHINE, L"Software\\Test",
                        std::wstring(name.begin(), name.end()));
  }
};

TEST_F(RegistryTest, ReadRegValue_MissingKeyOrValueGivesEmpty) {
  EXPECT_TRUE(std::holds_alternative<std::monostate>(Read("Missing")));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(
      ReadRegValue(HKEY_LOCAL_MACHINE, L"Software\\Nowhere", L"Value")));
  machine().setStringValue("Software\\Locked", "Value", REG_SZ, "secret");
  machine().denyKey("Software\\Locked");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(
      ReadRegValue(HKEY_LOCAL_MACHINE, L"Software\\Locked", L"Value")));
  // The null key of a failed open is still handed to the close.
  EXPECT_EQ(3, machine().countCalls("RegCloseKey"));
  EXPECT_EQ(2, CountContaining("RegCloseKey(null)"));
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(RegistryTest, ReadRegValue_OpensForReadingAndClosesTheKey) {
  machine().setStringValue(kKey, "Name", REG_SZ, "value");
  EXPECT_EQ(RegistryValue(std::wstring(L"value")), Read("Name"));
  ASSERT_EQ(1, machine().countCalls("RegOpenKeyExA"));
  EXPECT_EQ(0u, machine().callsTo("RegOpenKeyExA")[0].find(
                    "RegOpenKeyExA(HKLM, \"Software\\Test\", 0, 0x20019)"));
  EXPECT_LT(IndexOf("RegQueryValueExA"), IndexOf("RegCloseKey(h"));
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(RegistryTest, QueryRegValue_TextTypesDropOnlyTheClosingZero) {
  machine().setStringValue(kKey, "Sz", REG_SZ, "C:\\FQ\\fq.exe");
  machine().setStringValue(kKey, "Expand", REG_EXPAND_SZ, "%SystemRoot%\\fq.exe");
  machine().setValue(kKey, "Multi", REG_MULTI_SZ, Bytes({'a', 0, 'b', 0, 0}));
  machine().setValue(kKey, "OnlyTerminator", REG_SZ, Bytes({0}));
  const struct Case {
    const char *name;
    DWORD type;
    std::wstring text;
  } cases[] = {{"Sz", REG_SZ, L"C:\\FQ\\fq.exe"},
               {"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\fq.exe"},
               {"Multi", REG_MULTI_SZ, std::wstring(L"a\0b\0", 4)},
               {"OnlyTerminator", REG_SZ, L""}};
  for (const Case &c : cases) {
    RegistryValue value;
    DWORD type = 99;
    EXPECT_EQ(ERROR_SUCCESS, Query(c.name, value, type)) << c.name;
    EXPECT_EQ(c.type, type) << c.name;
    EXPECT_EQ(RegistryValue(c.text), value) << c.name;
  }
}

TEST_F(RegistryTest, QueryRegValue_ZeroByteTextLeavesTheValueAsItWas) {
  machine().setValue(kKey, "Nothing", REG_SZ, {});
  RegistryValue value = std::int32_t{7};
  DWORD type = 0;
  EXPECT_EQ(ERROR_SUCCESS, Query("Nothing", value, type));
  EXPECT_EQ(RegistryValue(std::int32_t{7}), value);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(Read("Nothing")));
}

TEST_F(RegistryTest, QueryRegValue_DoubleByteTextLosesNoCharacterAndGainsNoZero) {
  machine().setCodePage(932);
  // Two double-byte characters, then the terminator.
  machine().setValue(kKey, "Dbcs", REG_SZ, Bytes({0x82, 0xA0, 0x93, 0xFA, 0}));
  const RegistryValue value = Read("Dbcs");
  ASSERT_TRUE(std::holds_alternative<std::wstring>(value));
  const std::wstring &text = std::get<std::wstring>(value);
  EXPECT_EQ(2u, text.size());
  EXPECT_EQ(std::wstring::npos, text.find(L'\0'));
}

TEST_F(RegistryTest, QueryRegValue_IntegersAreReadAsStored) {
  machine().setValue(kKey, "One", REG_DWORD, Bytes({1, 0, 0, 0}));
  machine().setValue(kKey, "Big", REG_DWORD_BIG_ENDIAN, Bytes({0, 0, 0, 1}));
  machine().setValue(kKey, "Short", REG_DWORD, Bytes({0x34, 0x12}));
  machine().setValue(kKey, "Negative", REG_DWORD, Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(RegistryValue(std::int32_t{1}), Read("One"));
  EXPECT_EQ(RegistryValue(std::int32_t{0x01000000}), Read("Big"));  // not swapped
  EXPECT_EQ(RegistryValue(std::int32_t{0x1234}), Read("Short"));
  EXPECT_EQ(RegistryValue(std::int32_t{-1}), Read("Negative"));
}

TEST_F(RegistryTest, QueryRegValue_OversizedIntegerIsRefusedWithoutTouchingTheValue) {
  machine().setValue(kKey, "Eight", REG_DWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
  RegistryValue value = std::wstring(L"before");
  DWORD type = 0;
  EXPECT_EQ(ERROR_MORE_DATA, Query("Eight", value, type));
  EXPECT_EQ(DWORD{REG_DWORD}, type);
  EXPECT_EQ(RegistryValue(std::wstring(L"before")), value);
  // The integer read never asks for more than 4 bytes.
  EXPECT_EQ(1, CountContaining("\"Eight\", size 4)"));
  EXPECT_EQ(0, CountContaining("\"Eight\", size 8)"));
}

TEST_F(RegistryTest, QueryRegValue_BinaryGivesExactlyTheStoredBytes) {
  machine().setValue(kKey, "Three", REG_BINARY, Bytes({0, 0xFF, 0}));
  machine().setValue(kKey, "None", REG_BINARY, {});
  EXPECT_EQ(RegistryValue(ByteString{0, 0xFF, 0}), Read("Three"));
  RegistryValue value = std::int32_t{3};
  DWORD type = 0;
  EXPECT_EQ(ERROR_SUCCESS, Query("None", value, type));
  EXPECT_EQ(RegistryValue(ByteString{}), value);
}

TEST_F(RegistryTest, QueryRegValue_UnsupportedTypesAreNotReadAndLeaveTheValue) {
  machine().setValue(kKey, "None", REG_NONE, Bytes({1}));
  machine().setValue(kKey, "Link", REG_LINK, Bytes({'x', 0}));
  machine().setValue(kKey, "Qword", 11, Bytes({1, 0, 0, 0, 0, 0, 0, 0}));
  for (const char *name : {"None", "Link", "Qword", "Missing"}) {
    RegistryValue value = std::wstring(L"untouched");
    DWORD type = 99;
    EXPECT_EQ(modRegistryAccess::kUnsupportedType, Query(name, value, type)) << name;
    EXPECT_EQ(RegistryValue(std::wstring(L"untouched")), value) << name;
  }
  RegistryValue value;
  DWORD type = 99;
  Query("Missing", value, type);
  EXPECT_EQ(DWORD{0}, type);  // a missing value reports no type
  Query("Link", value, type);
  EXPECT_EQ(DWORD{REG_LINK}, type);
  EXPECT_EQ(2, CountContaining("\"Link\", size 0)")) << "probes only, one per query";
  EXPECT_EQ(2, CountContaining("\"Link\"")) << "never read";
}

TEST_F(RegistryTest, QueryRegValue_FailedReadEmptiesTextAndBytesButKeepsIntegers) {
  machine().setStringValue(kKey, "Text", REG_SZ, "abc");
  machine().setValue(kKey, "Bytes", REG_BINARY, Bytes({1, 2}));
  machine().setValue(kKey, "Number", REG_DWORD, Bytes({5, 0, 0, 0}));
  int call = 0;
  for (const char *name : {"Text", "Bytes", "Number"}) {
    call += 2;  // the read after each probe fails
    machine().failCall("RegQueryValueExA", {call, ERROR_ACCESS_DENIED});
    RegistryValue value = std::int32_t{42};
    DWORD type = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED, Query(name, value, type)) << name;
    if (std::string(name) == "Number") {
      EXPECT_EQ(RegistryValue(std::int32_t{42}), value);
    } else {
      EXPECT_TRUE(std::holds_alternative<std::monostate>(value)) << name;
    }
  }
}

}  // namespace
