#include <gtest/gtest.h>

#include <string>

#include "binding/natives.h"
#include "support/fake_jni.h"

namespace halvix {
namespace {

using testing::FakeJni;

TEST(JniOnLoad, RegistersTheFiveNativesOnThePackagedClass) {
    FakeJni jni;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(JNI_OnLoad(jni.vm(), nullptr), 0x00010002);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "a good load prints nothing";
    EXPECT_EQ(jni.versionAsked, 0x00010002);
    ASSERT_EQ(jni.classesLookedUp, std::vector<std::string>{"com/kesta/vanmora/util/Halvix"});
    ASSERT_EQ(jni.registrations.size(), 1u);
    const testing::Registration& r = jni.registrations[0];
    EXPECT_EQ(r.names, (std::vector<std::string>{"openUsbPort", "closeUsbPort", "getPointData",
                                                 "putCmdString", "getSerialData"}));
    EXPECT_EQ(r.signatures, (std::vector<std::string>{"(Ljava/lang/String;)Z", "()Z", "()J",
                                                      "([B)Z", "()[B"}));
    EXPECT_EQ(r.functions, (std::vector<void*>{reinterpret_cast<void*>(&Java_Halvix_openUsbPort),
                                               reinterpret_cast<void*>(&Java_Halvix_closeUsbPort),
                                               reinterpret_cast<void*>(&Java_Halvix_getPointData),
                                               reinterpret_cast<void*>(&Java_Halvix_putCmdString),
                                               reinterpret_cast<void*>(&Java_Halvix_getSerialData)}));
}

TEST(JniOnLoad, RefusesTheLoadWithItsMessage) {
    struct Case {
        const char* what;
        bool failGetEnv;
        bool failFindClass;
        const char* message;
    };
    const Case cases[] = {
        {"no environment", true, false, "Unble to get env\n"},
        {"no class", false, true, "Unable to locate class\n"},
    };
    for (const Case& c : cases) {
        FakeJni jni;
        jni.failGetEnv = c.failGetEnv;
        jni.failFindClass = c.failFindClass;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(JNI_OnLoad(jni.vm(), nullptr), -1) << c.what;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message) << c.what;
        EXPECT_TRUE(jni.registrations.empty()) << c.what << ": natives registered anyway";
    }
}

}  // namespace
}  // namespace halvix
