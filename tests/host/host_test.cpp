#include <gtest/gtest.h>

#include "host/module.h"

namespace {

TEST(Host, ResultCodes) {
  EXPECT_EQ(ResultFromError(2), 0x80070002u);
  EXPECT_EQ(ResultFromError(0x12345), 0x80072345u);
  EXPECT_EQ(kResultFail, 0x80004005u);
}

TEST(Host, ServiceNameSpeaksForTheEventLog) {
  CKelvaneHTTPAgentModule& module = TheModule();
  EXPECT_EQ(module.ServiceName(), L"KelvaneHTTPAgent");
  EXPECT_TRUE(module.IsService());  // until the run mode is decided
}

}  // namespace
