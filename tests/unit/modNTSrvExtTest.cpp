#include <cstring>
#include <optional>

#include "StandinTest.h"
#include "service/modNTSrvExt.h"

using modNTSrvExt::QueryServiceInfo;
using modNTSrvExt::RemoveService;
using modNTSrvExt::ServiceExists;
using standin::Fault;

namespace {

class ServiceTest : public StandinTest {
 protected:
  // Outputs start from values a query must not invent.
  std::int32_t stateCode = 99;
  std::int32_t startType = 99;
  std::wstring binaryPath = L"as passed";

  bool Query(const std::wstring &name = L"FQ") {
    return QueryServiceInfo(name, stateCode, startType, binaryPath);
  }
  void ExpectOutputsAsPassed() const {
    EXPECT_EQ(99, stateCode);
    EXPECT_EQ(99, startType);
    EXPECT_EQ(L"as passed", binaryPath);
  }
  // Service handle closed before the manager handle, whatever the two were.
  void ExpectClosedInReverse(const std::string &service, const std::string &manager) const {
    const auto closes = machine().callsTo("CloseServiceHandle");
    ASSERT_EQ(2u, closes.size());
    EXPECT_EQ(0u, closes[0].find("CloseServiceHandle(" + service + ")"));
    EXPECT_EQ(0u, closes[1].find("CloseServiceHandle(" + manager + ")"));
  }
};

TEST_F(ServiceTest, MissingService_LeavesOutputsAndIsNeitherPresentNorRemovable) {
  EXPECT_FALSE(Query());
  ExpectOutputsAsPassed();
  ExpectClosedInReverse("null", "h1");
  EXPECT_FALSE(ServiceExists(L"FQ"));
  EXPECT_FALSE(RemoveService(L"FQ"));
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(ServiceTest, QueryServiceInfo_MapsEveryStateOfTheTable) {
  const struct {
    DWORD state;
    std::int32_t code;
  } table[] = {{1, 1}, {2, 7}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {16, 2}, {32, 1}};
  for (const auto &row : table) {
    machine().reset();
    InstallService("FQ", row.state);
    stateCode = 99;
    EXPECT_TRUE(Query()) << row.state;
    EXPECT_EQ(row.code, stateCode) << "state " << row.state;
  }
}

TEST_F(ServiceTest, QueryServiceInfo_StateOutsideTheTableLeavesTheCodeButSucceeds) {
  for (const DWORD state : {0u, 8u, 15u, 17u, 31u, 33u, 0xFFFFFFFFu}) {
    machine().reset();
    InstallService("FQ", state);
    stateCode = 99;
    EXPECT_TRUE(Query()) << state;
    EXPECT_EQ(99, stateCode) << state;
    EXPECT_EQ(L"C:\\FQ\\fq.exe", binaryPath);
  }
}

TEST_F(ServiceTest, QueryServiceInfo_ReadsRunningServiceWithTrimmedPath) {
  standin::Service service;
  service.currentState = SERVICE_RUNNING;
  service.startType = SERVICE_AUTO_START;
  service.binaryPath = "   C:\\Program Files\\FQ\\fq.exe -service\t  ";
  machine().addService("FQ", service);
  EXPECT_TRUE(Query());
  EXPECT_EQ(4, stateCode);
  EXPECT_EQ(SERVICE_AUTO_START, startType);
  EXPECT_EQ(L"C:\\Program Files\\FQ\\fq.exe -service\t", binaryPath);  // spaces only
  EXPECT_EQ(1, CountContaining("OpenSCManagerA(null, null, 0x1)"));
  EXPECT_EQ(1, CountContaining("OpenServiceA(h1, \"FQ\", 0x80000000)"));
  ExpectClosedInReverse("h2", "h1");
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(ServiceTest, QueryServiceInfo_ReadsTheSizeProbesErrorRightAfterIt) {
  InstallService("FQ", SERVICE_STOPPED);
  EXPECT_TRUE(Query());
  const int probe = IndexOf("QueryServiceConfigA(h2, size 0)");
  ASSERT_GE(probe, 0);
  EXPECT_EQ(probe + 1, IndexOf("GetLastError() -> 122"));
}

TEST_F(ServiceTest, QueryServiceInfo_BinaryPathOfAnyLengthComesBackWhole) {
  for (const std::size_t length : {254u, 255u, 256u, 1000u, 4000u}) {
    machine().reset();
    const std::string path = "C:\\" + std::string(length - 3, 'p');
    InstallService("FQ", SERVICE_STOPPED, path);
    EXPECT_TRUE(Query());
    EXPECT_EQ(length, binaryPath.size());
    EXPECT_EQ(std::wstring(path.begin(), path.end()), binaryPath);
  }
}

TEST_F(ServiceTest, QueryServiceInfo_TrimsTheNameButTheOthersDoNot) {
  InstallService("FQ", SERVICE_RUNNING);
  EXPECT_TRUE(Query(L"  FQ "));
  EXPECT_EQ(1, CountContaining("OpenServiceA(h1, \"FQ\""));
  EXPECT_FALSE(Query(L"\tFQ"));  // only spaces are trimmed
  EXPECT_FALSE(ServiceExists(L" FQ"));
  EXPECT_FALSE(RemoveService(L"FQ "));
  EXPECT_EQ(1, CountContaining("\"FQ \", 0xf01ff"));
  EXPECT_TRUE(machine().serviceExists("FQ"));
}

TEST_F(ServiceTest, QueryServiceInfo_FailedConfigurationReadKeepsTheStateCode) {
  InstallService("FQ", SERVICE_RUNNING);
  machine().failCall("QueryServiceConfigA", {2, ERROR_ACCESS_DENIED});
  EXPECT_FALSE(Query());
  EXPECT_EQ(4, stateCode);
  EXPECT_EQ(99, startType);
  EXPECT_EQ(L"as passed", binaryPath);
  ExpectClosedInReverse("h2", "h1");
}

TEST_F(ServiceTest, QueryServiceInfo_FailedProbeStillReadsTheConfiguration) {
  InstallService("FQ", SERVICE_STOPPED);
  machine().failCall("QueryServiceConfigA", {1, ERROR_ACCESS_DENIED});
  EXPECT_FALSE(Query());
  // The probe reported no size, so the read that still follows fails too.
  EXPECT_EQ(2, machine().countCalls("QueryServiceConfigA"));
  EXPECT_EQ(2, CountContaining("QueryServiceConfigA(h2, size 0) -> 0"));
  EXPECT_EQ(1, stateCode);
  EXPECT_EQ(99, startType);
}

TEST_F(ServiceTest, QueryServiceInfo_FailedStatusReadStopsBeforeTheConfiguration) {
  InstallService("FQ", SERVICE_RUNNING);
  machine().failCall("QueryServiceStatus", {1, ERROR_ACCESS_DENIED});
  EXPECT_FALSE(Query());
  ExpectOutputsAsPassed();
  EXPECT_EQ(0, machine().countCalls("QueryServiceConfigA"));
  ExpectClosedInReverse("h2", "h1");
}

TEST_F(ServiceTest, QueryServiceInfo_UnreachableManagerClosesBothNullHandles) {
  InstallService("FQ", SERVICE_RUNNING);
  machine().failCall("OpenSCManagerA", {1, ERROR_ACCESS_DENIED});
  EXPECT_FALSE(Query());
  ExpectOutputsAsPassed();
  EXPECT_EQ(1, CountContaining("OpenServiceA(null, \"FQ\""));
  ExpectClosedInReverse("null", "null");
}

TEST_F(ServiceTest, QueryServiceInfo_OddConfigurationRecordsAreReadSafely) {
  // The path runs to the very end of what the manager wrote, unterminated.
  standin::Service odd;
  odd.rawConfig = std::vector<std::uint8_t>(sizeof(QUERY_SERVICE_CONFIGA), 0);
  const std::string tail = "C:\\end";
  odd.rawConfig->insert(odd.rawConfig->end(), tail.begin(), tail.end());
  odd.rawConfigPointers[offsetof(QUERY_SERVICE_CONFIGA, lpBinaryPathName)] =
      sizeof(QUERY_SERVICE_CONFIGA);
  machine().addService("FQ", odd);
  EXPECT_TRUE(Query());
  EXPECT_EQ(L"C:\\end", binaryPath);

  // A path pointer outside the buffer reads as no path.
  machine().reset();
  odd.rawConfigPointers[offsetof(QUERY_SERVICE_CONFIGA, lpBinaryPathName)] = 1 << 20;
  machine().addService("FQ", odd);
  binaryPath = L"as passed";
  EXPECT_TRUE(Query());
  EXPECT_EQ(L"", binaryPath);

  // An absurd size is not allocated.
  machine().reset();
  odd.bytesNeededOverride = 0xFFFFFFFFu;
  machine().addService("FQ", odd);
  binaryPath = L"as passed";
  EXPECT_FALSE(Query());
  EXPECT_EQ(L"as passed", binaryPath);
  EXPECT_EQ(1, machine().countCalls("QueryServiceConfigA"));
}

TEST_F(ServiceTest, ServiceExists_DependsOnANonEmptyImagePath) {
  const std::string key = ServiceKey("FQ");
  const struct {
    const char *what;
    DWORD type;
    std::vector<std::uint8_t> data;
    bool exists;
  } cases[] = {
      {"text", REG_EXPAND_SZ, Bytes({'x', 0}), true},
      {"empty text", REG_SZ, Bytes({0}), false},
      {"zero-byte text", REG_SZ, {}, false},
      {"integer zero", REG_DWORD, Bytes({0, 0, 0, 0}), true},
      {"one byte", REG_BINARY, Bytes({0}), true},
      {"no bytes", REG_BINARY, {}, false},
      {"unsupported type", REG_NONE, Bytes({'x', 0}), false},
  };
  for (const auto &c : cases) {
    machine().reset();
    machine().setValue(key, "ImagePath", c.type, c.data);
    EXPECT_EQ(c.exists, ServiceExists(L"FQ")) << c.what;
  }
  machine().reset();
  machine().addKey(key);
  EXPECT_FALSE(ServiceExists(L"FQ")) << "key without the value";
}

TEST_F(ServiceTest, RemoveService_DeletesOnceWithFullAccess) {
  InstallService("FQ", SERVICE_STOPPED);
  EXPECT_TRUE(RemoveService(L"FQ"));
  EXPECT_FALSE(machine().serviceExists("FQ"));
  EXPECT_EQ(1, CountContaining("OpenSCManagerA(null, null, 0x2)"));
  EXPECT_EQ(1, CountContaining("OpenServiceA(h1, \"FQ\", 0xf01ff)"));
  EXPECT_LT(IndexOf("DeleteService(h2) -> 1"), IndexOf("CloseServiceHandle(h2)"));
  ExpectClosedInReverse("h2", "h1");
  EXPECT_FALSE(RemoveService(L"FQ"));
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(ServiceTest, RemoveService_AlreadyMarkedForDeletionWasAccepted) {
  standin::Service marked;
  marked.currentState = SERVICE_RUNNING;
  marked.deleteError = ERROR_SERVICE_MARKED_FOR_DELETE;
  machine().addService("FQ", marked);
  EXPECT_TRUE(RemoveService(L"FQ"));
  EXPECT_TRUE(machine().openHandles().empty());
}

TEST_F(ServiceTest, RemoveService_AcceptedTellsTheStateOnItsOwnHandleBeforeClosingIt) {
  struct Case {
    const char *what;
    DWORD state;
    bool markedBefore;
    std::optional<Fault> queryFault;  // of the state asked after the deletion
    bool removed;
    std::uint32_t stateAfter;  // 77: left as passed
    bool goneAfterwards;
  };
  const Case cases[] = {
      {"stopped: gone once our handle is closed", SERVICE_STOPPED, false, std::nullopt, true,
       SERVICE_STOPPED, true},
      {"running: marked, it runs on", SERVICE_RUNNING, false, std::nullopt, true, SERVICE_RUNNING,
       false},
      {"marked before and still stopping", SERVICE_STOP_PENDING, true, std::nullopt, true,
       SERVICE_STOP_PENDING, false},
      {"the state cannot be read", SERVICE_RUNNING, false, Fault{1, ERROR_ACCESS_DENIED}, true, 0,
       false},
      {"the deletion refused", SERVICE_RUNNING, false, std::nullopt, false, 77, false}};
  for (const Case &c : cases) {
    machine().reset();
    standin::Service service;
    service.currentState = c.state;
    service.markedForDeletion = c.markedBefore;
    if (!c.removed) service.deleteError = ERROR_ACCESS_DENIED;
    machine().addService("FQ", service);
    if (c.queryFault) machine().failCall("QueryServiceStatus", *c.queryFault);
    std::uint32_t state = 77;
    modNTSrvExt::RemovalFailure failure;
    EXPECT_EQ(c.removed, RemoveService(L"FQ", &failure, &state)) << c.what;
    EXPECT_EQ(c.stateAfter, state) << c.what;
    EXPECT_EQ(c.goneAfterwards, !machine().serviceExists("FQ")) << c.what;
    EXPECT_EQ(c.removed ? 1 : 0, machine().countCalls("QueryServiceStatus")) << c.what;
    if (c.removed) {
      EXPECT_LT(IndexOf("DeleteService(h2)"), IndexOf("QueryServiceStatus(h2)")) << c.what;
      EXPECT_LT(IndexOf("QueryServiceStatus(h2)"), IndexOf("CloseServiceHandle(h2)")) << c.what;
    }
    if (c.markedBefore) {
      EXPECT_STREQ("DeleteService", failure.call) << c.what;
      EXPECT_EQ(DWORD{ERROR_SERVICE_MARKED_FOR_DELETE}, GetLastError()) << c.what;
    }
    EXPECT_TRUE(machine().openHandles().empty()) << c.what;
  }
}

TEST_F(ServiceTest, RemoveService_RefusedOrUnreachableIsFalse) {
  standin::Service refused;
  refused.deleteError = ERROR_ACCESS_DENIED;
  machine().addService("FQ", refused);
  EXPECT_FALSE(RemoveService(L"FQ"));
  EXPECT_TRUE(machine().serviceExists("FQ"));

  machine().reset();
  InstallService("FQ", SERVICE_STOPPED);
  machine().failCall("OpenSCManagerA", {1, ERROR_ACCESS_DENIED});
  EXPECT_FALSE(RemoveService(L"FQ"));
  EXPECT_EQ(1, CountContaining("DeleteService(null) -> 0"));
  ExpectClosedInReverse("null", "null");
  EXPECT_TRUE(machine().serviceExists("FQ"));
}

TEST_F(ServiceTest, RemoveService_NamesTheFirstFailedCallAndLeavesItsErrorLast) {
  struct Case {
    const char *what;
    bool registered;
    DWORD deleteError;
    bool managerDenied;
    bool removed;
    std::string call;  // empty: none failed
    DWORD error;
  };
  const Case cases[] = {
      {"deleted", true, ERROR_SUCCESS, false, true, "", ERROR_SUCCESS},
      {"manager refused", true, ERROR_SUCCESS, true, false, "OpenSCManager", ERROR_ACCESS_DENIED},
      {"unknown to the manager", false, ERROR_SUCCESS, false, false, "OpenService",
       ERROR_SERVICE_DOES_NOT_EXIST},
      {"deletion refused", true, ERROR_ACCESS_DENIED, false, false, "DeleteService",
       ERROR_ACCESS_DENIED},
      {"marked before", true, ERROR_SERVICE_MARKED_FOR_DELETE, false, true, "DeleteService",
       ERROR_SERVICE_MARKED_FOR_DELETE}};
  for (const Case &c : cases) {
    machine().reset();
    if (c.registered) {
      standin::Service service;
      service.deleteError = c.deleteError;
      machine().addService("FQ", service);
    }
    if (c.managerDenied) machine().failCall("OpenSCManagerA", {1, ERROR_ACCESS_DENIED});
    modNTSrvExt::RemovalFailure failure;
    EXPECT_EQ(c.removed, RemoveService(L"FQ", &failure)) << c.what;
    EXPECT_EQ(c.call, failure.call != nullptr ? failure.call : "") << c.what;
    EXPECT_EQ(c.error, failure.error) << c.what;
    // Closing the null handles that followed set another error.
    if (!c.call.empty()) {
      EXPECT_EQ(c.error, GetLastError()) << c.what;
    }
  }
}

}  // namespace
