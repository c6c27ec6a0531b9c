#pragma once

#include <QList>
#include <QString>

#include <optional>

enum class MachineStatusState {
    protected_, // "protected" is a C++ keyword; its text form is still "protected"
    setupMode,
    offline,
    tamperAlert,
};

QString toText(MachineStatusState state);
std::optional<MachineStatusState> machineStatusFromText(const QString &text);
QString statusLabel(MachineStatusState state);
// The status's colour as a role; the UI's style maps roles to colours.
enum class StatusTone { ok, attention, neutral, alert };
StatusTone statusTone(MachineStatusState state);

// The wizard's steps in order; compare by ordinal.
enum class SetupStep {
    welcome = 0,
    connectGitHub = 1,
    setupRepo = 2,
    applyingProtections = 3,
    approveExtension = 4,
    complete = 5,
};

int ordinal(SetupStep step);
QString toText(SetupStep step);      // "welcome", "connectGitHub", ...
QString displayName(SetupStep step); // "Welcome", "GitHub", ...
QString iconName(SetupStep step);    // "hand.wave", "link", ...
QList<SetupStep> allSetupSteps();

enum class SetupRole { forMyself, forSomeoneElse };

QString toText(SetupRole role);
std::optional<SetupRole> setupRoleFromText(const QString &text);
