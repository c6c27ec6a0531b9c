#include "AppStateTypes.h"

QString toText(MachineStatusState state) {
    switch (state) {
    case MachineStatusState::protected_:
        return QStringLiteral("protected");
    case MachineStatusState::setupMode:
        return QStringLiteral("setupMode");
    case MachineStatusState::offline:
        return QStringLiteral("offline");
    case MachineStatusState::tamperAlert:
        return QStringLiteral("tamperAlert");
    }
    return {};
}

std::optional<MachineStatusState> machineStatusFromText(const QString &text) {
    for (MachineStatusState state :
         {MachineStatusState::protected_, MachineStatusState::setupMode,
          MachineStatusState::offline, MachineStatusState::tamperAlert}) {
        if (text == toText(state))
            return state;
    }
    return std::nullopt;
}

QString statusLabel(MachineStatusState state) {
    switch (state) {
    case MachineStatusState::protected_:
        return QStringLiteral("Protected");
    case MachineStatusState::setupMode:
        return QStringLiteral("Setup incomplete");
    case MachineStatusState::offline:
        return QStringLiteral("Offline \u2014 using cache");
    case MachineStatusState::tamperAlert:
        return QStringLiteral("Alert \u2014 check dashboard");
    }
    return {};
}

StatusTone statusTone(MachineStatusState state) {
    switch (state) {
    case MachineStatusState::protected_:
        return StatusTone::ok;
    case MachineStatusState::setupMode:
        return StatusTone::attention;
    case MachineStatusState::offline:
        return StatusTone::neutral;
    case MachineStatusState::tamperAlert:
        return StatusTone::alert;
    }
    return StatusTone::neutral;
}

int ordinal(SetupStep step) {
    return static_cast<int>(step);
}

QString toText(SetupStep step) {
    switch (step) {
    case SetupStep::welcome:
        return QStringLiteral("welcome");
    case SetupStep::connectGitHub:
        return QStringLiteral("connectGitHub");
    case SetupStep::setupRepo:
        return QStringLiteral("setupRepo");
    case SetupStep::applyingProtections:
        return QStringLiteral("applyingProtections");
    case SetupStep::approveExtension:
        return QStringLiteral("approveExtension");
    case SetupStep::complete:
        return QStringLiteral("complete");
    }
    return {};
}

QString displayName(SetupStep step) {
    switch (step) {
    case SetupStep::welcome:
        return QStringLiteral("Welcome");
    case SetupStep::connectGitHub:
        return QStringLiteral("GitHub");
    case SetupStep::setupRepo:
        return QStringLiteral("Repository");
    case SetupStep::applyingProtections:
        return QStringLiteral("Protections");
    case SetupStep::approveExtension:
        return QStringLiteral("Extension");
    case SetupStep::complete:
        return QStringLiteral("Complete");
    }
    return {};
}

QString iconName(SetupStep step) {
    switch (step) {
    case SetupStep::welcome:
        return QStringLiteral("hand.wave");
    case SetupStep::connectGitHub:
        return QStringLiteral("link");
    case SetupStep::setupRepo:
        return QStringLiteral("externaldrive");
    case SetupStep::applyingProtections:
        return QStringLiteral("shield");
    case SetupStep::approveExtension:
        return QStringLiteral("puzzlepiece.extension");
    case SetupStep::complete:
        return QStringLiteral("checkmark.seal");
    }
    return {};
}

QList<SetupStep> allSetupSteps() {
    return {SetupStep::welcome,          SetupStep::connectGitHub,
            SetupStep::setupRepo,        SetupStep::applyingProtections,
            SetupStep::approveExtension, SetupStep::complete};
}

QString toText(SetupRole role) {
    switch (role) {
    case SetupRole::forMyself:
        return QStringLiteral("forMyself");
    case SetupRole::forSomeoneElse:
        return QStringLiteral("forSomeoneElse");
    }
    return {};
}

std::optional<SetupRole> setupRoleFromText(const QString &text) {
    if (text == QLatin1String("forMyself"))
        return SetupRole::forMyself;
    if (text == QLatin1String("forSomeoneElse"))
        return SetupRole::forSomeoneElse;
    return std::nullopt;
}
