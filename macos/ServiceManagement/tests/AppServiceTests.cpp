#include "macos/Foundation/FileManager.hpp"
#include "macos/ServiceManagement/AppService.hpp"

#include "macos/sim/SavedEnvironmentVariable.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using Status = sm::AppService::Status;

namespace {

// Points the configuration folder at a temporary one for the test, so the real home is untouched.
class AppServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        configHome = fs::temp_directory_path() / ("stashbay-sm-" + std::to_string(::getpid()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(configHome);
        ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        service.reset();
    }
    void TearDown() override {
        service.reset();
        ns::FileManager::defaultManager().reset();
        fs::remove_all(configHome);
    }
    fs::path entry() const { return configHome / "autostart" / "app.stashbay.Stashbay.desktop"; }

    sm::AppService& service = sm::AppService::mainApp();
    fs::path configHome;
    sim::testing::SavedEnvironmentVariable savedXdg{"XDG_CONFIG_HOME"};
    sim::testing::SavedEnvironmentVariable savedHome{"HOME"};
};

}  // namespace

TEST_F(AppServiceTest, RegisteringWritesAnAutostartEntryAndUnregisteringRemovesIt) {
    EXPECT_EQ(service.status(), Status::notRegistered);
    service.registerService();
    EXPECT_EQ(service.entryFile(), entry());
    EXPECT_EQ(service.status(), Status::enabled);
    auto contents = ns::FileManager::defaultManager().contents(entry());
    EXPECT_EQ(contents.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(contents.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(contents.find("\nName=Stashbay\n"), std::string::npos);
    EXPECT_NE(contents.find("\nExec="), std::string::npos);

    // Again: the platform refuses, and the entry stays as it was.
    try {
        service.registerService();
        ADD_FAILURE() << "registering twice should fail";
    } catch (const ns::Error& error) {
        EXPECT_EQ(error.domain(), sm::AppService::serviceErrorDomain);
        EXPECT_EQ(error.code(), sm::AppService::alreadyRegisteredCode);
    }
    EXPECT_EQ(service.status(), Status::enabled);
    EXPECT_EQ(ns::FileManager::defaultManager().contents(entry()), contents);
    service.unregisterService();
    EXPECT_FALSE(fs::exists(entry()));
    EXPECT_EQ(service.status(), Status::notRegistered);
    EXPECT_NO_THROW(service.unregisterService()) << "nothing to remove is no failure";
    EXPECT_EQ(service.registerCallCount(), 2u);
    EXPECT_EQ(service.unregisterCallCount(), 2u);
}

TEST(AppServiceEntry, TheExecLineQuotesAndEscapesTheProgramPath) {
    struct Case {
        const char* path;
        const char* execLine;
    } cases[] = {
        {"/usr/bin/stashbay", "Exec=/usr/bin/stashbay\n"},
        {"/opt/My Apps/stashbay", "Exec=\"/opt/My Apps/stashbay\"\n"},
        {"/opt/a$b/stashbay", "Exec=\"/opt/a\\\\$b/stashbay\"\n"},
        {"/opt/back\\slash/s", "Exec=\"/opt/back\\\\\\\\slash/s\"\n"},
        {"/opt/100%/stashbay", "Exec=/opt/100%%/stashbay\n"},
    };
    for (auto& c : cases) {
        auto entry = sm::AppService::desktopEntry(c.path);
        EXPECT_NE(entry.find(c.execLine), std::string::npos) << c.path << "\n" << entry;
    }
}

TEST_F(AppServiceTest, AnEntryTheUserTurnedOffRequiresApprovalAndIsLeftAlone) {
    for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        fs::create_directories(entry().parent_path());
        std::string turnedOff = std::string("[Desktop Entry]\nType=Application\nExec=stashbay\n") + line + "\n";
        ns::FileManager::defaultManager().writeAtomically(entry(), turnedOff);
        EXPECT_EQ(service.status(), Status::requiresApproval) << line;
        try {
            service.registerService();
            ADD_FAILURE() << "only the user turns it on again";
        } catch (const ns::Error& error) {
            EXPECT_EQ(error.code(), sm::AppService::launchDeniedByUserCode);
        }
        EXPECT_EQ(ns::FileManager::defaultManager().contents(entry()), turnedOff);
        service.unregisterService();
        EXPECT_EQ(service.status(), Status::notRegistered);
    }
}

TEST_F(AppServiceTest, FailuresAreThrownAsErrors) {
    sm::AppService::Faults faults;
    faults.registerError = ns::Error("SMAppServiceErrorDomain", 1, "Operation not permitted");
    service.setFaults(faults);
    try {
        service.registerService();
        FAIL() << "registering should have failed";
    } catch (const ns::Error& error) {
        EXPECT_EQ(error.localizedDescription(), "Operation not permitted");
    }
    EXPECT_EQ(service.status(), Status::notRegistered);
    EXPECT_EQ(service.registerCallCount(), 1u);

    faults = {};
    faults.unregisterError = ns::Error("SMAppServiceErrorDomain", 1, "Operation not permitted");
    service.setFaults(faults);
    service.registerService();
    EXPECT_THROW(service.unregisterService(), ns::Error);
    EXPECT_EQ(service.status(), Status::enabled);

    service.setFaults({});
    service.unregisterService();
    ns::FileFaults fileFaults;
    fileFaults.writeFailsAfterBytes = 10;
    ns::FileManager::defaultManager().setFaults(fileFaults);
    EXPECT_THROW(service.registerService(), ns::Error) << "a full disk";
    EXPECT_EQ(service.status(), Status::notRegistered);
}

TEST_F(AppServiceTest, WithoutAConfigurationFolderTheServiceIsNotFound) {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(service.status(), Status::notFound);
    EXPECT_THROW(service.registerService(), ns::Error);

    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    sm::AppService::Faults faults;
    faults.serviceNotFound = true;
    service.setFaults(faults);
    EXPECT_EQ(service.status(), Status::notFound);
    EXPECT_THROW(service.registerService(), ns::Error);
    EXPECT_THROW(service.unregisterService(), ns::Error);
}

TEST_F(AppServiceTest, InMemoryTheRegistrationTouchesNoFile) {
    service.resetInMemory();
    service.registerService();
    EXPECT_EQ(service.status(), Status::enabled);
    EXPECT_THROW(service.registerService(), ns::Error) << "already registered";
    EXPECT_EQ(service.entryFile(), std::nullopt);
    EXPECT_FALSE(fs::exists(configHome));
    service.unregisterService();
    EXPECT_EQ(service.status(), Status::notRegistered);
}
