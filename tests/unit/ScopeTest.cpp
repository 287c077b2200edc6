#include "TestSupport.h"
#include "common/CommandLine.h"
#include "common/Scope.h"

namespace {

using platform::ProcessRights;

TEST(Scope, TheSettingIsOneOfThreeWords) {
    EXPECT_EQ(ScopeSetting::User, ScopeSettingFromText("user"));
    EXPECT_EQ(ScopeSetting::Machine, ScopeSettingFromText("machine\r"));
    EXPECT_EQ(ScopeSetting::Either, ScopeSettingFromText("either  "));
    for (const char* other : {"", "User", "machines", " user", "all", "either user"}) {
        EXPECT_EQ(ScopeSetting::Invalid, ScopeSettingFromText(other)) << other;
    }
}

struct PlanCase {
    ScopeSetting setting;
    ScopeSwitch given;
    ProcessRights rights;
    Scope choice;  // the folder page's, Legacy for none
    bool refused;
    Scope scope;
    bool relaunch;
};

constexpr ProcessRights kLimited = ProcessRights::Limited;
constexpr ProcessRights kCanElevate = ProcessRights::CanElevate;
constexpr ProcessRights kElevated = ProcessRights::Elevated;
constexpr ScopeSwitch kNone = ScopeSwitch::None;
constexpr ScopeSwitch kAll = ScopeSwitch::AllUsers;
constexpr ScopeSwitch kMe = ScopeSwitch::CurrentUser;

const PlanCase kPlanCases[] = {
    // No setting: as before, the prompt for an administrator, none for others.
    {ScopeSetting::Absent, kNone, kLimited, Scope::Legacy, false, Scope::Legacy, false},
    {ScopeSetting::Absent, kNone, kCanElevate, Scope::Legacy, false, Scope::Legacy, true},
    {ScopeSetting::Absent, kNone, kElevated, Scope::Legacy, false, Scope::Legacy, false},
    {ScopeSetting::Invalid, kNone, kCanElevate, Scope::Legacy, false, Scope::Legacy, true},
    {ScopeSetting::Absent, kAll, kElevated, Scope::Legacy, true, Scope::Legacy, false},
    {ScopeSetting::Absent, kMe, kLimited, Scope::Legacy, true, Scope::Legacy, false},
    // user: never asks, for anyone.
    {ScopeSetting::User, kNone, kLimited, Scope::Legacy, false, Scope::User, false},
    {ScopeSetting::User, kNone, kCanElevate, Scope::Legacy, false, Scope::User, false},
    {ScopeSetting::User, kMe, kElevated, Scope::Legacy, false, Scope::User, false},
    {ScopeSetting::User, kAll, kElevated, Scope::Legacy, true, Scope::Legacy, false},
    // machine: asks unless elevated, also a user without rights (for a password).
    {ScopeSetting::Machine, kNone, kLimited, Scope::Legacy, false, Scope::Machine, true},
    {ScopeSetting::Machine, kNone, kCanElevate, Scope::Legacy, false, Scope::Machine, true},
    {ScopeSetting::Machine, kAll, kElevated, Scope::Legacy, false, Scope::Machine, false},
    {ScopeSetting::Machine, kMe, kCanElevate, Scope::Legacy, true, Scope::Legacy, false},
    // either: the switch, else the page, else by the user's rights.
    {ScopeSetting::Either, kNone, kLimited, Scope::Legacy, false, Scope::User, false},
    {ScopeSetting::Either, kNone, kCanElevate, Scope::Legacy, false, Scope::Machine, true},
    {ScopeSetting::Either, kNone, kElevated, Scope::Legacy, false, Scope::Machine, false},
    {ScopeSetting::Either, kNone, kCanElevate, Scope::User, false, Scope::User, false},
    {ScopeSetting::Either, kNone, kLimited, Scope::Machine, false, Scope::Machine, true},
    {ScopeSetting::Either, kMe, kCanElevate, Scope::Machine, false, Scope::User, false},
    {ScopeSetting::Either, kAll, kLimited, Scope::Legacy, false, Scope::Machine, true},
    {ScopeSetting::Either, kAll, kElevated, Scope::User, false, Scope::Machine, false},
};

TEST(Scope, SettingSwitchAndRightsGiveTheScopeAndWhetherToStartAgainElevated) {
    for (const PlanCase& c : kPlanCases) {
        const ScopePlan plan = PlanScope(c.setting, c.given, c.rights, c.choice);
        const std::string where = "setting " + std::to_string(static_cast<int>(c.setting)) + ", switch " +
                                  std::to_string(static_cast<int>(c.given)) + ", rights " +
                                  std::to_string(static_cast<int>(c.rights)) + ", choice " +
                                  std::to_string(static_cast<int>(c.choice));
        EXPECT_EQ(c.refused, plan.refused) << where;
        if (c.refused) continue;
        EXPECT_EQ(c.scope, plan.scope) << where;
        EXPECT_EQ(c.relaunch, plan.relaunch) << where;
    }
}

TEST(Scope, TheSwitchesAndTheMarkerOfAnElevatedRun) {
    EXPECT_EQ(ScopeSwitch::AllUsers, ParseCommandLine("/S /allusers").scope);
    EXPECT_EQ(ScopeSwitch::CurrentUser, ParseCommandLine("/ALLUSERS /CurrentUser /S").scope);
    EXPECT_EQ(ScopeSwitch::None, ParseCommandLine("/S /D=C:\\A /ALLUSERS").scope);  // part of the folder
    EXPECT_EQ("/ALLUSERSX", ParseCommandLine("/ALLUSERSX").unknown);

    const CommandLine child = ParseCommandLine("/KXELEVATED /S /LOG=a.log /D=C:\\App");
    EXPECT_TRUE(child.elevatedRun);
    EXPECT_FALSE(child.elevatedForAllUsers);
    EXPECT_TRUE(child.silent);
    EXPECT_EQ("C:\\App", child.folder);
    EXPECT_EQ("", child.unknown);
    const CommandLine fromPage = ParseCommandLine("/KXELEVATED=ALLUSERS /D=C:\\App");
    EXPECT_TRUE(fromPage.elevatedRun && fromPage.elevatedForAllUsers);
    EXPECT_EQ("/KXELEVATED=X", ParseCommandLine("/KXELEVATED=X").unknown);

    const std::string help = SwitchesText();
    EXPECT_NE(std::string::npos, help.find("/ALLUSERS\t"));
    EXPECT_NE(std::string::npos, help.find("/CURRENTUSER\t"));
    EXPECT_EQ(std::string::npos, help.find("KXELEVATED"));
}

}  // namespace
