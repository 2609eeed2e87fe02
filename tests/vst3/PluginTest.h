// A test on one fresh instance of the built module, held as the host named
// in the constructor would hold it. Tearing down switches the instance off,
// terminates it and checks that its last release brings its reference
// count to 0.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "HostObjects.h"

namespace host {

class PluginTest : public ::testing::Test {
 protected:
  explicit PluginTest(const char* hostName) : hostApp(hostName) {}
  void SetUp() override {
    ASSERT_NE(module.Factory(), nullptr) << KESTRUNE_VST3_MODULE;
    plugin = std::make_unique<Plugin>(module.Factory());
    ASSERT_NE(plugin->component, nullptr);
  }
  void TearDown() override {
    if (plugin && plugin->component) {
      plugin->component->setActive(false);
      plugin->component->terminate();
      EXPECT_EQ(plugin->Release(), 0u);
    }
  }

  Module module;
  HostApplication hostApp;
  std::unique_ptr<Plugin> plugin;
};

}  // namespace host
