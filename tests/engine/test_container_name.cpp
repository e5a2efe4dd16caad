#include "engine/container_name.h"

#include <gtest/gtest.h>

TEST(ContainerName, NamesFollowThePlainFilesCompleteName) {
    EXPECT_EQ(ContainerNameFor("notes.txt"), QString("notes.txt.ksr"));
    EXPECT_TRUE(IsContainerName("notes.txt.ksr"));
    EXPECT_EQ(ContainerDisplayName("notes.txt.ksr"), QString("notes.txt"));
    EXPECT_TRUE(IsContainerName("A.KSR"));
    EXPECT_EQ(ContainerDisplayName("A.KSR"), QString("A"));
    EXPECT_TRUE(IsContainerName("/some/folder/x.Ksr"));
}

TEST(ContainerName, FourCharactersOrFewerAreAlwaysPlain) {
    EXPECT_FALSE(IsContainerName(".ksr"));
    EXPECT_FALSE(IsContainerName("ksr"));
    EXPECT_FALSE(IsContainerName(""));
    EXPECT_EQ(ContainerNameFor(".ksr"), QString(".ksr.ksr"));
    EXPECT_TRUE(IsContainerName(".ksr.ksr"));
    EXPECT_FALSE(IsContainerName("notes.ksr.txt"));
    EXPECT_FALSE(IsContainerName("notesksr"));
}
