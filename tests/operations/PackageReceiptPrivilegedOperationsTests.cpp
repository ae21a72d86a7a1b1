#include "StubTools.h"
#include "api/PrivilegedOperationError.h"
#include "operations/PackageReceiptPrivilegedOperations.h"

#include <gtest/gtest.h>

namespace operations {
namespace {

using Runs = std::vector<std::vector<std::string>>;
using test::StubBehaviour;

class PackageReceiptPrivilegedOperationsTest : public ::testing::Test {
protected:
  PackageReceiptPrivilegedOperationsTest() { operations.setToolRootForTest(root.path()); }

  // The error that removing `packageID` throws; fails the test when nothing is thrown.
  api::PrivilegedOperationError errorOfRemoving(const std::string& packageID) {
    try {
      operations.removePackageReceipt(packageID);
    } catch (const api::PrivilegedOperationError& error) {
      return error;
    }
    ADD_FAILURE() << "no error thrown";
    return api::PrivilegedOperationError(0, "", "");
  }

  test::TemporaryRoot root;
  PackageReceiptPrivilegedOperations operations;
};

TEST_F(PackageReceiptPrivilegedOperationsTest, ForgetsThePackageGivenAsOneArgument) {
  const std::string packageID = "com.example.pkg --volume / ; $(id) 'x y'";
  test::writeStubTool(root.path(), PackageReceiptPrivilegedOperations::kPkgutilPath,
                      StubBehaviour().printing("Forgot package 'com.example.pkg'\n"));
  EXPECT_NO_THROW(operations.removePackageReceipt(packageID));
  EXPECT_EQ(test::stubRuns(root.path(), "pkgutil"), (Runs{{"--forget", packageID}}));
}

TEST_F(PackageReceiptPrivilegedOperationsTest, AnUnknownPackageFailsWithTheToolsStatus) {
  test::writeStubTool(root.path(), PackageReceiptPrivilegedOperations::kPkgutilPath,
                      StubBehaviour().exitingWith(1));
  const auto error = errorOfRemoving("com.example.unknown");
  EXPECT_EQ(error.code, 1);
  EXPECT_EQ(error.domain, "com.lumora.privilegedOperations.packageReceipt");
  EXPECT_EQ(error.description, "Failed to perform package remove operation for package with id: "
                               "com.example.unknown.");
}

TEST_F(PackageReceiptPrivilegedOperationsTest, AMissingToolIsNotASuccess) {
  const auto error = errorOfRemoving("com.example.pkg");
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(error.domain, kPackageReceiptErrorDomain);
}

} // namespace
} // namespace operations
