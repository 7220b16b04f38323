// Shared by the unit tests: a fresh stand-in machine for every test, and a
// few ways to arrange and read it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin/machine.h"

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override { machine().reset(); }

  static standin::Machine &machine() { return standin::machine(); }

  static std::string ServiceKey(const std::string &name) {
    return "System\\CurrentControlSet\\Services\\" + name;
  }

  // A service known to the service manager and registered in the registry.
  static void InstallService(const std::string &name, DWORD currentState,
                             const std::string &binaryPath = "C:\\FQ\\fq.exe") {
    standin::Service service;
    service.currentState = currentState;
    service.binaryPath = binaryPath;
    machine().addService(name, service);
    machine().setStringValue(ServiceKey(name), "ImagePath", REG_EXPAND_SZ, binaryPath);
  }

  // Position in the call log of the first entry that starts with `prefix`,
  // or -1 when there is none.
  static int IndexOf(const std::string &prefix, int from = 0) {
    const std::vector<std::string> &calls = machine().calls();
    for (std::size_t i = static_cast<std::size_t>(from); i < calls.size(); ++i) {
      if (calls[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
    }
    return -1;
  }

  // How many call log entries contain `text`.
  static int CountContaining(const std::string &text) {
    int count = 0;
    for (const std::string &entry : machine().calls())
      count += entry.find(text) != std::string::npos;
    return count;
  }

  static std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int value : values) bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
  }
};
