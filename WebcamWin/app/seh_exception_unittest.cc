#include "WebcamWin/app/seh_exception.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/string_util.h"

namespace {

std::string hexPointer(uintptr_t value) {
  return "0x" + base::stringPrintf("%0*llX", static_cast<int>(sizeof(void*) * 2),
                                   static_cast<unsigned long long>(value));
}

ExceptionInfo accessViolation(bool write, uintptr_t target) {
  ExceptionInfo info;
  info.code = kExceptionAccessViolation;
  info.address = 0x401A2B;
  info.parameterCount = 2;
  info.parameters[0] = write ? 1 : 0;
  info.parameters[1] = target;
  return info;
}

TEST(SehExceptionTest, AccessViolationTexts) {
  auto read = CSEHException::wrap(accessViolation(false, 0x10), "ctx");
  ASSERT_NE(nullptr, dynamic_cast<CAccessViolationException*>(read.get()));
  EXPECT_EQ("Exception with code = 0xc0000005 at address = " + hexPointer(0x401A2B) +
                ". Attempt to read data at address " + hexPointer(0x10),
            read->message());
  EXPECT_EQ("ctx", read->context());

  auto write = CSEHException::wrap(accessViolation(true, 0xDEAD), std::string());
  EXPECT_NE(std::string::npos, write->message().find("Attempt to write data at address " +
                                                     hexPointer(0xDEAD)));
}

TEST(SehExceptionTest, OtherCodesAndTheNonContinuableFlag) {
  ExceptionInfo info;
  info.code = 0xC0000094;
  info.address = 0x1234;
  auto plain = CSEHException::wrap(info, std::string());
  EXPECT_EQ(nullptr, dynamic_cast<CAccessViolationException*>(plain.get()));
  EXPECT_EQ("Exception with code = 0xc0000094 at address = " + hexPointer(0x1234) + ".",
            plain->message());

  info.flags = ExceptionInfo::kNonContinuable;
  EXPECT_EQ(0u, CSEHException::wrap(info, std::string())->message().find("Noncontinuable exception "));

  // A record that claims more parameters than it can hold is cut down.
  info.parameterCount = 1000;
  EXPECT_EQ(ExceptionInfo::kMaxParameters, CSEHException(info, std::string()).info().parameterCount);

  // An access violation without parameters still formats.
  info = ExceptionInfo();
  info.code = kExceptionAccessViolation;
  EXPECT_NE(std::string::npos, CSEHException::wrap(info, std::string())->message().find("read"));
}

TEST(SehExceptionTest, BufferSizes) {
  auto e = CSEHException::wrap(accessViolation(false, 0x10), std::string());
  const std::string full = e->message();
  EXPECT_EQ(full.size() + 1, e->GetErrorMessage(nullptr, 0));

  char small[11];
  std::memset(small, 'x', sizeof(small));
  EXPECT_EQ(10u, e->GetErrorMessage(small, sizeof(small)));
  EXPECT_EQ(full.substr(0, 10), std::string(small));

  char none = 'x';
  EXPECT_EQ(0u, e->GetErrorMessage(&none, 0));
  EXPECT_EQ('x', none);
}

}  // namespace
