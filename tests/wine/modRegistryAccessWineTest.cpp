// The registry reader against values that the real registry holds, written
// the way any program writes them (RegSetValueExA) in a key of our own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WineTest.h"
#include "registry/modRegistryAccess.h"

namespace {

using modRegistryAccess::ByteString;
using modRegistryAccess::QueryRegValue;
using modRegistryAccess::ReadRegValue;
using modRegistryAccess::RegistryValue;

const char kTestKey[] = "Software\\FQSrvUninstallTests";
const wchar_t kTestKeyText[] = L"Software\\FQSrvUninstallTests";

class RegistryReaderOnWine : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestKey);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestKey);
  }

  void Set(const char *name, DWORD type, const void *data, DWORD size) {
    ASSERT_EQ(RegSetValueExA(key_, name, 0, type, static_cast<const BYTE *>(data), size),
              ERROR_SUCCESS);
  }
  void SetBytes(const char *name, DWORD type, const std::string &bytes) {
    Set(name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  }
  RegistryValue Read(const wchar_t *name) {
    return ReadRegValue(HKEY_LOCAL_MACHINE, kTestKeyText, name);
  }
  // QueryRegValue on our open key, starting from `value` and a junk type.
  LONG Query(const wchar_t *name, RegistryValue &value, DWORD &type) {
    type = 0xDEAD;
    return QueryRegValue(key_, name, value, type);
  }

  HKEY key_ = nullptr;
};

TEST_F(RegistryReaderOnWine, TextTypesComeBackAsStoredWithoutTheirTerminator) {
  SetBytes("Sz", REG_SZ, std::string("C:\\Program Files\\FQ\\fq.exe") + '\0');
  SetBytes("Expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\fq.exe") + '\0');
  SetBytes("Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));

  EXPECT_EQ(Read(L"Sz"), RegistryValue(std::wstring(L"C:\\Program Files\\FQ\\fq.exe")));
  EXPECT_EQ(Read(L"Expand"), RegistryValue(std::wstring(L"%SystemRoot%\\fq.exe")))
      << "environment references stay unexpanded";
  EXPECT_EQ(Read(L"Multi"), RegistryValue(std::wstring(L"a\0b\0", 4)))
      << "each string keeps its zero; only the list's closing zero goes";

  RegistryValue value;
  DWORD type = 0;
  EXPECT_EQ(Query(L"Expand", value, type), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
}

TEST_F(RegistryReaderOnWine, TextLongerThanAPathComesBackWhole) {
  const std::string longText(1000, 'x');
  SetBytes("Long", REG_SZ, longText + '\0');
  EXPECT_EQ(Read(L"Long"), RegistryValue(std::wstring(1000, L'x')));
}

TEST_F(RegistryReaderOnWine, TextHoldingOnlyItsTerminatorIsEmptyText) {
  SetBytes("Terminator", REG_SZ, std::string(1, '\0'));
  const RegistryValue value = Read(L"Terminator");
  ASSERT_TRUE(std::holds_alternative<std::wstring>(value)) << "text of length 0, not nothing";
  EXPECT_TRUE(std::get<std::wstring>(value).empty());
}

TEST_F(RegistryReaderOnWine, TextStoredWithZeroBytesLeavesTheValueAsItWas) {
  Set("NoBytes", REG_SZ, "", 0);
  RegistryValue value = std::wstring(L"as it was");
  DWORD type = 0;
  EXPECT_EQ(Query(L"NoBytes", value, type), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value, RegistryValue(std::wstring(L"as it was")));
  EXPECT_EQ(Read(L"NoBytes"), RegistryValue()) << "a fresh value stays empty";
}

TEST_F(RegistryReaderOnWine, TextComesThroughTheAnsiCodePage) {
  const std::string narrow = "caf\xE9";
  SetBytes("Ansi", REG_SZ, narrow + '\0');
  wchar_t expected[8] = {0};
  const int count = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), 4, expected, 8);
  EXPECT_EQ(Read(L"Ansi"), RegistryValue(std::wstring(expected, count)));
}

TEST_F(RegistryReaderOnWine, IntegersAreReadAsStoredWithoutSwapping) {
  const DWORD one = 1;
  Set("Dword", REG_DWORD, &one, sizeof one);
  SetBytes("BigEndian", REG_DWORD_BIG_ENDIAN, std::string("\x01\x02\x03\x04", 4));
  const DWORD negative = 0xFFFFFFFEu;
  Set("Negative", REG_DWORD, &negative, sizeof negative);

  EXPECT_EQ(Read(L"Dword"), RegistryValue(std::int32_t{1}));
  EXPECT_EQ(Read(L"BigEndian"), RegistryValue(std::int32_t{0x04030201}));
  EXPECT_EQ(Read(L"Negative"), RegistryValue(std::int32_t{-2}));
}

TEST_F(RegistryReaderOnWine, IntegerStoredShortLeavesTheUpperBytesZero) {
  SetBytes("Short", REG_DWORD, std::string("\x34\x12", 2));
  EXPECT_EQ(Read(L"Short"), RegistryValue(std::int32_t{0x1234}));
}

TEST_F(RegistryReaderOnWine, IntegerStoredWithEightBytesIsRefusedWithoutOverrun) {
  SetBytes("Wide", REG_DWORD, std::string("\x01\x00\x00\x00\x02\x00\x00\x00", 8));
  RegistryValue value = std::int32_t{42};
  DWORD type = 0;
  EXPECT_EQ(Query(L"Wide", value, type), ERROR_MORE_DATA);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, RegistryValue(std::int32_t{42})) << "a failed integer read leaves the value";
  EXPECT_EQ(Read(L"Wide"), RegistryValue());
}

TEST_F(RegistryReaderOnWine, BinaryComesBackWithExactlyItsStoredBytes) {
  SetBytes("Bytes", REG_BINARY, std::string("\x00\x01\x00\xFF", 4));
  Set("NoBytes", REG_BINARY, "", 0);

  EXPECT_EQ(Read(L"Bytes"), RegistryValue(ByteString{0x00, 0x01, 0x00, 0xFF}));
  RegistryValue value;
  DWORD type = 0;
  EXPECT_EQ(Query(L"NoBytes", value, type), ERROR_SUCCESS);
  EXPECT_EQ(value, RegistryValue(ByteString{})) << "an empty byte string, not nothing";
}

// Types we do not read: status -1, the value untouched, the type reported.
class UnsupportedTypeOnWine : public RegistryReaderOnWine,
                              public ::testing::WithParamInterface<DWORD> {};

TEST_P(UnsupportedTypeOnWine, LeavesTheValueAndReportsMinusOne) {
  SetBytes("Other", GetParam(), std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  RegistryValue value = std::wstring(L"untouched");
  DWORD type = 0;
  EXPECT_EQ(Query(L"Other", value, type), modRegistryAccess::kUnsupportedType);
  EXPECT_EQ(type, GetParam());
  EXPECT_EQ(value, RegistryValue(std::wstring(L"untouched")));
  EXPECT_EQ(Read(L"Other"), RegistryValue());
}

INSTANTIATE_TEST_SUITE_P(NoneLinkAndAboveMulti, UnsupportedTypeOnWine,
                         ::testing::Values(DWORD{REG_NONE}, DWORD{REG_LINK},
                                           DWORD{REG_RESOURCE_LIST}, DWORD{REG_QWORD}));

TEST_F(RegistryReaderOnWine, MissingValueOrKeyGivesNothing) {
  RegistryValue value = std::int32_t{7};
  DWORD type = 0;
  EXPECT_EQ(Query(L"Missing", value, type), modRegistryAccess::kUnsupportedType);
  EXPECT_EQ(type, 0u) << "a missing value reports no type";
  EXPECT_EQ(value, RegistryValue(std::int32_t{7}));

  EXPECT_EQ(Read(L"Missing"), RegistryValue());
  EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, L"Software\\FQSrvUninstallTests\\NoSuchKey", L"Sz"),
            RegistryValue());
}

TEST_F(RegistryReaderOnWine, ReadsTheServiceKeyTheWayThePresenceTestDoes) {
  const std::string key = "System\\CurrentControlSet\\Services\\FQRegistryTest";
  HKEY service = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &service, nullptr),
            ERROR_SUCCESS);
  const std::string path = "\"C:\\FQ\\fq.exe\" -service";
  RegSetValueExA(service, "ImagePath", 0, REG_EXPAND_SZ,
                 reinterpret_cast<const BYTE *>(path.c_str()), path.size() + 1);
  RegCloseKey(service);

  const RegistryValue value = ReadRegValue(
      HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\FQRegistryTest", L"ImagePath");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
  EXPECT_EQ(value, RegistryValue(std::wstring(L"\"C:\\FQ\\fq.exe\" -service")));
}

}  // namespace
