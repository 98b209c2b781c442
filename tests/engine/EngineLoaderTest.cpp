#include "engine/EngineLoader.h"

#include <gtest/gtest.h>

namespace {

struct PreviewCallbacks : IVistrelNotify {
    bool OnPreviewCallback(std::int32_t, std::int32_t, std::int32_t) override { return true; }
};

}  // namespace

// This test program sits beside the engine libraries, as the program does.
TEST(EngineLoader, FindsTheLibrariesBesideTheProgram)
{
    EXPECT_EQ(engine_link::ProgramFolder(), std::string(getenv("TAVISK_BUILD_DIR")) + "/");
    PreviewCallbacks callbacks;
    IVistrel* preview = engine_link::CreateVistrel(&callbacks);
    ASSERT_NE(preview, nullptr);
    preview->Release();
}

TEST(EngineLoader, TestFactoriesReplaceTheLibrariesUntilRemoved)
{
    static int made = 0;
    engine_link::SetFactories(
        [](ICastornNotify*) -> ICastorn* {
            ++made;
            return nullptr;
        },
        nullptr);
    EXPECT_EQ(engine_link::CreateCastorn(nullptr), nullptr);
    EXPECT_EQ(made, 1);
    engine_link::SetFactories(nullptr, nullptr);
    PreviewCallbacks callbacks;
    IVistrel* preview = engine_link::CreateVistrel(&callbacks);
    ASSERT_NE(preview, nullptr);
    preview->Release();
    EXPECT_EQ(made, 1);
}
