// Secrets in memory: what forgetting a shared string leaves, and the process
// kept from core dumps and tracing.
#include "platform/secure_memory.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>

namespace {

TEST(SecureMemory, ForgettingASharedStringLeavesTheOtherHolderItsText) {
    QString held = QStringLiteral("field text");
    held.detach();
    QString copy = held;
    plat::ForgetSecret(&copy);
    EXPECT_TRUE(copy.isEmpty());
    EXPECT_EQ(held, QStringLiteral("field text"));

    QByteArray bytes("password bytes", 14);
    QByteArray other = bytes;
    plat::ForgetSecret(&bytes);
    EXPECT_TRUE(bytes.isEmpty());
    EXPECT_EQ(other, QByteArray("password bytes"));
}

TEST(SecureMemory, ProtectedProcessCannotDumpCoreOrBeTraced) {
    if (plat::kLeakCheckerBuild)
        GTEST_SKIP() << "the leak checker must trace the process";
    ASSERT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 1);
    EXPECT_TRUE(plat::ProtectProcessSecrets());
    EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
}

} // namespace
